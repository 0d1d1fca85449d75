#pragma once
// A real wireless card that NetworkManager drives, as desktops have it. The service asks
// NetworkManager (over D-Bus, through libnm) to keep one connection profile of its own for the
// interface and the user, written from the utility's settings and activated at start, on each
// Apply and when the card comes back; it never changes another profile and never activates
// anything on its own otherwise, so a network the person picks in the desktop's menu stays
// picked. The card is in while NetworkManager runs and can use the interface.
//
// What NetworkManager's D-Bus interface does not tell (signal in dBm, noise, the channels of
// the regulatory domain) is read from nl80211, which needs no privilege; the link shown is the
// one the kernel has, whoever chose it. libnm's main context is stepped by the serve loop's
// poll(): no thread of the service's own.

#include "BackendChoice.h"
#include "GObjectRef.h"
#include "Log.h"
#include "MainContextPoll.h"
#include "Nl80211.h"
#include "NmProfile.h"
#include "PolledCard.h"
#include "SupplicantCard.h"

#include <optional>
#include <string>

typedef struct _NMClient NMClient;
typedef struct _NMDevice NMDevice;
typedef struct _NMActiveConnection NMActiveConnection;
typedef struct _GCancellable GCancellable;

namespace connectd {

class NetworkManagerCard final : public PolledCard {
public:
    // Connects to the system bus and reads NetworkManager's state once, before returning.
    NetworkManagerCard(CardOptions options, StationConfig config, WepSettings wep, Log& log);
    ~NetworkManagerCard() override;
    NetworkManagerCard(const NetworkManagerCard&) = delete;
    NetworkManagerCard& operator=(const NetworkManagerCard&) = delete;

    // What the backend choice needs: is NetworkManager there, and does it manage the interface.
    NmPresence Presence() const;

    Card CardState() const override { return card_; }
    LinkInfo Link() override;
    uint16_t ChannelMask() const override { return mask_; }
    const StationConfig& Config() const override { return config_; }
    const WepSettings& Wep() const override { return wep_; }
    bool TakeConfig(const StationConfig& config, Millis now) override;
    bool TakeWep(const WepSettings& wep, Millis now) override;
    std::vector<pollfd> WaitFds(Millis now, Millis& due) override;
    void Step(std::span<const pollfd> fds, Millis now) override;
    // Leaves the profile and the link to NetworkManager (see the README): only the requests
    // still under way are cancelled.
    void Stop() override;

    // How often the system bus is tried again while there is none, and how often the channel
    // list is read again while the card is in (the country can change under it).
    static constexpr Millis kClientRetry{5000};
    static constexpr Millis kLookPeriod{2000};
    // How long a stop waits for cancelled requests and for libnm to let go of the context.
    static constexpr std::chrono::milliseconds kStopLimit{1500};
    // How long an Apply waits for the rest of it: the utility sends the network and the WEP
    // settings as two commands, which become one activation.
    static constexpr Millis kSettle{300};
    // How often an activation that failed on its own is asked again, per Apply.
    static constexpr int kRetries = 1;
    // How long after a failed activation the device is looked at for another network brought
    // up meanwhile (NetworkManager takes the old one down before it starts the new one).
    static constexpr Millis kRetryGrace{3000};

private:
    friend struct NmCallbacks;

    void OpenClient(Millis now);
    bool BusLost(Millis now);
    NMDevice* UsableDevice(std::string& reason) const;
    void Evaluate(Millis now);
    void ComeIn(Millis now);
    bool ApplyDue(Millis now) const;
    void GoOut(const std::string& reason);
    void StartApply(NMDevice* device);
    std::string StrongestHeardName(NMDevice* device) const;
    bool OursActive(NMDevice* device) const;
    void Activate(void* remote);
    void Deactivate(NMActiveConnection* active);
    void WatchActivation(Millis now);
    void RetryIfNobodyElse(NMDevice* device, Millis now);
    void SayDown();
    void SayRatesOnce();
    void Refused(const std::string& action, const std::string& what, const std::string& message, bool permission);
    void MeasureLink();
    void RefreshMask();
    void Shutdown();

    CardOptions options_;
    StationConfig config_;
    WepSettings wep_;
    Log& log_;
    MainContextPoll main_;   // before the client: made the thread's default first
    GObjectRef<NMClient> client_;
    GObjectRef<GCancellable> cancellable_;
    std::optional<Nl80211> nl80211_;
    ProfileOwner owner_;
    std::string clientError_;
    std::string nlError_;
    Card card_ = Card::Out;
    std::string outReason_;
    bool outSaid_ = false;
    LinkInfo link_;
    bool linkWanted_ = false;
    uint16_t mask_ = 0;
    Millis nextClient_{0};
    Millis nextLook_{0};
    int inFlight_ = 0;               // libnm requests whose callback has not run yet
    std::optional<Millis> applyAt_;   // the settings are to be written and activated then
    bool refused_ = false;
    bool ratesSaid_ = false;
    std::optional<long long> waitedScan_;   // an empty name waits for a scan newer than this
    GObjectRef<NMActiveConnection> watched_;
    int watchedState_ = -1;
    bool watchedReached_ = false;    // the watched activation came up once
    int retries_ = kRetries;
    std::optional<Millis> retryCheckAt_;
    std::string downReason_;
    bool shutDown_ = false;
};

} // namespace connectd
