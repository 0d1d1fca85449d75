#include "pages/nPConfig.h"

#include "app/nApp.h"
#include "framework/DataExchange.h"
#include "framework/WaitCursor.h"
#include "link/ConnectChannel.h"
#include "platform/Suspend.h"
#include "ui/Templates.h"

#include <chrono>
#include <string>

namespace {

constexpr uintptr_t kPollTimer = 1;
constexpr uint32_t kPollPeriodMs = 500;
// The connection service takes a command within this time; nothing is posted meanwhile.
constexpr std::chrono::milliseconds kServiceTakesCommand{1100};

// List indexes of the Network Type, Tx Rate and PS Mode lists.
constexpr int kPeerToPeer = 0;
constexpr int kAccessPoint = 1;
constexpr int kTxRate11 = 4;
constexpr int kTxRateAutomatic = 5;
constexpr int kPsDisabled = 0;
constexpr int kPsEnabled = 1;

// Network type codes; 3 has an index of its own although the list shows two entries.
constexpr uint32_t kNetworkPeerToPeer = 0;
constexpr uint32_t kNetworkAccessPoint = 1;
constexpr uint32_t kNetworkType3 = 3;
constexpr int kNetworkType3Index = 2;

// Transmit-rate codes are sets of rates, one bit each (1, 2, 5.5, 11 Mbps).
constexpr uint32_t kRate11 = 8;
constexpr uint32_t kRateAutomatic = 15;

// Power-save codes.
constexpr uint32_t kPsModeDisabled = 1;
constexpr uint32_t kPsModeEnabled = 2;

std::u16string ChannelText(int channel)
{
    const std::string digits = std::to_string(channel);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace

FW_IMPLEMENT_DYNCREATE(nPConfig, fw::PropertyPage)

FW_BEGIN_MESSAGE_MAP(nPConfig, fw::PropertyPage)
    FW_ON_BN_CLICKED(1009, &nPConfig::ApplyConfig)
    FW_ON_CBN_SELCHANGE(1002, &nPConfig::OnNetworkTypeChange)
    FW_ON_WM_TIMER(&nPConfig::OnPollTimer)
    FW_ON_WM_ACTIVATE(&nPConfig::OnActivation)
FW_END_MESSAGE_MAP()

nPConfig::nPConfig() : fw::PropertyPage(templates::kConfigPage) {}

nPConfig::~nPConfig() = default;

void nPConfig::DoDataExchange(fw::DataExchange& dx)
{
    fw::PropertyPage::DoDataExchange(dx);
    fw::DDX_Control(dx, 1001, ssidEdit);
    fw::DDX_Control(dx, 1004, txRateCombo);
    fw::DDX_Control(dx, 1006, psModeCombo);
    fw::DDX_Control(dx, 1002, networkTypeCombo);
    fw::DDX_Control(dx, 1008, channelCombo);
}

bool nPConfig::OnInitDialog() { return InitPage(); }

bool nPConfig::InitPage()
{
    // The base initialisation fills the four lists from the template, none selected.
    fw::PropertyPage::OnInitDialog();
    SelectNetworkType();
    ssidEdit.SetWindowText(theApp.SSID);
    // A stored name is shown whole, but the user cannot type a name the block cannot carry:
    // the service would take it for no name and join the strongest open network.
    ssidEdit.LimitInput(&ConnectChannel::NetworkNameFits);
    SelectTxRate();
    psModeCombo.SetCurSel(theApp.PSMode <= kPsModeDisabled ? kPsDisabled : kPsEnabled);
    // The template's list is "1".."14": a channel outside it leaves no entry selected.
    const uint32_t channel = theApp.DSChannel;
    channelCombo.SetCurSel(channel >= 1 && channel <= kMaxChannels ? static_cast<int>(channel) - 1
                                                                   : fw::ComboBox::CB_ERR);
    UpdateChannelEnable();
    for (size_t k = 0; k < kMaxChannels; ++k)
        channelNumbers[k] = static_cast<int32_t>(k + 1);
    channelCount = 0;
    return true;
}

void nPConfig::SelectNetworkType()
{
    const uint32_t type = theApp.NetworkType;
    if (type == kNetworkPeerToPeer)
        networkTypeCombo.SetCurSel(kPeerToPeer);
    else if (type == kNetworkType3)
        networkTypeCombo.SetCurSel(kNetworkType3Index);  // past the two entries: none selected
    else
        networkTypeCombo.SetCurSel(kAccessPoint);
}

void nPConfig::SelectTxRate()
{
    const uint32_t rate = theApp.TxRate;
    if (rate <= 4)
        txRateCombo.SetCurSel(static_cast<int>(rate) - 1);  // 0 clears the selection
    else if (rate <= kRate11)
        txRateCombo.SetCurSel(kTxRate11);
    else if (rate <= kRateAutomatic)
        txRateCombo.SetCurSel(kTxRateAutomatic);
    // 16 and above: no selection call at all.
}

void nPConfig::OnNetworkTypeChange() { UpdateChannelEnable(); }

void nPConfig::UpdateChannelEnable()
{
    // An access point chooses the channel; with no selection the list stays usable.
    channelCombo.EnableWindow(networkTypeCombo.GetCurSel() == kAccessPoint ? fw::Enable::Off : fw::Enable::On);
}

void nPConfig::OnActivation(uint32_t state, fw::Wnd* other, bool minimised)
{
    fw::PropertyPage::OnActivate(state, other, minimised);
    if (state == fw::WA_ACTIVE && channelCount == 0) {
        theApp.Channel().RequestChannelList();
        listRequestReplaced = false;
        pollTimerId = static_cast<uint32_t>(SetTimer(kPollTimer, kPollPeriodMs));
    } else if (state == fw::WA_INACTIVE) {
        // The request stays in the block; the next activation posts it again.
        KillTimer(pollTimerId);
    }
}

void nPConfig::OnPollTimer(uintptr_t timerId)
{
    ConnectChannel channel = theApp.Channel();
    if (listRequestReplaced) {
        // An Apply took the place of the request; its wait is over, so the service has taken
        // the configuration and the list can be asked for again.
        listRequestReplaced = false;
        channel.RequestChannelList();
    } else if (channel.ChannelListAnswered()) {
        // A status left from before any page's last command is not the answer: that
        // command's payload lies where the mask is read.
        RebuildChannelList();
    }
    fw::PropertyPage::OnTimer(timerId);
}

void nPConfig::RebuildChannelList()
{
    KillTimer(pollTimerId);
    const uint16_t mask = theApp.Channel().ChannelMask();
    // The user's choice from the template's list stays when the card allows it.
    const int shown = channelCombo.GetCurSel();
    const int chosen = shown >= 0 && shown < static_cast<int>(kMaxChannels)
                           ? channelNumbers[static_cast<size_t>(shown)]
                           : 0;
    channelCombo.ResetContent();
    // A rebuild always starts from an empty table, even for a tick that was already queued
    // when the timer stopped, so the table can never be written past its 14 entries.
    channelCount = 0;
    int chosenIndex = -1;
    int storedIndex = -1;
    for (int bit = 0; bit < static_cast<int>(kMaxChannels); ++bit) {
        if ((mask & (1u << bit)) == 0)
            continue;
        const int channel = bit + 1;
        channelCombo.AddString(ChannelText(channel));
        channelNumbers[static_cast<size_t>(channelCount)] = channel;
        if (channel == chosen)
            chosenIndex = channelCount;
        if (static_cast<uint32_t>(channel) == theApp.DSChannel)
            storedIndex = channelCount;
        ++channelCount;
    }
    // The channel shown if the card allows it, else the stored one, else the first; an empty
    // list selects nothing.
    channelCombo.SetCurSel(chosenIndex >= 0 ? chosenIndex : storedIndex >= 0 ? storedIndex : 0);
}

void nPConfig::ApplyConfig()
{
    theApp.NetworkType = NetworkTypeFromList();
    theApp.SSID = ssidEdit.GetWindowText();
    ApplyTxRate();
    theApp.PSMode = psModeCombo.GetCurSel() == kPsEnabled ? kPsModeEnabled : kPsModeDisabled;
    ApplyChannel();
    theApp.SaveSettings();
    theApp.Channel()
        .PostConfig({static_cast<uint16_t>(theApp.NetworkType), static_cast<uint16_t>(theApp.TxRate),
                     static_cast<uint16_t>(theApp.PSMode), static_cast<uint16_t>(theApp.DSChannel), theApp.SSID});
    // The code is set; the service needs this long to take it, and the page handles nothing
    // meanwhile.
    const fw::WaitCursor busy;
    platform::Suspend(kServiceTakesCommand);
    // A request that was waiting has been replaced: the next tick asks again.
    listRequestReplaced = channelCount == 0 && IsTimerRunning(pollTimerId);
}

uint32_t nPConfig::NetworkTypeFromList() const
{
    switch (networkTypeCombo.GetCurSel()) {
    case kPeerToPeer:
        return kNetworkPeerToPeer;
    case kNetworkType3Index:
        return kNetworkType3;
    default:
        return kNetworkAccessPoint;  // "Access Point", and no selection
    }
}

void nPConfig::ApplyTxRate()
{
    // Compared as a signed index: no selection (-1) gives 0.
    const int index = txRateCombo.GetCurSel();
    if (index < kTxRate11)
        theApp.TxRate = static_cast<uint32_t>(index + 1);
    else if (index == kTxRate11)
        theApp.TxRate = kRate11;
    else if (index == kTxRateAutomatic)
        theApp.TxRate = kRateAutomatic;
}

void nPConfig::ApplyChannel()
{
    // With no entry selected the channel stays as it was: the table has no entry for -1.
    // Before a list has arrived the table is the template's 14 channels.
    const int index = channelCombo.GetCurSel();
    const int entries = channelCount > 0 ? channelCount : static_cast<int>(kMaxChannels);
    if (index >= 0 && index < entries && index < static_cast<int>(kMaxChannels))
        theApp.DSChannel = static_cast<uint32_t>(channelNumbers[static_cast<size_t>(index)]);
}
