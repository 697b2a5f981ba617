#pragma once
// Diagnostics of one run: per-run log files in the application data directory, the media engine's
// log routed to the same entry point, and the crash handler with the dump path of the run.

// Called once at start-up, right after the application object exists.
void initLog();
