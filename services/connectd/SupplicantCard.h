#pragma once
// A real wireless card, driven through the wpa_supplicant that runs on its interface. The
// service owns one network in the supplicant, rebuilt from the utility's settings on every
// change (a key cannot be cleared there). The card is in while the interface exists and the
// supplicant answers on its control socket; it goes out when either goes away, and comes back
// in, with the settings applied again, when both are there once more.
//
// What the card learns comes from the supplicant's attached events and from rtnetlink; the
// one timed look is a STATUS every second, since a supplicant killed outright sends no event
// and one whose interface the kernel disabled says so only there. The link is measured when
// the block shows it.

#include "Log.h"
#include "Nl80211.h"
#include "LinkWatch.h"
#include "RegulatoryDomain.h"
#include "ServiceCard.h"
#include "SupplicantText.h"
#include "WpaControl.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace connectd {

using namespace service;

struct CardOptions {
    std::string interface;
    std::filesystem::path ctrlDir = "/run/wpa_supplicant";
    // The country set at start, and the channels reported when the supplicant lists none.
    std::optional<RegulatoryDomain> domain;
    // Whose supplicant is believed: the control folder's owner, or (raised privileges) root's.
    WpaControl::Owner owner = WpaControl::Owner::Folder;

    // The channels reported when the card lists none: the domain's, channels 1-11 without one.
    uint16_t FallbackMask() const
    {
        return domain ? domain->ChannelMask() : RegulatoryDomain::FromName("fcc")->ChannelMask();
    }
};

class SupplicantCard final : public ServiceCard {
public:
    SupplicantCard(CardOptions options, StationConfig config, WepSettings wep, Log& log);

    Card CardState() const override { return card_; }
    LinkInfo Link() override;
    // The link as measured last, or as the last change left it; asks the supplicant nothing.
    const LinkInfo& LastLink() const { return link_; }
    uint16_t ChannelMask() const override { return mask_; }
    const StationConfig& Config() const override { return config_; }
    const WepSettings& Wep() const override { return wep_; }
    bool TakeConfig(const StationConfig& config, Millis now) override;
    bool TakeWep(const WepSettings& wep, Millis now) override;

    // The descriptors worth waking for: the supplicant's events and the link watch.
    std::vector<int> WaitFds() const;
    // Does what is due now: events, the interface's comings and goings, a retry each second
    // while the card is out, the look each second while it is in.
    void Step(Millis now);
    // When Step next has something to do without an event: the retry or the look.
    Millis NextDue() const { return card_ == Card::Out ? nextAttempt_ : nextLook_; }
    // The service stops: our network goes, keys and all, and the networks our selection
    // disabled are enabled again, so the supplicant goes on as it would without us.
    void Leave();

    static constexpr Millis kRetryPeriod{1000};
    static constexpr Millis kLookPeriod{1000};
    static constexpr std::chrono::milliseconds kReplyLimit{1500};
    // The identity our network carries in the supplicant, so a restarted service finds it:
    // one per user, so one user's service never removes another's network.
    static std::string NetworkTag();

private:
    bool InterfacePresent() const;
    std::optional<std::string> Request(std::string_view command);
    bool RequestOk(std::string_view command);
    void TryIn(Millis now);
    void GoOut(const std::string& reason);
    void ReadEvents();
    void RemoveOurNetworks();
    void ApplySettings();
    void ApplyRates();
    void RefreshLink();
    void RefreshMask();
    void NoteEnabledNetworks();

    CardOptions options_;
    StationConfig config_;
    WepSettings wep_;
    Log& log_;
    std::optional<WpaControl> requests_;
    std::optional<WpaControl> events_;
    std::optional<Nl80211> nl80211_;
    std::optional<LinkWatch> watch_;
    Card card_ = Card::Out;
    LinkInfo link_;
    std::optional<SupplicantStatus> lastStatus_;   // until the next event or look
    uint16_t mask_ = 0;
    int networkId_ = -1;
    std::vector<int> othersEnabled_;   // what our first selection disabled, to enable on leaving
    bool othersNoted_ = false;
    bool refused_ = false;             // the settings cannot be given to the supplicant
    bool ratesWarned_ = false;
    bool wirelessNoted_ = false;
    std::string outReason_;
    bool outSaid_ = false;             // an outage is said once
    Millis nextAttempt_{0};
    Millis nextLook_{0};
};

} // namespace connectd
