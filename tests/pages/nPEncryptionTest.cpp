// The Encryption page, created on its own from its template, against a private registry file
// and a block in local memory. The suspension after Apply is replaced by a recorder.

#include "pages/nPEncryption.h"

#include "app/nApp.h"
#include "framework/Types.h"
#include "link/ConnectBlock.h"
#include "platform/RegistryKey.h"
#include "platform/Suspend.h"
#include "support/TestEnvironment.h"
#include "wep/KeyGenerators.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint8_t kUntouched = 0xA5;
constexpr uint32_t kOtherMaskBits = 0x00ABCD00;  // mask bits of other requests, kept by a post

std::u16string U16(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

std::string Ascii(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

template <class Bytes>
std::string Hex(const Bytes& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

// Types into a control's widget as the user would, one key press a character.
void Type(fw::Control& control, const std::u16string& text)
{
    QWidget* widget = control.GetSafeWidget();
    ASSERT_NE(widget, nullptr);
    for (char16_t c : text) {
        const QString character{QChar(c)};
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &press);
    }
}

void PressBackspace(fw::Control& control)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(control.GetSafeWidget(), &press);
}

struct Stored {
    std::optional<uint32_t> wepReq;
    std::optional<std::u16string> defaultKeys;
    std::optional<uint32_t> defaultKeyId;
};

class EncryptionPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
        std::memset(&block, 0, sizeof block);
        block.cmdWord = kOtherMaskBits;
        std::memset(block.payload, kUntouched, sizeof block.payload);
        theApp.connectView = &block;
        previousHook = platform::SetSuspendHook([this](std::chrono::milliseconds duration) {
            suspensions.push_back(duration);
            cmdWordAtSuspension.push_back(block.cmdWord);
        });
    }

    void TearDown() override
    {
        page.reset();
        platform::SetSuspendHook(previousHook);
        theApp.connectView = nullptr;
    }

    // Writes the key with the given values and creates the page, which reads them.
    void Open(uint32_t wepReq, const std::string& defaultKeys, uint32_t defaultKeyId)
    {
        testenv::WriteFile(registryFile, "Windows Registry Editor Version 5.00\r\n\r\n"
                                         "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                                         "\"WepReq\"=dword:" + HexWord(wepReq) + "\r\n"
                                         "\"DefaultKeys\"=\"" + defaultKeys + "\"\r\n"
                                         "\"DefaultKeyId\"=dword:" + HexWord(defaultKeyId) + "\r\n");
        theApp.LoadSettings();
        page = std::make_unique<nPEncryption>();
        ASSERT_TRUE(page->Create());
    }

    static std::string HexWord(uint32_t v)
    {
        char text[9];
        std::snprintf(text, sizeof text, "%08x", v);
        return text;
    }

    void SelectMode(int index)
    {
        page->wepModeCombo.SetCurSel(index);
        page->SendMessage(fw::WM_COMMAND, fw::MakeWParam(1010, fw::CBN_SELCHANGE));
    }

    void Apply() { page->SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED)); }

    fw::Edit& KeyEdit(int id) { return page->keyEdits[static_cast<size_t>(id - 1015)]; }

    std::string GridText()
    {
        std::string text;
        for (fw::Edit& edit : page->keyEdits)
            text += Ascii(edit.GetWindowText()) + " ";
        return text;
    }

    Stored ReadStored() const
    {
        Stored stored;
        auto key = platform::RegistryKey::Open(kDriverParmsKey, platform::Access::Query);
        if (!key)
            return stored;
        uint32_t number = 0;
        uint32_t size = sizeof number;
        if (key->QueryValue(u"WepReq", &number, &size) == platform::ERROR_SUCCESS && size == 4)
            stored.wepReq = number;
        size = sizeof number;
        if (key->QueryValue(u"DefaultKeyId", &number, &size) == platform::ERROR_SUCCESS && size == 4)
            stored.defaultKeyId = number;
        std::array<char16_t, 128> text{};
        size = sizeof text;
        if (key->QueryValue(u"DefaultKeys", text.data(), &size) == platform::ERROR_SUCCESS && size >= 2 &&
            text[size / 2 - 1] == u'\0')
            stored.defaultKeys = std::u16string(text.data(), size / 2 - 1);
        return stored;
    }

    uint8_t BlockByte(size_t offset) const { return reinterpret_cast<const uint8_t*>(&block)[offset]; }

    std::string BlockHex(size_t from, size_t to) const
    {
        std::vector<uint8_t> bytes;
        for (size_t i = from; i < to; ++i)
            bytes.push_back(BlockByte(i));
        return Hex(bytes);
    }

    static std::string Repeat(const std::string& s, size_t n)
    {
        std::string out;
        for (size_t i = 0; i < n; ++i)
            out += s;
        return out;
    }

    testenv::TempDir dir;
    std::filesystem::path registryFile = dir / "registry.reg";
    testenv::ScopedEnv registryEnv{"WLAN_REGISTRY_FILE", registryFile.string()};
    alignas(ConnectBlock) ConnectBlock block{};
    platform::SuspendHook previousHook;
    std::vector<std::chrono::milliseconds> suspensions;
    std::vector<uint32_t> cmdWordAtSuspension;
    std::unique_ptr<nPEncryption> page;
};

