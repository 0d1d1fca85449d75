#include "platform/Suspend.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <sys/time.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

volatile sig_atomic_t alarms = 0;

void CountAlarm(int) { alarms = alarms + 1; }

std::chrono::nanoseconds Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

TEST(Suspend, AHookReplacesTheSleepAndAnEmptyOneRestoresIt)
{
    std::vector<std::chrono::milliseconds> asked;
    platform::SuspendHook previous = platform::SetSuspendHook([&](std::chrono::milliseconds ms) { asked.push_back(ms); });
    EXPECT_FALSE(previous);
    platform::Suspend(1100ms);
    platform::Suspend(0ms);
    EXPECT_EQ(asked, (std::vector<std::chrono::milliseconds>{1100ms, 0ms}));

    // The hook handed back is the one that was installed: put back, it hears the next call.
    platform::SuspendHook mine = platform::SetSuspendHook({});
    platform::Suspend(1ms);
    EXPECT_EQ(asked.size(), 2u) << "the real sleep runs again";
    platform::SetSuspendHook(mine);
    platform::Suspend(5ms);
    EXPECT_EQ(asked, (std::vector<std::chrono::milliseconds>{1100ms, 0ms, 5ms}));
    platform::SetSuspendHook({});
}

TEST(Suspend, ASignalDoesNotCutTheSleepShort)
{
    struct sigaction action {};
    action.sa_handler = CountAlarm;  // no SA_RESTART: nanosleep returns EINTR
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 5'000;
    timer.it_interval.tv_usec = 5'000;
    setitimer(ITIMER_REAL, &timer, nullptr);

    auto start = Now();
    platform::Suspend(60ms);
    auto slept = Now() - start;

    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GT(alarms, 0) << "the sleep was interrupted";
    EXPECT_GE(slept, 60ms);  // a lower bound only: the whole time passed despite the signals
}

} // namespace
