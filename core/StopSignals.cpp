#include "core/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

volatile sig_atomic_t StopSignal = 0;

namespace {

int pipeRead = -1;
int pipeWrite = -1;
bool installed = false;

void OnStopSignal(int signalNumber) {
    const int savedErrno = errno;
    StopSignal = signalNumber;
    if (pipeWrite >= 0) {
        const char byte = static_cast<char>(signalNumber);
        // A full pipe already tells the event loop; nothing more to say.
        [[maybe_unused]] const ssize_t n = ::write(pipeWrite, &byte, 1);
    }
    errno = savedErrno;
}

void SetHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

void InstallStopSignals() {
    if (pipeRead < 0) {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            pipeRead = fds[0];
            pipeWrite = fds[1];
        }
    }
    installed = true;
    SetHandlers();
}

void RenewStopSignals() {
    // After a first signal the default action stays, so that a second one still ends
    // the program.
    if (installed && StopSignal == 0) SetHandlers();
}

int StopSignalFd() {
    return pipeRead;
}

void DrainStopSignalFd() {
    char buffer[64];
    while (pipeRead >= 0 && ::read(pipeRead, buffer, sizeof buffer) > 0) {
    }
}
