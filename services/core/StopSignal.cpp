#include "StopSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <initializer_list>

namespace service {

namespace {
volatile std::sig_atomic_t stopRequested = 0;
int stopFd = -1;

extern "C" void OnStopSignal(int)
{
    stopRequested = 1;
    const uint64_t one = 1;
    if (stopFd >= 0) {
        // An eventfd write is async-signal-safe; a full counter only means it is readable already.
        [[maybe_unused]] const ssize_t written = write(stopFd, &one, sizeof one);
    }
}
} // namespace

void StopSignal::Install()
{
    if (stopFd < 0)
        stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopSignal::Requested() { return stopRequested != 0; }

int StopSignal::Fd() { return stopFd; }

} // namespace service
