#include "pages/nPEncryption.h"

#include "app/nApp.h"
#include "framework/DataExchange.h"
#include "framework/WaitCursor.h"
#include "link/ConnectChannel.h"
#include "platform/Suspend.h"
#include "ui/Templates.h"
#include "wep/KeyGenerators.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace {

// The connection service takes a command within this time; nothing is posted meanwhile.
constexpr std::chrono::milliseconds kServiceTakesCommand{1100};

// WepReq codes of the three modes.
constexpr uint32_t kWepOff = 0;
constexpr uint32_t kWep64 = 2;
constexpr uint32_t kWep128 = 6;

// What a grid edit shows until the user types or a generation writes it.
constexpr std::u16string_view kMasked = u"**";
constexpr std::u16string_view kZeroByte = u"00";
// The user types at most this many characters into a grid edit.
constexpr int kTypedKeyChars = 3;

// Grid edits hidden in "128 Bit" mode, whose key takes the first 13 bytes: Key 3 bytes 4
// and 5 and all of Key 4.
constexpr size_t kFirstHiddenIn128 = kKey128Bytes;

constexpr char16_t kLowerDigits[] = u"0123456789abcdef";

std::optional<unsigned> HexDigitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return std::nullopt;
}

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string TwoLowerDigits(uint8_t byte) { return {kLowerDigits[byte >> 4], kLowerDigits[byte & 0x0F]}; }

// n in base 16, lower-case digits, no leading zeros ("0" for 0); a negative n as its 32-bit
// two's complement.
std::u16string LowerHex(int32_t n)
{
    uint32_t v = static_cast<uint32_t>(n);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), kLowerDigits[v & 0x0F]);
        v >>= 4;
    } while (v != 0);
    return digits;
}

// Reads an optional sign, an optional "0x" and hexadecimal digits from at most `width`
// characters of `text`, after white space (which the width does not count). Answers the
// magnitude saturated at 2^32, the sign, and whether any digit was read.
struct HexScan {
    uint64_t magnitude = 0;
    bool negative = false;
    bool converted = false;
};

HexScan ScanHex(std::u16string_view text, size_t width)
{
    size_t at = 0;
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    text = text.substr(at, std::min(width, text.size() - at));
    HexScan scan;
    size_t i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        scan.negative = text[i++] == u'-';
    // "0x" is a prefix only when a digit follows it; otherwise the 0 is the number.
    if (i + 2 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
        HexDigitValue(text[i + 2]))
        i += 2;
    for (; i < text.size(); ++i) {
        const std::optional<unsigned> digit = HexDigitValue(text[i]);
        if (!digit)
            break;
        scan.converted = true;
        scan.magnitude = std::min<uint64_t>(scan.magnitude * 16 + *digit, uint64_t{1} << 32);
    }
    return scan;
}

// The standard library's conversion to a 32-bit long in base 16: out-of-range values give
// the nearest limit, and no digit gives 0.
int32_t ToLong16(std::u16string_view text)
{
    const HexScan scan = ScanHex(text, text.size());
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const int64_t magnitude = static_cast<int64_t>(scan.magnitude);
    if (scan.negative)
        return static_cast<int32_t>(-std::min(magnitude, kMax + 1));
    return static_cast<int32_t>(std::min(magnitude, kMax));
}

// The byte a grid edit holds, scanned as "%2X" does: at most two characters form the number
// and its low 8 bits are the byte. Nothing to convert answers nothing.
std::optional<uint8_t> ScanKeyByte(std::u16string_view text)
{
    const HexScan scan = ScanHex(text, 2);
    if (!scan.converted)
        return std::nullopt;
    const uint64_t value = scan.negative ? (uint64_t{0} - scan.magnitude) : scan.magnitude;
    return static_cast<uint8_t>(value & 0xFF);
}

// A stored pair of characters as "0x" and the pair convert in base 16: the value of its
// leading hexadecimal digits, 0 when there are none.
uint8_t StoredPairValue(char16_t high, char16_t low)
{
    const std::optional<unsigned> first = HexDigitValue(high);
    if (!first)
        return 0;
    const std::optional<unsigned> second = HexDigitValue(low);
    return static_cast<uint8_t>(second ? *first * 16 + *second : *first);
}

int ModeIndexOf(uint32_t wepReq)
{
    switch (wepReq) {
    case kWep64:
        return nPEncryption::kMode64;
    case kWep128:
        return nPEncryption::kMode128;
    default:
        return nPEncryption::kModeDisabled;
    }
}