const std::string kStored40 = "0123456789abcdef0123456789abcdef01234567";

} // namespace

// ---- Initialisation and the mode states ----

TEST_F(EncryptionPage, Stored64BitEnablesAndShowsEveryKeyControl)
{
    Open(2, kStored40, 2);
    EXPECT_EQ(page->wepModeCombo.GetCurSel(), nPEncryption::kMode64);
    EXPECT_EQ(page->wepModeCombo.GetWindowText(), u"64 Bit");
    EXPECT_TRUE(page->passphraseEdit.IsWindowEnabled());
    EXPECT_TRUE(page->defaultKeyCombo.IsWindowEnabled());
    EXPECT_TRUE(page->defaultKeyCombo.IsWindowVisible());
    for (fw::Edit& edit : page->keyEdits) {
        EXPECT_TRUE(edit.IsWindowEnabled());
        EXPECT_TRUE(edit.IsWindowVisible());
    }
    for (fw::Static& label : page->keyLabels)
        EXPECT_TRUE(label.IsWindowVisible());
    EXPECT_FALSE(page->generateButton.IsWindowVisible());
    EXPECT_EQ(page->defaultKeyCombo.GetCurSel(), 1);
}

TEST_F(EncryptionPage, Stored128BitShowsThirteenEditsAndSelectsKeyOne)
{
    Open(6, kStored40, 3);
    EXPECT_EQ(page->wepModeCombo.GetWindowText(), u"128 Bit");
    for (int id = 1015; id <= 1034; ++id) {
        EXPECT_EQ(KeyEdit(id).IsWindowVisible(), id <= 1027) << id;
        EXPECT_TRUE(KeyEdit(id).IsWindowEnabled()) << id;
    }
    for (fw::Static& label : page->keyLabels)
        EXPECT_FALSE(label.IsWindowVisible());
    EXPECT_FALSE(page->defaultKeyCombo.IsWindowVisible());
    EXPECT_EQ(page->defaultKeyCombo.GetCurSel(), 0);
    EXPECT_TRUE(page->passphraseEdit.IsWindowEnabled());
    EXPECT_FALSE(page->generateButton.IsWindowVisible());
}

TEST_F(EncryptionPage, EveryOtherStoredModeShowsDisabled)
{
    for (uint32_t wepReq : {0u, 1u, 3u, 7u, 0xFFFFFFFFu}) {
        Open(wepReq, kStored40, 1);
        EXPECT_EQ(page->wepModeCombo.GetWindowText(), u"Disabled") << wepReq;
        EXPECT_FALSE(page->passphraseEdit.IsWindowEnabled()) << wepReq;
        EXPECT_FALSE(page->defaultKeyCombo.IsWindowEnabled()) << wepReq;
        EXPECT_TRUE(page->defaultKeyCombo.IsWindowVisible()) << wepReq;
        for (fw::Edit& edit : page->keyEdits) {
            EXPECT_FALSE(edit.IsWindowEnabled()) << wepReq;
            EXPECT_TRUE(edit.IsWindowVisible()) << wepReq;
        }
        EXPECT_FALSE(page->generateButton.IsWindowVisible());
    }
}

TEST_F(EncryptionPage, ModeChangesMoveBetweenTheStates)
{
    Open(2, kStored40, 4);
    SelectMode(nPEncryption::kMode128);
    EXPECT_FALSE(KeyEdit(1028).IsWindowVisible());
    EXPECT_FALSE(page->defaultKeyCombo.IsWindowVisible());
    EXPECT_EQ(page->defaultKeyCombo.GetCurSel(), 0);

    // Leaving "128 Bit" shows everything again but keeps key "1".
    SelectMode(nPEncryption::kModeDisabled);
    EXPECT_TRUE(KeyEdit(1034).IsWindowVisible());
    EXPECT_TRUE(page->defaultKeyCombo.IsWindowVisible());
    EXPECT_FALSE(KeyEdit(1015).IsWindowEnabled());
    EXPECT_FALSE(page->passphraseEdit.IsWindowEnabled());
    EXPECT_EQ(page->defaultKeyCombo.GetCurSel(), 0);

    SelectMode(nPEncryption::kMode64);
    EXPECT_TRUE(KeyEdit(1015).IsWindowEnabled());
    EXPECT_TRUE(page->passphraseEdit.IsWindowEnabled());
    EXPECT_FALSE(page->generateButton.IsWindowVisible());
}

