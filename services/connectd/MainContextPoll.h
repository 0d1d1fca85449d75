#pragma once
// A GLib main context of the service's own, run by the service's one poll() instead of by a
// GLib main loop or a second thread. libnm delivers everything (D-Bus replies, NetworkManager's
// signals, its timers) through the context that was the thread's default when the client was
// made; this one is made the thread's default for its whole life, so every libnm call's
// answer comes back here, and is dispatched when the serve loop steps the card.
//
// The four steps GLib's own loop takes, split at the loop's wait: Prepare (prepare and query:
// the descriptors and the timeout) before the poll(), Dispatch (check and dispatch) after it.

#include "CardTypes.h"

#include <poll.h>

#include <span>
#include <vector>

typedef struct _GMainContext GMainContext;
typedef struct _GPollFD GPollFD;

namespace connectd {

class MainContextPoll {
public:
    MainContextPoll();
    ~MainContextPoll();
    MainContextPoll(const MainContextPoll&) = delete;
    MainContextPoll& operator=(const MainContextPoll&) = delete;

    GMainContext* Context() const { return context_; }

    // Appends the context's descriptors to `fds` and lowers `due` to its next timeout (to
    // `now` when a source is ready already). Answers how many it appended.
    size_t Prepare(std::vector<pollfd>& fds, service::Millis now, service::Millis& due);
    // After the wait: `fds` are the descriptors Prepare appended, in its order, with their
    // revents. Runs every source that is ready. Without a Prepare before it, runs what is
    // ready without waiting.
    void Dispatch(std::span<const pollfd> fds);

private:
    GMainContext* context_;
    std::vector<GPollFD> polled_;
    int priority_ = 0;
    bool prepared_ = false;
};

} // namespace connectd
