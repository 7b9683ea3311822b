// SIGINT and SIGTERM ask the program to stop, the way the user would: the window
// closes, the command-line tool ends its run; both keep what was stored, close the
// database in order and clean up.
//
// The database client library installs handlers of its own for both signals at its
// first use (to shut the engine down, leaving the program running without its
// database). The programs let it do so first (SetUpClientLibrary) and install ours
// after; RenewStopSignals, after every connect, puts ours back in any other case.
#pragma once

#include <csignal>

// The last stop signal received (SIGINT or SIGTERM); 0 while none came.
extern volatile sig_atomic_t StopSignal;

// Installs the handlers. A signal sets StopSignal and writes one byte to the pipe
// whose read end is StopSignalFd(), for an event loop to notice. The first signal
// asks to stop; the handler then reverts to the default, so a second one ends the
// program at once, whatever it is doing.
void InstallStopSignals();

// Installs the handlers again, over the database engine's, when InstallStopSignals has
// been called in this process and no stop signal has come yet. Call after connecting.
void RenewStopSignals();

// The read end of the signal pipe (non-blocking); -1 before InstallStopSignals.
int StopSignalFd();

// Empties the signal pipe; for the event loop that watches it.
void DrainStopSignalFd();
