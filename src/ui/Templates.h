#pragma once
// The dialog templates of the main dialog and the four pages, and the initial entries of
// their combo lists. Coordinates are dialog units.

#include "framework/DialogTemplate.h"

#include <string_view>

namespace templates {

using fw::ComboEntries;
using fw::ControlKind;
using fw::ControlTemplate;
using fw::DialogTemplate;
using fw::kUnaddressed;
using namespace std::string_view_literals;

inline constexpr int16_t kPageWidth = 139;
inline constexpr int16_t kPageHeight = 139;
inline constexpr int16_t kPageFontSize = 10;

// The window styles of the templates are not carried: the main dialog (popup with caption,
// centred, application window, OK and help caption buttons) is never displayed, and the pages
// (popup with caption, system menu, modal frame) only ever live inside the sheet.

// Template 102: the main dialog, never displayed.
inline constexpr DialogTemplate kMainDialog{102, u"Wireless LAN Utility", 138, 145, u"System", 8, {}, {}};

// Template 148: "Status".
inline constexpr ControlTemplate kStatusControls[] = {
    {kUnaddressed, ControlKind::Label, u"Link State", 2, 10, 33, 8},
    {1045, ControlKind::Edit, u"", 40, 7, 97, 12},
    {kUnaddressed, ControlKind::Label, u"Current Channel", 2, 30, 54, 8},
    {1049, ControlKind::Edit, u"", 57, 27, 16, 14},
    {kUnaddressed, ControlKind::Label, u"Current Tx Rate", 2, 50, 53, 8},
    {1046, ControlKind::Edit, u"", 57, 47, 16, 14},
    {kUnaddressed, ControlKind::Label, u"Mbps", 76, 50, 18, 8},
    {kUnaddressed, ControlKind::Label, u"Link Quality", 2, 70, 38, 8},
    {1047, ControlKind::Edit, u"", 42, 70, 40, 12, fw::StyleNoBorder},
    {1050, ControlKind::Bar, u"Progress1", 2, 84, 135, 8},
    {kUnaddressed, ControlKind::Label, u"Signal Strength", 2, 100, 51, 8},
    {1048, ControlKind::Edit, u"", 54, 100, 40, 12, fw::StyleNoBorder},
    {1051, ControlKind::Bar, u"Progress2", 2, 114, 135, 8},
};
inline constexpr DialogTemplate kStatusPage{148, u"Status", kPageWidth, kPageHeight, u"System", kPageFontSize,
                                            kStatusControls, {}};

// Template 131: "Configuration".
inline constexpr ControlTemplate kConfigControls[] = {
    {1003, ControlKind::Label, u"Network Name", 2, 7, 49, 8},
    {1001, ControlKind::Edit, u"", 52, 7, 85, 12},
    {1000, ControlKind::Label, u"Network Type", 2, 27, 50, 8},
    {1002, ControlKind::List, u"", 52, 27, 60, 41},
    {kUnaddressed, ControlKind::Label, u"Tx Rate", 2, 47, 26, 8},
    {1004, ControlKind::List, u"", 52, 47, 60, 66},
    {1005, ControlKind::Label, u"PS Mode", 2, 67, 30, 8},
    {1006, ControlKind::List, u"", 52, 67, 40, 30},
    {1007, ControlKind::Label, u"Channel", 2, 87, 27, 8},
    {1008, ControlKind::List, u"", 52, 87, 31, 53},
    {1009, ControlKind::Button, u"Apply", 83, 120, 54, 12},
};
inline constexpr std::u16string_view kNetworkTypeEntries[] = {u"Peer-to-Peer", u"Access Point"};
inline constexpr std::u16string_view kTxRateEntries[] = {u"1 Mbps",   u"2 Mbps",  u"1 or 2 Mbps",
                                                         u"5.5 Mbps", u"11 Mbps", u"Fully Automatic"};
inline constexpr std::u16string_view kPsModeEntries[] = {u"Disabled", u"Enabled"};
inline constexpr std::u16string_view kChannelEntries[] = {u"1", u"2",  u"3",  u"4",  u"5",  u"6",  u"7",
                                                          u"8", u"9", u"10", u"11", u"12", u"13", u"14"};
inline constexpr ComboEntries kConfigLists[] = {
    {1002, kNetworkTypeEntries},
    {1004, kTxRateEntries},
    {1006, kPsModeEntries},
    {1008, kChannelEntries},
};
inline constexpr DialogTemplate kConfigPage{131, u"Configuration", kPageWidth, kPageHeight, u"System", kPageFontSize,
                                            kConfigControls, kConfigLists};

// Template 133: "Encryption".
inline constexpr ControlTemplate kEncryptionControls[] = {
    {kUnaddressed, ControlKind::Label, u"Encryption(WEP)", 2, 7, 55, 8},
    {1010, ControlKind::List, u"", 72, 7, 65, 42},
    {kUnaddressed, ControlKind::Label, u"Passphrase", 2, 22, 38, 8},
    {1012, ControlKind::Edit, u"", 42, 22, 95, 12},
    {1014, ControlKind::Button, u"Generate", 130, 22, 7, 12, fw::StyleDisabled},
    {kUnaddressed, ControlKind::Label, u"Key 1", 2, 37, 19, 8},
    {1036, ControlKind::Label, u"Key 2", 2, 52, 19, 8},
    {1037, ControlKind::Label, u"Key 3", 2, 67, 19, 8},
    {1038, ControlKind::Label, u"Key 4", 2, 82, 19, 8},
    {1015, ControlKind::Edit, u"", 31, 37, 15, 12},
    {1016, ControlKind::Edit, u"", 51, 37, 15, 12},
    {1017, ControlKind::Edit, u"", 71, 37, 15, 12},
    {1018, ControlKind::Edit, u"", 91, 37, 15, 12},
    {1019, ControlKind::Edit, u"", 111, 37, 15, 12},
    {1020, ControlKind::Edit, u"", 31, 52, 15, 12},
    {1021, ControlKind::Edit, u"", 51, 52, 15, 12},
    {1022, ControlKind::Edit, u"", 71, 52, 15, 12},
    {1023, ControlKind::Edit, u"", 91, 52, 15, 12},
    {1024, ControlKind::Edit, u"", 111, 52, 15, 12},
    {1025, ControlKind::Edit, u"", 31, 67, 15, 12},
    {1026, ControlKind::Edit, u"", 51, 67, 15, 12},
    {1027, ControlKind::Edit, u"", 71, 67, 15, 12},
    {1028, ControlKind::Edit, u"", 91, 67, 15, 12},
    {1029, ControlKind::Edit, u"", 111, 67, 15, 12},
    {1030, ControlKind::Edit, u"", 31, 82, 15, 12},
    {1031, ControlKind::Edit, u"", 51, 82, 15, 12},
    {1032, ControlKind::Edit, u"", 71, 82, 15, 12},
    {1033, ControlKind::Edit, u"", 91, 82, 15, 12},
    {1034, ControlKind::Edit, u"", 111, 82, 15, 12},
    {1039, ControlKind::Label, u"Default Key", 2, 98, 38, 8},
    {1013, ControlKind::Combo, u"", 43, 97, 36, 45, fw::StyleSorted},
    {1009, ControlKind::Button, u"Apply", 87, 120, 50, 12},
};
inline constexpr std::u16string_view kWepModeEntries[] = {u"Disabled", u"64 Bit", u"128 Bit"};
inline constexpr std::u16string_view kDefaultKeyEntries[] = {u"1", u"2", u"3", u"4"};
inline constexpr ComboEntries kEncryptionLists[] = {
    {1010, kWepModeEntries},
    {1013, kDefaultKeyEntries},
};
// The grid's edits are the key bytes: a screen reader calls them "Key 1 byte 1" .. "Key 4 byte 5".
inline constexpr DialogTemplate kEncryptionPage{133, u"Encryption", kPageWidth, kPageHeight, u"System", kPageFontSize,
                                                kEncryptionControls, kEncryptionLists, u"byte"};

// Template 132: "About".
inline constexpr ControlTemplate kAboutControls[] = {
    {kUnaddressed, ControlKind::Label, u"11 Mbps IEEE 802.11b Wireless LAN PC Card Utility", 7, 7, 125, 25},
    {kUnaddressed, ControlKind::Label, u"Version: 1.2.3", 80, 27, 52, 9},
};
inline constexpr DialogTemplate kAboutPage{132, u"About", kPageWidth, kPageHeight, u"System", kPageFontSize,
                                           kAboutControls, {}};

// What every template must satisfy for the framework to build it as laid out: each control
// inside the client area (a list's or combo's height is its dropped-down list, which may reach
// below), no id used twice, and every combo list belonging to a list or combo of its template.
constexpr bool ControlsInside(const DialogTemplate& t)
{
    for (const ControlTemplate& c : t.controls) {
        const bool dropsDown = c.kind == ControlKind::List || c.kind == ControlKind::Combo;
        if (c.x < 0 || c.y < 0 || c.w <= 0 || c.h <= 0 || c.x + c.w > t.w || (!dropsDown && c.y + c.h > t.h))
            return false;
    }
    return true;
}

constexpr bool IdsUnique(const DialogTemplate& t)
{
    for (size_t i = 0; i < t.controls.size(); ++i)
        for (size_t j = i + 1; j < t.controls.size(); ++j)
            if (t.controls[i].id != kUnaddressed && t.controls[i].id == t.controls[j].id)
                return false;
    return true;
}

constexpr bool ListsBound(const DialogTemplate& t)
{
    for (const ComboEntries& list : t.comboEntries) {
        bool bound = false;
        for (const ControlTemplate& c : t.controls)
            bound = bound || (c.id == list.id && (c.kind == ControlKind::List || c.kind == ControlKind::Combo));
        if (!bound || list.entries.empty())
            return false;
    }
    return true;
}

constexpr bool WellFormed(const DialogTemplate& t) { return ControlsInside(t) && IdsUnique(t) && ListsBound(t); }

static_assert(WellFormed(kMainDialog) && kMainDialog.controls.empty());
static_assert(WellFormed(kStatusPage) && kStatusPage.controls.size() == 13);
static_assert(WellFormed(kConfigPage) && kConfigPage.controls.size() == 11);
static_assert(WellFormed(kEncryptionPage) && kEncryptionPage.controls.size() == 32);
static_assert(WellFormed(kAboutPage) && kAboutPage.controls.size() == 2);

} // namespace templates
