#include "MainContextPoll.h"

#include <glib.h>

#include <algorithm>

namespace connectd {

MainContextPoll::MainContextPoll() : context_(g_main_context_new())
{
    // Pushing also acquires the context for this thread, which prepare and check need.
    g_main_context_push_thread_default(context_);
}

MainContextPoll::~MainContextPoll()
{
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
}

size_t MainContextPoll::Prepare(std::vector<pollfd>& fds, service::Millis now, service::Millis& due)
{
    if (g_main_context_prepare(context_, &priority_))
        due = std::min(due, now);
    gint timeout = -1;
    polled_.resize(std::max<size_t>(polled_.size(), 8));
    gint needed = 0;
    while ((needed = g_main_context_query(context_, priority_, &timeout, polled_.data(),
                                          static_cast<gint>(polled_.size()))) > static_cast<gint>(polled_.size()))
        polled_.resize(static_cast<size_t>(needed));
    polled_.resize(static_cast<size_t>(needed));
    if (timeout >= 0)
        due = std::min(due, now + service::Millis(timeout));
    for (const GPollFD& polled : polled_)
        fds.push_back({polled.fd, static_cast<short>(polled.events), 0});
    prepared_ = true;
    return polled_.size();
}

void MainContextPoll::Dispatch(std::span<const pollfd> fds)
{
    if (!prepared_) {
        while (g_main_context_iteration(context_, FALSE)) {
        }
        return;
    }
    prepared_ = false;
    // What the loop did not wait on counts as not ready; the timeouts are checked all the same.
    for (size_t i = 0; i < polled_.size(); ++i)
        polled_[i].revents = i < fds.size() && fds[i].fd == polled_[i].fd ? static_cast<gushort>(fds[i].revents) : 0;
    if (g_main_context_check(context_, priority_, polled_.data(), static_cast<gint>(polled_.size())))
        g_main_context_dispatch(context_);
}

} // namespace connectd
