#pragma once
// The program's entry function: start-up, event loop, shutdown. Returns the event loop's exit code.
int runPlaybackEditTool(int argc, char* argv[]);
