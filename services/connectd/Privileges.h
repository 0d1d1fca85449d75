#pragma once
// wlan-connectd may be granted CAP_NET_ADMIN (file capabilities) for the one nl80211 call that
// needs it, the transmit rates. Such a program is started by a user with the user's own
// environment and arguments, so it trusts them less (no control folder but the system's, no
// supplicant but root's), and it holds the capability in its effective set only around that
// call. Capabilities are per thread: drop them before starting any thread.

#include <utility>

namespace connectd {

// The kernel says the program runs with more privilege than its user has (AT_SECURE).
bool RunsRaised();

// Keeps CAP_NET_ADMIN permitted but not effective in the calling thread, and in the threads it
// starts afterwards.
void DropEffectiveCapabilities();

// Raises CAP_NET_ADMIN in the calling thread while it lives, when it is permitted at all.
class NetAdminScope {
public:
    NetAdminScope();
    ~NetAdminScope();
    NetAdminScope(const NetAdminScope&) = delete;
    NetAdminScope& operator=(const NetAdminScope&) = delete;

private:
    bool raised_ = false;
};

template <typename Call>
auto WithNetAdmin(Call&& call)
{
    const NetAdminScope scope;
    return std::forward<Call>(call)();
}

} // namespace connectd
