#pragma once
// The supplicant-backed card as the serve loop drives it. The supplicant answers when it
// will (a stopped one never does, and each request may wait its limit), so the SupplicantCard
// that talks to it runs on a thread of its own. The loop's side takes commands and answers
// from what that thread published last, and never waits for the supplicant: the block is read
// and every command acknowledged at once whatever the supplicant does. Settings taken while
// the supplicant is stalled are applied when it answers again, the newest of each kind.

#include "BlockService.h"
#include "PolledCard.h"
#include "SupplicantCard.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

namespace connectd {

class SupplicantWorker final : public PolledCard {
public:
    // Makes the first attempt to reach the supplicant before the thread starts, so a service
    // whose supplicant is ready shows the card in from its first answer.
    SupplicantWorker(CardOptions options, StationConfig config, WepSettings wep, Log& log);
    ~SupplicantWorker() override;
    SupplicantWorker(const SupplicantWorker&) = delete;
    SupplicantWorker& operator=(const SupplicantWorker&) = delete;

    Card CardState() const override;
    LinkInfo Link() override;
    uint16_t ChannelMask() const override;
    const StationConfig& Config() const override { return config_; }
    const WepSettings& Wep() const override { return wep_; }
    bool TakeConfig(const StationConfig& config, Millis now) override;
    bool TakeWep(const WepSettings& wep, Millis now) override;
    std::vector<pollfd> WaitFds(Millis now, Millis& due) override;
    void Step(std::span<const pollfd> fds, Millis now) override;
    void Stop() override;

    // The link is measured as often as the block shows it, and for this long after the block
    // last asked.
    static constexpr Millis kLinkWanted{1000};

private:
    using Clock = std::chrono::steady_clock;
    struct Shared {
        std::optional<StationConfig> config;
        std::optional<WepSettings> wep;
        bool stop = false;
        Clock::time_point linkAsked{};
        Card card = Card::Out;
        LinkInfo link;
        uint16_t mask = 0;
    };

    void Run();
    void Publish();
    Millis Elapsed() const;
    static void Signal(int fd);
    static void Drain(int fd);

    StationConfig config_;          // the loop's: the settings taken last
    WepSettings wep_;
    SupplicantCard card_;           // the thread's alone once it runs
    mutable std::mutex mutex_;
    Shared shared_;
    int wakeFd_ = -1;               // the loop wakes the thread
    int changedFd_ = -1;            // the thread wakes the loop: the card went in or out
    Clock::time_point start_ = Clock::now();
    std::thread thread_;
};

} // namespace connectd