uint32_t WepReqOf(int modeIndex)
{
    switch (modeIndex) {
    case nPEncryption::kMode64:
        return kWep64;
    case nPEncryption::kMode128:
        return kWep128;
    default:
        return kWepOff;
    }
}

// Sets the process-wide flag for the life of the object.
class KeyNormalizeScope {
public:
    KeyNormalizeScope() { nPEncryption::inKeyNormalize = true; }
    ~KeyNormalizeScope() { nPEncryption::inKeyNormalize = false; }
    KeyNormalizeScope(const KeyNormalizeScope&) = delete;
    KeyNormalizeScope& operator=(const KeyNormalizeScope&) = delete;
};

} // namespace

FW_IMPLEMENT_DYNCREATE(nPEncryption, fw::PropertyPage)

FW_BEGIN_MESSAGE_MAP(nPEncryption, fw::PropertyPage)
    FW_ON_BN_CLICKED(1014, &nPEncryption::OnGenerate)
    FW_ON_CBN_SELCHANGE(1010, &nPEncryption::OnWepModeChange)
    FW_ON_EN_CHANGE(1015, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1016, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1017, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1018, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1019, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1020, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1021, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1022, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1023, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1024, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1025, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1026, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1027, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1028, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1029, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1030, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1031, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1032, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1033, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1034, &nPEncryption::OnKeyByteChange)
    FW_ON_BN_CLICKED(1009, &nPEncryption::ApplyWep)
FW_END_MESSAGE_MAP()

nPEncryption::nPEncryption() : fw::PropertyPage(templates::kEncryptionPage) {}

nPEncryption::~nPEncryption() = default;

void nPEncryption::DoDataExchange(fw::DataExchange& dx)
{
    fw::PropertyPage::DoDataExchange(dx);
    fw::DDX_Control(dx, 1039, keyLabels[0]);
    fw::DDX_Control(dx, 1038, keyLabels[1]);
    fw::DDX_Control(dx, 1037, keyLabels[2]);
    fw::DDX_Control(dx, 1036, keyLabels[3]);
    fw::DDX_Control(dx, 1014, generateButton);
    fw::DDX_Control(dx, 1012, passphraseEdit);
    fw::DDX_Control(dx, 1010, wepModeCombo);
    fw::DDX_Control(dx, 1013, defaultKeyCombo);
    for (size_t i = 0; i < kGridBytes; ++i)
        fw::DDX_Control(dx, kFirstKeyEditId + static_cast<int>(i), keyEdits[i]);
}

bool nPEncryption::OnInitDialog() { return InitPage(); }

bool nPEncryption::InitPage()
{
    // The base initialisation fills both lists from the template, none selected.
    fw::PropertyPage::OnInitDialog();
    // Keys are generated only by Apply; the button stays hidden for the life of the page.
    generateButton.ShowWindow(fw::Show::Hide);
    // The stored keys are never shown: every grid edit starts masked.
    for (fw::Edit& edit : keyEdits) {
        edit.SetWindowText(kMasked);
        edit.LimitText(kTypedKeyChars);
    }
    wepModeCombo.SetCurSel(ModeIndexOf(theApp.WepReq));
    LoadKeyGrid();
    const uint32_t keyId = theApp.DefaultKeyId;
    defaultKeyCombo.SetCurSel(keyId >= 1 && keyId <= kKeyCount ? static_cast<int>(keyId) - 1
                                                               : fw::ComboBox::CB_ERR);
    UpdateKeyControls();
    return true;
}

void nPEncryption::LoadKeyGrid()
{
    // Two characters a byte; a last unpaired character and any pair past the twentieth are
    // ignored.
    const std::u16string& stored = theApp.DefaultKeys;
    const size_t pairs = std::min(stored.size() / 2, kGridBytes);
    KeyGrid.fill(0);
    for (size_t i = 0; i < pairs; ++i)
        KeyGrid[i] = StoredPairValue(stored[2 * i], stored[2 * i + 1]);
}

void nPEncryption::OnWepModeChange() { UpdateKeyControls(); }

void nPEncryption::UpdateKeyControls()
{
    const int mode = wepModeCombo.GetCurSel();
    // No selection counts as enabled.
    const fw::Enable enable = mode == kModeDisabled ? fw::Enable::Off : fw::Enable::On;
    passphraseEdit.EnableWindow(enable);
    generateButton.EnableWindow(enable);
    for (fw::Edit& edit : keyEdits)
        edit.EnableWindow(enable);
    defaultKeyCombo.EnableWindow(enable);

    // The 128-bit key is the single Key 1 of 13 bytes; leaving the mode does not bring the
    // earlier default key back.
    fw::Show show = fw::Show::Normal;
    if (mode == kMode128) {
        defaultKeyCombo.SetCurSel(0);
        show = fw::Show::Hide;
    }
    for (size_t i = kFirstHiddenIn128; i < kGridBytes; ++i)
        keyEdits[i].ShowWindow(show);
    for (auto label = keyLabels.rbegin(); label != keyLabels.rend(); ++label)
        label->ShowWindow(show);
    defaultKeyCombo.ShowWindow(show);
}

