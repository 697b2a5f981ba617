#pragma once
// Crash dumps: a fatal signal (segmentation fault, bus error, illegal instruction, arithmetic error,
// abort, trap, bad system call) writes a text dump at the path given at installation: the signal,
// the fault address, the registers, the backtrace and the memory map. Then the process ends with the
// signal's default action.
//
// Once installed, the handler cannot be replaced: later sigaction() and signal() calls for those
// signals, by any library of the process, are ignored and report no previous handler.

// Installs the handler for this run; `dumpPath` is UTF-8. Only the first call has an effect.
// False when the path is empty or too long, or the handler could not be installed.
bool installCrashHandler(const char* dumpPath);

// The stored dump path; empty before installation.
const char* crashDumpPath();
