#include "DisplayProbe.h"

// Xlib is kept out of every other file: its macros (None, Status, ...) clash with ordinary names.
#include <X11/Xlib.h>

int desktopVerticalResolution() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return 0;
    }
    const int height = DisplayHeight(display, DefaultScreen(display));
    XCloseDisplay(display);
    return height;
}
