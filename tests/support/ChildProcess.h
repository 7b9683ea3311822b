// A program started by a test, in a process group of its own, with standard output
// and error in one file. Killed (with every process it started) when the object goes.
// It inherits the test's environment, but for the "NAME=VALUE" entries given, which
// replace or add to it (a TMPDIR inside the test's folder, so that what a killed
// program leaves behind goes with that folder).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class TChildProcess {
public:
    TChildProcess(const std::string& program, std::vector<std::string> args,
                  const std::string& outputFile, const std::vector<std::string>& environment = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // True once the program has ended; Status and PeakMemoryKb are then set.
    bool Ended();
    // Waits, bounded, for the program to end by itself.
    bool Wait(std::chrono::milliseconds bound);
    // Sends a signal to the program alone.
    void Signal(int number);
    // SIGKILL to the program and everything it started; waits for it.
    void Kill();

    int Status = -1;        // exit status, or 128 + the signal that ended it
    long PeakMemoryKb = 0;  // the program's peak resident memory

private:
    void Reap(int status, long maxRssKb);
    pid_t pid_ = -1;
};
