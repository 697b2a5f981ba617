#pragma once
// Diagnostics of one run: per-run log files in the application data directory and the crash handler
// with the dump path of the run. The media engine's log is routed to the same entry point by the
// application (this library knows nothing of the engine).

// Called once at start-up, right after the application object exists.
void initLog();
