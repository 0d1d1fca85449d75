#include "StopSignal.h"

#include <csignal>

namespace service {

namespace {
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnStopSignal(int) { stopRequested = 1; }
} // namespace

void StopSignal::Install()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopSignal::Requested() { return stopRequested != 0; }

} // namespace service
