#include "pages/nPLinkInfo.h"

#include "app/nApp.h"
#include "framework/DataExchange.h"
#include "link/ConnectChannel.h"
#include "ui/Templates.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr uintptr_t kPollTimer = 1;
constexpr uint32_t kPollPeriodMs = 500;
constexpr int kBarLower = 0;
constexpr int kBarUpper = 15;  // link quality and signal strength are on a scale of 0..15

// Formatted texts are built in a fixed buffer of 40 characters.
constexpr size_t kTextBuffer = 40;

constexpr std::u16string_view kNoValue = u"*";

struct RateText {
    uint16_t code;
    std::u16string_view text;
};

// Current transmit-rate codes as the service reports them; any other code reads as "2".
constexpr std::array<RateText, 4> kRateTexts{{
    {1, u"1"},
    {2, u"2"},
    {4, u"5.5"},
    {8, u"11"},
}};
constexpr std::u16string_view kUnknownRateText = u"2";

std::u16string_view RateTextFor(uint16_t code)
{
    for (const RateText& entry : kRateTexts)
        if (entry.code == code)
            return entry.text;
    return kUnknownRateText;
}

// The formats are plain ASCII, so widening byte by byte is exact.
template <class... Args>
std::u16string Format(const char* format, Args... args)
{
    std::array<char, kTextBuffer> buffer{};
    const int length = std::snprintf(buffer.data(), buffer.size(), format, args...);
    if (length <= 0)
        return {};
    const size_t used = std::min(static_cast<size_t>(length), buffer.size() - 1);
    return std::u16string(buffer.data(), buffer.data() + used);
}

// The percentage truncates and works on the raw byte: 16 gives 106, 255 gives 1700.
std::u16string PercentText(uint8_t scaleValue)
{
    return Format("- %d%c", (scaleValue * 100) / 15, 0x25);
}

} // namespace

FW_IMPLEMENT_DYNCREATE(nPLinkInfo, fw::PropertyPage)

FW_BEGIN_MESSAGE_MAP(nPLinkInfo, fw::PropertyPage)
    FW_ON_WM_TIMER(&nPLinkInfo::OnTimer)
    FW_ON_WM_ACTIVATE(&nPLinkInfo::OnActivate)
FW_END_MESSAGE_MAP()

nPLinkInfo::nPLinkInfo() : fw::PropertyPage(templates::kStatusPage) {}

nPLinkInfo::~nPLinkInfo() = default;

void nPLinkInfo::DoDataExchange(fw::DataExchange& dx)
{
    fw::PropertyPage::DoDataExchange(dx);
    fw::DDX_Control(dx, 1051, signalStrengthBar);
    fw::DDX_Control(dx, 1050, linkQualityBar);
    fw::DDX_Control(dx, 1049, channelEdit);
    fw::DDX_Control(dx, 1048, signalStrengthEdit);
    fw::DDX_Control(dx, 1047, linkQualityEdit);
    fw::DDX_Control(dx, 1046, txRateEdit);
    fw::DDX_Control(dx, 1045, linkStateEdit);
}

bool nPLinkInfo::OnInitDialog()
{
    fw::PropertyPage::OnInitDialog();
    linkQualityBar.SetRange(kBarLower, kBarUpper);
    signalStrengthBar.SetRange(kBarLower, kBarUpper);
    linkQualityBar.SetPos(0);
    signalStrengthBar.SetPos(0);
    return true;
}

void nPLinkInfo::OnActivate(uint32_t state, fw::Wnd* other, bool minimised)
{
    fw::PropertyPage::OnActivate(state, other, minimised);
    ConnectChannel channel = theApp.Channel();
    if (state == fw::WA_ACTIVE) {
        // The request goes into the block before the payload is cleared; the first tick
        // comes one period later.
        channel.PostLinkInfo();
        timerHandle = static_cast<uint32_t>(SetTimer(kPollTimer, kPollPeriodMs));
    } else if (state == fw::WA_INACTIVE) {
        KillTimer(timerHandle);
        channel.Withdraw();
    }
}

void nPLinkInfo::OnTimer(uintptr_t timerId)
{
    // Three independent tests, each reading the status afresh: the service may change it
    // between two of them, and then the later branch's texts remain.
    const ConnectChannel channel = theApp.Channel();
    if (channel.Poll(STAT_LINK_INFO)) {
        if (channel.IsNotAssociated())
            ShowNoLink(u"Disconnect");
        else
            ShowLinkInfo();
    }
    if (channel.Poll(STAT_CARD_IN))
        ShowNoLink(u"WLAN Card In");
    if (channel.Poll(STAT_CARD_OUT))
        ShowNoLink(u"WLAN Card Out");
    fw::PropertyPage::OnTimer(timerId);
}

void nPLinkInfo::ShowNoLink(std::u16string_view linkState)
{
    linkStateEdit.SetWindowText(linkState);
    txRateEdit.SetWindowText(kNoValue);
    linkQualityEdit.SetWindowText(kNoValue);
    linkQualityBar.SetPos(0);
    signalStrengthEdit.SetWindowText(kNoValue);
    signalStrengthBar.SetPos(0);
    channelEdit.SetWindowText(kNoValue);
}

void nPLinkInfo::ShowLinkInfo()
{
    // Each field is read straight from the shared block as its control is written.
    const ConnectChannel channel = theApp.Channel();
    const auto bssid = [&channel](size_t i) { return unsigned{channel.ReadU8(block::kLinkBssid + i)}; };
    linkStateEdit.SetWindowText(Format("BSSID = %02X:%02X:%02X:%02X:%02X:%02X", bssid(0), bssid(1), bssid(2),
                                       bssid(3), bssid(4), bssid(5)));
    txRateEdit.SetWindowText(RateTextFor(channel.ReadU16(block::kLinkRate)));
    linkQualityEdit.SetWindowText(PercentText(channel.ReadU8(block::kLinkQuality)));
    linkQualityBar.SetPos(channel.ReadU8(block::kLinkQuality));
    signalStrengthEdit.SetWindowText(PercentText(channel.ReadU8(block::kLinkStrength)));
    signalStrengthBar.SetPos(channel.ReadU8(block::kLinkStrength));
    channelEdit.SetWindowText(Format("%02d", int{channel.ReadU8(block::kLinkChannel)}));
}
