#pragma once
// Vertical resolution of the default screen, read before the application object exists;
// 0 when no display can be opened.
int desktopVerticalResolution();