TEST_F(EncryptionPage, EveryKeyEditIsMaskedWhateverIsStored)
{
    for (const std::string& stored : {kStored40, std::string(), std::string("zz"), std::string(48, 'f')}) {
        Open(2, stored, 1);
        for (fw::Edit& edit : page->keyEdits)
            EXPECT_EQ(edit.GetWindowText(), u"**") << stored;
        EXPECT_EQ(page->passphraseEdit.GetWindowText(), u"");
        EXPECT_FALSE(nPEncryption::inKeyNormalize);
    }
}

TEST_F(EncryptionPage, StoredDefaultKeyIdSelectsItsEntryOrNone)
{
    Open(2, kStored40, 3);
    EXPECT_EQ(page->defaultKeyCombo.GetCurSel(), 2);
    EXPECT_EQ(page->defaultKeyCombo.GetWindowText(), u"3");

    for (uint32_t keyId : {0u, 5u, 0xFFFFFFFFu}) {
        Open(2, kStored40, keyId);
        EXPECT_EQ(page->defaultKeyCombo.GetCurSel(), -1) << keyId;
    }
    // With no selection, Apply stores and sends key 0.
    Apply();
    EXPECT_EQ(ReadStored().defaultKeyId, 0u);
    EXPECT_EQ(BlockByte(block::kWepDefaultKeyId), 0);
}

// ---- The key grid ----

TEST_F(EncryptionPage, TypingIntoAnyKeyEditEmptiesThePassphrase)
{
    Open(2, kStored40, 1);
    for (int id = 1015; id <= 1034; ++id) {
        page->passphraseEdit.SetWindowText(u"secret");
        Type(KeyEdit(id), u"7");
        EXPECT_EQ(page->passphraseEdit.GetWindowText(), u"") << id;
    }
    // Typing into the passphrase itself does not touch the grid.
    Type(page->passphraseEdit, u"abc");
    EXPECT_EQ(page->passphraseEdit.GetWindowText(), u"abc");
}

TEST_F(EncryptionPage, KeyBytesFollowTheTwoDigitRule)
{
    Open(2, kStored40, 1);
    const std::pair<const char16_t*, const char16_t*> rows[] = {
        {u"**", u"**"}, {u"00", u"00"}, {u"7", u"7"},   {u"AB", u"AB"}, {u"0F", u"0F"},
        {u"1ab", u"1a"}, {u"100", u"10"}, {u"00A", u"00"}, {u"", u"0"}, {u"0", u"0"},
        {u"000", u"0"}, {u"G", u"0"},   {u"**5", u"0"}, {u"-1", u"ff"}, {u"1G", u"1G"},
        {u" 5", u" 5"}, {u"0x5", u"00"}, {u"0x1ab", u"1a"}, {u"-80000000", u"80"},
        {u"0a5", u"0a"}, {u"007", u"00"}, {u"0FF", u"0f"}, {u"+7a", u"07"},
        {u"FFFFFFFFFF", u"7f"}, {u"-FFFFFFFFFF", u"80"}, {u"\u0661", u"0"}, {u"+f", u"+f"},
    };
    for (const auto& [text, expected] : rows) {
        KeyEdit(1022).SetWindowText(text);
        EXPECT_EQ(Ascii(KeyEdit(1022).GetWindowText()), Ascii(expected)) << Ascii(text);
        EXPECT_FALSE(nPEncryption::inKeyNormalize);
    }
}

TEST_F(EncryptionPage, TypedDigitsAreCutToTwo)
{
    Open(2, kStored40, 1);
    fw::Edit& edit = KeyEdit(1015);
    // A digit typed after the stars makes a text that does not start with a number.
    Type(edit, u"5");
    EXPECT_EQ(edit.GetWindowText(), u"0");
    PressBackspace(edit);
    EXPECT_EQ(edit.GetWindowText(), u"0");
    edit.SetWindowText(u"1a");
    Type(edit, u"b");
    EXPECT_EQ(edit.GetWindowText(), u"1a");
    PressBackspace(edit);
    PressBackspace(edit);
    EXPECT_EQ(edit.GetWindowText(), u"0");
    edit.SetWindowText(u"00");
    EXPECT_EQ(edit.GetWindowText(), u"00");
}

