#include "PageSanity.h"

#include "pages/nPConfig.h"
#include "pages/nPLinkInfo.h"

#include <QApplication>
#include <QProgressBar>
#include <QWidget>

#include <array>
#include <string>
#include <string_view>

namespace hardening {
namespace {

std::string Narrow(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

bool IsUpperHexPair(std::u16string_view s)
{
    const auto hex = [](char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); };
    return s.size() == 2 && hex(s[0]) && hex(s[1]);
}

bool IsLinkState(std::u16string_view s)
{
    if (s.empty() || s == u"WLAN Card In" || s == u"WLAN Card Out" || s == u"Disconnect")
        return true;
    constexpr std::u16string_view kPrefix = u"BSSID = ";
    if (s.size() != kPrefix.size() + 17 || s.substr(0, kPrefix.size()) != kPrefix)
        return false;
    const std::u16string_view pairs = s.substr(kPrefix.size());
    for (size_t i = 0; i < 6; ++i) {
        if (!IsUpperHexPair(pairs.substr(i * 3, 2)))
            return false;
        if (i < 5 && pairs[i * 3 + 2] != u':')
            return false;
    }
    return true;
}

// Decimal digits only, no sign, at most `maxDigits`; its value, or -1.
int DecimalValue(std::u16string_view s, size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits)
        return -1;
    int value = 0;
    for (char16_t c : s) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// "- N%" where N is what some byte 0..255 gives on the scale of 15.
bool IsPercentText(std::u16string_view s)
{
    if (s.size() < 4 || s.substr(0, 2) != u"- " || s.back() != u'%')
        return false;
    const int n = DecimalValue(s.substr(2, s.size() - 3), 4);
    if (n < 0 || n > 1700)
        return false;
    for (int raw = 0; raw <= 255; ++raw)
        if (raw * 100 / 15 == n)
            return true;
    return false;
}

bool IsChannelText(std::u16string_view s)
{
    const int n = DecimalValue(s, 3);
    return n >= 0 && n <= 255 && s.size() >= 2 && (s.size() == 2 || s[0] != u'0');
}

std::string Wrong(const char* control, std::u16string_view text)
{
    return std::string(control) + " shows \"" + Narrow(text) + "\"";
}

} // namespace

std::string CheckLinkInfoPage(const nPLinkInfo& page)
{
    const std::u16string state = page.linkStateEdit.GetWindowText();
    if (!IsLinkState(state))
        return Wrong("1045", state);
    const std::u16string rate = page.txRateEdit.GetWindowText();
    if (!(rate.empty() || rate == u"*" || rate == u"1" || rate == u"2" || rate == u"5.5" || rate == u"11"))
        return Wrong("1046", rate);
    for (const auto* edit : {&page.linkQualityEdit, &page.signalStrengthEdit}) {
        const std::u16string text = edit->GetWindowText();
        if (!(text.empty() || text == u"*" || IsPercentText(text)))
            return Wrong(edit == &page.linkQualityEdit ? "1047" : "1048", text);
    }
    const std::u16string channel = page.channelEdit.GetWindowText();
    if (!(channel.empty() || channel == u"*" || IsChannelText(channel)))
        return Wrong("1049", channel);
    for (const auto* bar : {&page.linkQualityBar, &page.signalStrengthBar}) {
        // The position is the raw byte; the scale stays 0..15.
        if (bar->GetPos() < 0 || bar->GetPos() > 255)
            return "bar position " + std::to_string(bar->GetPos());
        if (bar->GetRangeLower() != 0 || bar->GetRangeUpper() != 15)
            return "bar range changed";
    }
    return {};
}

std::string CheckConfigPage(const nPConfig& page)
{
    const int count = page.channelCombo.GetCount();
    const int listed = page.channelCount;
    if (listed < 0 || listed > static_cast<int>(nPConfig::kMaxChannels))
        return "channelCount " + std::to_string(listed);
    // Before any list arrived the template's 14 channels stand; after one, exactly its entries.
    if (count != listed && !(listed == 0 && (count == 0 || count == 14)))
        return "Channel list has " + std::to_string(count) + " entries, channelCount " + std::to_string(listed);
    int previous = 0;
    for (int i = 0; i < count; ++i) {
        const int channel = DecimalValue(page.channelCombo.GetLBText(i), 2);
        if (channel <= previous || channel > 14)
            return "Channel list entry " + std::to_string(i) + " is \"" + Narrow(page.channelCombo.GetLBText(i)) + "\"";
        if (listed > 0 && page.channelNumbers[static_cast<size_t>(i)] != channel)
            return "channelNumbers[" + std::to_string(i) + "] differs from the list";
        previous = channel;
    }
    const int selected = page.channelCombo.GetCurSel();
    if (selected < -1 || selected >= count)
        return "Channel selection " + std::to_string(selected) + " of " + std::to_string(count);
    if (count > 0 && selected == -1 && listed > 0)
        return "a received non-empty list has no selection";
    return {};
}

std::string CheckBarDisplays()
{
    for (QWidget* widget : QApplication::allWidgets()) {
        if (const auto* bar = qobject_cast<const QProgressBar*>(widget)) {
            // minimum - 1 is the bar's "nothing set yet" state, drawn empty.
            const bool unset = bar->value() == bar->minimum() - 1;
            if (!unset && (bar->value() < bar->minimum() || bar->value() > bar->maximum()))
                return "a bar draws " + std::to_string(bar->value()) + " outside " + std::to_string(bar->minimum()) +
                       ".." + std::to_string(bar->maximum());
        }
    }
    return {};
}

} // namespace hardening
