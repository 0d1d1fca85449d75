#include "SupplicantWorker.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace connectd {

SupplicantWorker::SupplicantWorker(CardOptions options, StationConfig config, WepSettings wep, Log& log)
    : config_(config), wep_(wep), card_(std::move(options), std::move(config), wep, log),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), changedFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    card_.Step(Elapsed());
    Publish();
    thread_ = std::thread([this] { Run(); });
}

SupplicantWorker::~SupplicantWorker()
{
    Stop();
    close(wakeFd_);
    close(changedFd_);
}

Millis SupplicantWorker::Elapsed() const
{
    return std::chrono::duration_cast<Millis>(Clock::now() - start_);
}

void SupplicantWorker::Signal(int fd)
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd, &one, sizeof one);
}

void SupplicantWorker::Drain(int fd)
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
}

Card SupplicantWorker::CardState() const
{
    const std::lock_guard hold(mutex_);
    return shared_.card;
}

uint16_t SupplicantWorker::ChannelMask() const
{
    const std::lock_guard hold(mutex_);
    return shared_.mask;
}

LinkInfo SupplicantWorker::Link()
{
    const std::lock_guard hold(mutex_);
    const auto now = Clock::now();
    // A request after a pause: measure at once rather than at the thread's next look.
    if (now - shared_.linkAsked >= kLinkWanted)
        Signal(wakeFd_);
    shared_.linkAsked = now;
    return shared_.link;
}

bool SupplicantWorker::TakeConfig(const StationConfig& config, Millis)
{
    const bool changed = config != config_;
    config_ = config;
    const std::lock_guard hold(mutex_);
    shared_.config = config;
    Signal(wakeFd_);
    return changed;
}

bool SupplicantWorker::TakeWep(const WepSettings& wep, Millis)
{
    const bool changed = wep != wep_;
    wep_ = wep;
    const std::lock_guard hold(mutex_);
    shared_.wep = wep;
    Signal(wakeFd_);
    return changed;
}

std::vector<pollfd> SupplicantWorker::WaitFds(Millis, Millis&)
{
    return {{changedFd_, POLLIN, 0}};
}

void SupplicantWorker::Step(std::span<const pollfd> fds, Millis)
{
    if (!fds.empty() && (fds[0].revents & POLLIN) != 0)
        Drain(changedFd_);
}

void SupplicantWorker::Stop()
{
    {
        const std::lock_guard hold(mutex_);
        shared_.stop = true;
    }
    Signal(wakeFd_);
    if (thread_.joinable())
        thread_.join();
}

void SupplicantWorker::Publish()
{
    const std::lock_guard hold(mutex_);
    const bool changed = shared_.card != card_.CardState() || shared_.mask != card_.ChannelMask();
    shared_.card = card_.CardState();
    shared_.mask = card_.ChannelMask();
    shared_.link = card_.LastLink();
    if (changed)
        Signal(changedFd_);
}

void SupplicantWorker::Run()
{
    Millis nextMeasure{0};
    for (;;) {
        std::optional<StationConfig> config;
        std::optional<WepSettings> wep;
        bool linkWanted = false;
        {
            const std::lock_guard hold(mutex_);
            if (shared_.stop)
                break;
            config = std::exchange(shared_.config, std::nullopt);
            wep = std::exchange(shared_.wep, std::nullopt);
            linkWanted = Clock::now() - shared_.linkAsked < kLinkWanted;
        }
        Millis now = Elapsed();
        if (config)
            card_.TakeConfig(*config, now);
        if (wep)
            card_.TakeWep(*wep, now);
        card_.Step(now);
        const bool measure = linkWanted && now >= nextMeasure;
        if (measure) {
            card_.Link();
            nextMeasure = Elapsed() + BlockService::kLinkRefresh;
        }
        Publish();

        std::vector<pollfd> fds;
        for (const int fd : card_.WaitFds())
            fds.push_back({fd, POLLIN, 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        now = Elapsed();
        Millis due = card_.NextDue();
        if (linkWanted)
            due = std::min(due, nextMeasure);
        poll(fds.data(), fds.size(), static_cast<int>(std::max(Millis(0), due - now).count()));
        if ((fds.back().revents & POLLIN) != 0)
            Drain(wakeFd_);
    }
    card_.Leave();
}

} // namespace connectd