TEST_F(EncryptionPage, EachKeyEditShowsTheByteApplyStores)
{
    Open(2, "", 1);
    // Typed one key at a time after a first digit: what each edit shows afterwards is what
    // the registry and the block receive.
    const std::pair<const char16_t*, const char16_t*> typed[] = {{u"0", u"a5"}, {u"0", u"07"}, {u"0", u"0A"},
                                                                 {u"1", u"ab"}, {u"f", u"f0"}};
    std::string shown;
    for (size_t i = 0; i < std::size(typed); ++i) {
        page->keyEdits[i].SetWindowText(typed[i].first);
        Type(page->keyEdits[i], typed[i].second);
        const std::string text = Ascii(page->keyEdits[i].GetWindowText());
        shown += std::string(2 - std::min<size_t>(text.size(), 2), '0') + text;
    }
    EXPECT_EQ(shown, "0a00001aff");
    Apply();
    EXPECT_EQ(Ascii(*ReadStored().defaultKeys).substr(0, 10), shown);
    EXPECT_EQ(BlockHex(10, 15), shown);
}

// ---- Apply ----

TEST_F(EncryptionPage, Apply64WithTypedKeysStoresAndSendsTheGrid)
{
    Open(2, "", 2);
    const std::u16string typed[20] = {u"1", u"AB", u"0F", u"-1", u"1G", u" 5", u"00A", u"00",
                                      u"7f", u"80", u"c",  u"d",  u"e",  u"f",  u"10", u"11",
                                      u"12", u"13", u"14", u"ff"};
    for (size_t i = 0; i < 20; ++i)
        page->keyEdits[i].SetWindowText(typed[i]);
    Apply();

    const std::string keys = "01ab0fff01050000"
                             "7f800c0d0e0f10111213"
                             "14ff";
    const Stored stored = ReadStored();
    EXPECT_EQ(stored.wepReq, 2u);
    EXPECT_EQ(stored.defaultKeys, U16(keys));
    EXPECT_EQ(stored.defaultKeyId, 2u);
    EXPECT_EQ(BlockHex(8, 10), "0202");
    EXPECT_EQ(BlockHex(10, 30), keys);
    EXPECT_EQ(BlockHex(30, 64), Repeat("a5", 34));
    EXPECT_EQ(block.cmdWord, 0x22000000u | kOtherMaskBits | 1u);
}

TEST_F(EncryptionPage, Apply64WithPassphraseGeneratesShowsStoresAndSends)
{
    Open(2, kStored40, 3);
    Type(page->passphraseEdit, u"badpw");
    Apply();

    // The keys a router and www.wepkey.com give for "badpw".
    const std::string keys = "02cb778981c27236dfb1c90c104fa2a804571cc0";
    for (size_t i = 0; i < 20; ++i)
        EXPECT_EQ(Ascii(page->keyEdits[i].GetWindowText()), keys.substr(2 * i, 2)) << i;
    EXPECT_EQ(page->passphraseEdit.GetWindowText(), u"");
    const Stored stored = ReadStored();
    EXPECT_EQ(stored.wepReq, 2u);
    EXPECT_EQ(stored.defaultKeys, U16(keys));
    EXPECT_EQ(stored.defaultKeyId, 3u);
    EXPECT_EQ(BlockHex(8, 30), "0203" + keys);

    // Applying again sends the same bytes, now read from the grid.
    std::memset(block.payload, kUntouched, sizeof block.payload);
    Apply();
    EXPECT_EQ(BlockHex(8, 30), "0203" + keys);
    EXPECT_EQ(ReadStored().defaultKeys, U16(keys));
}

TEST_F(EncryptionPage, Apply128WithPassphraseWritesThirteenBytes)
{
    Open(6, kStored40, 4);
    Type(page->passphraseEdit, u"foobar");
    Apply();

    const std::string key = "49d68437b1ffb0db3fdf2d4a93";  // published for "foobar"
    for (size_t i = 0; i < 20; ++i)
        EXPECT_EQ(Ascii(page->keyEdits[i].GetWindowText()), i < 13 ? key.substr(2 * i, 2) : "00") << i;
    EXPECT_EQ(page->passphraseEdit.GetWindowText(), u"");
    const Stored stored = ReadStored();
    EXPECT_EQ(stored.wepReq, 6u);
    EXPECT_EQ(stored.defaultKeys, U16(key));
    EXPECT_EQ(stored.defaultKeyId, 1u);
    EXPECT_EQ(BlockHex(8, 23), "0601" + key);
    EXPECT_EQ(BlockHex(23, 64), Repeat("a5", 41));
    EXPECT_EQ(block.cmdWord >> 24, CMD_SET_WEP);
}