void nPEncryption::OnKeyByteChange()
{
    // Any change of a key byte discards the passphrase, so Apply takes the keys from the grid.
    passphraseEdit.SetWindowText(u"");
    const fw::Message* message = GetCurrentMessage();
    if (!message)
        return;
    const int id = fw::LoWord(message->wParam);
    if (id < kFirstKeyEditId || id >= kFirstKeyEditId + static_cast<int>(kGridBytes))
        return;
    if (inKeyNormalize)
        return;
    const KeyNormalizeScope normalizing;
    NormalizeKeyByte(keyEdits[static_cast<size_t>(id - kFirstKeyEditId)]);
}

void nPEncryption::NormalizeKeyByte(fw::Edit& edit)
{
    const std::u16string text = edit.GetWindowText();
    if (text == kMasked || text == kZeroByte)
        return;
    const int32_t n = ToLong16(text);
    const std::u16string hex = LowerHex(n);
    // A third digit is cut off at once; a text worth 0 becomes "0". Two digits or fewer
    // keep the user's case and leading zeros.
    if (hex.size() > 2 || n == 0) {
        edit.SetWindowText(std::u16string_view(hex).substr(0, 2));
        return;
    }
    // Apply reads only the first two characters: a text whose value lies further on ("0a5",
    // "007", "0x5") shows the byte those two give, so the grid never shows a byte it will
    // not store.
    const uint8_t stored = ScanKeyByte(text).value_or(0);
    if (stored != static_cast<uint32_t>(n))
        edit.SetWindowText(TwoLowerDigits(stored));
}

void nPEncryption::OnGenerate()
{
    const int mode = wepModeCombo.GetCurSel();
    if (mode == kMode64) {
        KeyGrid = GenerateKeys64(passphraseEdit.GetWindowText());
    } else if (mode == kMode128) {
        const auto key = GenerateKey128(passphraseEdit.GetWindowText());
        std::copy(key.begin(), key.end(), KeyGrid.begin());
        std::fill(KeyGrid.begin() + key.size(), KeyGrid.end(), uint8_t{0});
    } else {
        return;
    }
    ShowKeyGrid();
}

void nPEncryption::ShowKeyGrid()
{
    // All twenty are written, hidden ones included. The first text raises the change
    // notification that empties the passphrase.
    for (size_t i = 0; i < kGridBytes; ++i)
        keyEdits[i].SetWindowText(TwoLowerDigits(KeyGrid[i]));
}

void nPEncryption::ReadKeyGrid()
{
    for (size_t i = 0; i < kGridBytes; ++i) {
        const std::u16string text = keyEdits[i].GetWindowText();
        // An edit still masked keeps the byte the grid holds (loaded, generated or applied
        // before), so applying an untouched grid does not wipe the stored keys.
        if (text == kMasked)
            continue;
        KeyGrid[i] = ScanKeyByte(text).value_or(0);
    }
}

size_t nPEncryption::StoredKeyBytes() const
{
    return wepModeCombo.GetCurSel() == kMode64 ? kKeys64Bytes : kKey128Bytes;
}

void nPEncryption::ApplyWep()
{
    if (!passphraseEdit.GetWindowText().empty())
        OnGenerate();
    else
        ReadKeyGrid();

    const size_t count = StoredKeyBytes();
    const std::span<const uint8_t> keys(KeyGrid.data(), count);
    theApp.WepReq = WepReqOf(wepModeCombo.GetCurSel());
    std::u16string stored;
    for (uint8_t byte : keys)
        stored += TwoLowerDigits(byte);
    theApp.DefaultKeys = std::move(stored);
    theApp.DefaultKeyId = static_cast<uint32_t>(defaultKeyCombo.GetCurSel() + 1);
    theApp.SaveSettings();
    theApp.Channel()
        .PostWep(static_cast<uint8_t>(theApp.WepReq), static_cast<uint8_t>(theApp.DefaultKeyId), keys);
    // The code is set; the service needs this long to take it, and the page handles nothing
    // meanwhile.
    const fw::WaitCursor busy;
    platform::Suspend(kServiceTakesCommand);
}