TEST_F(EncryptionPage, TheSamePassphraseTwiceEndsEmptyBothTimes)
{
    Open(2, "", 1);
    for (int round = 0; round < 2; ++round) {
        page->passphraseEdit.SetWindowText(u"same words");
        Apply();
        EXPECT_EQ(page->passphraseEdit.GetWindowText(), u"") << round;
        EXPECT_EQ(Ascii(page->keyEdits[0].GetWindowText()), Hex(GenerateKeys64(u"same words")).substr(0, 2));
    }
}

TEST_F(EncryptionPage, ApplyDisabledWritesOnlyTheModeByte)
{
    Open(0, kStored40, 2);
    Apply();
    const Stored stored = ReadStored();
    EXPECT_EQ(stored.wepReq, 0u);
    EXPECT_EQ(stored.defaultKeys, U16(kStored40.substr(0, 26)));
    EXPECT_EQ(stored.defaultKeyId, 2u);
    EXPECT_EQ(BlockByte(8), 0);
    EXPECT_EQ(BlockHex(9, 64), Repeat("a5", 55));
    EXPECT_EQ(block.cmdWord, 0x22000000u | kOtherMaskBits | 1u);
}

TEST_F(EncryptionPage, DisabledWithPassphraseStoresTheFirst26StoredDigits)
{
    Open(2, "0123456789ABCDEF0123456789abcdef01234567", 1);
    page->passphraseEdit.SetWindowText(u"left behind");
    SelectMode(nPEncryption::kModeDisabled);
    Apply();
    EXPECT_EQ(ReadStored().defaultKeys, u"0123456789abcdef0123456789");
    EXPECT_EQ(page->passphraseEdit.GetWindowText(), u"left behind");
    for (fw::Edit& edit : page->keyEdits)
        EXPECT_EQ(edit.GetWindowText(), u"**");
}

// An untouched grid keeps the stored keys: applying to change only the default key must
// not wipe them (the masked edits are not read as 0).
TEST_F(EncryptionPage, ApplyWithAnUntouchedGridKeepsTheStoredKeys)
{
    Open(2, kStored40, 1);
    page->defaultKeyCombo.SetCurSel(3);
    Apply();
    EXPECT_EQ(ReadStored().defaultKeys, U16(kStored40));
    EXPECT_EQ(ReadStored().defaultKeyId, 4u);
    EXPECT_EQ(BlockHex(8, 30), "0204" + kStored40);

    // One typed byte replaces only its own place.
    KeyEdit(1020).SetWindowText(u"ee");
    Apply();
    std::string expected = kStored40;
    expected.replace(10, 2, "ee");
    EXPECT_EQ(ReadStored().defaultKeys, U16(expected));
    EXPECT_EQ(BlockHex(10, 30), expected);
}

TEST_F(EncryptionPage, StoredKeysLoadPairByPair)
{
    // An odd length: the last character is ignored; missing bytes are 0.
    Open(2, "0102030", 1);
    Apply();
    EXPECT_EQ(ReadStored().defaultKeys, U16("010203" + std::string(34, '0')));

    // More than 40 characters: the first 20 pairs count.
    Open(2, kStored40 + "ffff", 1);
    Apply();
    EXPECT_EQ(ReadStored().defaultKeys, U16(kStored40));

    // A pair that is not two hex digits loads its leading digits' value, or 0.
    Open(2, "1GG1zz 1-10a", 1);
    Apply();
    EXPECT_EQ(ReadStored().defaultKeys, U16("01000000000a" + std::string(28, '0')));
}

TEST_F(EncryptionPage, ApplySuspendsAfterTheCodeIsSet)
{
    Open(2, kStored40, 1);
    Apply();
    ASSERT_EQ(suspensions.size(), 1u);
    EXPECT_EQ(suspensions[0], 1100ms);
    EXPECT_EQ(cmdWordAtSuspension[0] >> 24, CMD_SET_WEP);
}

TEST_F(EncryptionPage, HasItsRuntimeClassAndTemplate)
{
    Open(0, "", 0);
    EXPECT_EQ(page->GetRuntimeClass()->className, "nPEncryption");
    EXPECT_EQ(page->GetTemplate().id, 133);
    auto created = nPEncryption::runtimeClass.CreateObject();
    EXPECT_NE(dynamic_cast<nPEncryption*>(created.get()), nullptr);
}
