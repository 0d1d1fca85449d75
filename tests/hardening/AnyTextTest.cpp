// Text of any length and any UTF-16 unit, through every edit and the registry file: a name of
// 10,000 characters, lone surrogates, NUL, line breaks, quotes and backslashes. What the
// stores keep comes back unit for unit, what the block cannot carry is sent with a count of
// 0, and nothing crashes.
#include "app/WlanSettings.h"
#include "app/nApp.h"
#include "framework/Types.h"
#include "link/ConnectBlock.h"
#include "pages/nPConfig.h"
#include "pages/nPEncryption.h"
#include "pages/nPLinkInfo.h"
#include "platform/RegistryKey.h"
#include "platform/Suspend.h"
#include "support/TestEnvironment.h"
#include "wep/KeyGenerators.h"

#include <QLineEdit>
#include <QString>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Units that plain quoted text cannot carry or that a careless reader mangles.
constexpr char16_t kAwkward[] = {u'\0', u'\r', u'\n', u'"', u'\\', u'\t', u'[', u']', u'=', u'@', u',', 0x7F,
                                 0xA0, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFEFF, 0xFFFE, 0xFFFF};

// A random text mixing ASCII, awkward units and well-formed surrogate pairs.
std::u16string RandomText(std::mt19937& random, size_t length)
{
    std::u16string text;
    while (text.size() < length) {
        switch (random() % 4) {
        case 0:
            text += kAwkward[random() % std::size(kAwkward)];
            break;
        case 1:
            text += static_cast<char16_t>(random() % 0x10000);
            break;
        case 2:
            text += {static_cast<char16_t>(0xD800 + random() % 0x400), static_cast<char16_t>(0xDC00 + random() % 0x400)};
            break;
        default:
            text += static_cast<char16_t>(u' ' + random() % 95);
        }
    }
    text.resize(length);
    return text;
}

std::string Bytes(std::u16string_view text, bool terminated)
{
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    if (terminated)
        bytes.append(2, '\0');
    return bytes;
}

class AnyTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testenv::WriteFile(registryFile_, "Windows Registry Editor Version 5.00\r\n\r\n"
                                          "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                                          "\"TxRate\"=dword:0000000f\r\n\r\n");
        previousView_ = theApp.connectView;
        theApp.connectView = &block_;
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
        previousHook_ = platform::SetSuspendHook([](std::chrono::milliseconds) {});
    }

    void TearDown() override
    {
        platform::SetSuspendHook(previousHook_);
        theApp.connectView = previousView_;
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
    }

    static std::string Stored(std::u16string_view name)
    {
        auto key = platform::RegistryKey::Open(kDriverParmsKey, platform::Access::Query);
        if (!key)
            return "<no key>";
        uint32_t size = 0;
        if (key->QueryValue(name, nullptr, &size) != platform::ERROR_SUCCESS)
            return "<no value>";
        std::string data(size, '\0');
        if (key->QueryValue(name, data.data(), &size) != platform::ERROR_SUCCESS)
            return "<unreadable>";
        return data;
    }

    // Pastes into the edit as the user does: the text goes through the edit's own limit.
    static void Paste(fw::Edit& edit, std::u16string_view text)
    {
        auto* line = dynamic_cast<QLineEdit*>(edit.GetSafeWidget());
        ASSERT_NE(line, nullptr);
        line->setFocus();
        line->selectAll();
        line->insert(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
    }

    uint16_t BlockU16(size_t offset) const
    {
        uint16_t value;
        std::memcpy(&value, reinterpret_cast<const uint8_t*>(&block_) + offset, sizeof value);
        return value;
    }
    const uint8_t* BlockBytes() const { return reinterpret_cast<const uint8_t*>(&block_); }

    testenv::TempDir dir_;
    std::filesystem::path registryFile_ = dir_ / "registry.reg";
    testenv::ScopedEnv registryEnv_{"WLAN_REGISTRY_FILE", registryFile_.string()};
    ConnectBlock block_{};

private:
    ConnectBlock* previousView_ = nullptr;
    platform::SuspendHook previousHook_;
};

TEST_F(AnyTextTest, TheRegistryFileCarriesAnyUtf16StringExactly)
{
    std::mt19937 random(20261208);
    std::vector<std::pair<std::u16string, std::string>> written;
    for (int round = 0; round < 4; ++round) {
        {
            auto key = platform::RegistryKey::Create(u"Comm\\Any");
            ASSERT_TRUE(key);
            for (int i = 0; i < 100; ++i) {
                const size_t length = i == 0 ? 10000 : random() % (i % 10 == 0 ? 2000 : 40);
                const std::u16string text = RandomText(random, length);
                // With and without the terminator, and one with an odd byte left over.
                std::string bytes = Bytes(text, i % 3 != 0);
                if (i % 17 == 0)
                    bytes += 'x';
                // Names compare without case, so they differ in digits only.
                const std::string digits = std::to_string(round * 1000 + i);
                const std::u16string name = u"v" + std::u16string(digits.begin(), digits.end());
                ASSERT_EQ(key->SetValue(name, platform::REG_SZ, bytes.data(), static_cast<uint32_t>(bytes.size())),
                          platform::ERROR_SUCCESS);
                written.emplace_back(name, bytes);
            }
            ASSERT_EQ(key->Close(), platform::ERROR_SUCCESS);
        }
        auto key = platform::RegistryKey::Open(u"Comm\\Any", platform::Access::Query);
        ASSERT_TRUE(key);
        for (const auto& [name, bytes] : written) {
            std::string back(bytes.size() + 8, '\0');
            uint32_t size = static_cast<uint32_t>(back.size());
            uint32_t type = 0;
            ASSERT_EQ(key->QueryValue(name, back.data(), &size, &type), platform::ERROR_SUCCESS);
            back.resize(size);
            EXPECT_EQ(type, platform::REG_SZ);
            ASSERT_EQ(back, bytes) << "value of " << bytes.size() << " bytes, round " << round;
        }
    }
    // The settings written by the other tests' pages are untouched by all this.
    EXPECT_EQ(Stored(u"TxRate"), std::string("\x0f\0\0\0", 4));
}

TEST_F(AnyTextTest, ANameOfTenThousandAwkwardCharactersIsRefusedPastedAndSavedWholeWhenStored)
{
    std::mt19937 random(7);
    const std::u16string name = RandomText(random, 10000);
    nPConfig page;
    ASSERT_TRUE(page.Create());
    std::memset(block_.payload, 0xEE, sizeof block_.payload);

    // Pasted: refused whole, as the block could not carry it.
    page.ssidEdit.SetWindowText(u"");
    Paste(page.ssidEdit, name);
    ASSERT_EQ(page.ssidEdit.GetWindowText(), u"");
    // Stored (as a name loaded from the registry is shown): kept whole.
    page.ssidEdit.SetWindowText(name);
    ASSERT_EQ(page.ssidEdit.GetWindowText(), name);
    page.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED));

    EXPECT_EQ(theApp.SSID, name);
    EXPECT_EQ(Stored(u"SSID"), Bytes(name, true));
    EXPECT_EQ(BlockU16(block::kConfigNameCount), 0) << "the block cannot carry it";
    EXPECT_EQ(BlockBytes()[block::kConfigName], 0xEE) << "and no byte of it is written";
    EXPECT_EQ(block_.cmdWord >> 24, CMD_SET_CONFIG);

    // Longer than the record reads back: the next start has an empty name and every other
    // value as applied.
    WlanSettings next;
    next.LoadSettings();
    EXPECT_EQ(next.SSID, u"");
    EXPECT_EQ(next.TxRate, theApp.TxRate);
    EXPECT_EQ(next.DSChannel, theApp.DSChannel);
}

TEST_F(AnyTextTest, AwkwardNamesThatFitTheRecordComeBackUnitForUnit)
{
    std::mt19937 random(11);
    for (int i = 0; i < 20; ++i) {
        std::u16string name = RandomText(random, 1 + random() % 128);
        // What the record keeps ends at a NUL, as the system's strings do.
        const std::u16string kept = name.substr(0, name.find(u'\0'));
        theApp.SSID = {};
        nPConfig page;
        ASSERT_TRUE(page.Create());
        page.ssidEdit.SetWindowText(name);
        page.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED));
        ASSERT_EQ(Stored(u"SSID"), Bytes(name, true));
        EXPECT_LE(BlockU16(block::kConfigNameCount), block::kConfigNameCapacity);

        WlanSettings next;
        next.LoadSettings();
        ASSERT_EQ(next.SSID, kept) << "length " << name.size();

        // The next start shows it in the edit as loaded.
        theApp.SSID = next.SSID;
        nPConfig shown;
        ASSERT_TRUE(shown.Create());
        EXPECT_EQ(shown.ssidEdit.GetWindowText(), kept);
    }
}

TEST_F(AnyTextTest, PassphrasesOfAnyTextGenerateFromEveryCharacter)
{
    std::mt19937 random(3);
    const std::vector<std::u16string> passphrases{RandomText(random, 10000), std::u16string(u"a\0b", 3),
                                                  std::u16string(1, char16_t(0xD800)), RandomText(random, 300)};
    for (const std::u16string& passphrase : passphrases) {
        for (int mode : {nPEncryption::kMode64, nPEncryption::kMode128}) {
            theApp.WepReq = mode == nPEncryption::kMode64 ? 2 : 6;
            theApp.DefaultKeyId = 1;
            nPEncryption page;
            ASSERT_TRUE(page.Create());
            Paste(page.passphraseEdit, passphrase);
            ASSERT_EQ(page.passphraseEdit.GetWindowText(), passphrase);
            page.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED));

            std::vector<uint8_t> expected;
            if (mode == nPEncryption::kMode64) {
                const auto keys = GenerateKeys64(passphrase);
                expected.assign(keys.begin(), keys.end());
            } else {
                const auto key = GenerateKey128(passphrase);
                expected.assign(key.begin(), key.end());
            }
            std::u16string digits;
            for (uint8_t byte : expected) {
                static constexpr char16_t kHex[] = u"0123456789abcdef";
                digits += {kHex[byte >> 4], kHex[byte & 15]};
            }
            EXPECT_EQ(Stored(u"DefaultKeys"), Bytes(digits, true)) << "passphrase of " << passphrase.size();
            EXPECT_EQ(std::vector<uint8_t>(BlockBytes() + block::kWepKeys, BlockBytes() + block::kWepKeys + expected.size()),
                      expected);
            EXPECT_EQ(page.passphraseEdit.GetWindowText(), u"");
        }
    }
}

TEST_F(AnyTextTest, KeyEditsTakeAnyTextAndKeepTwoDigitsAtMost)
{
    std::mt19937 random(5);
    theApp.WepReq = 2;
    theApp.DefaultKeyId = 1;
    nPEncryption page;
    ASSERT_TRUE(page.Create());
    for (size_t i = 0; i < nPEncryption::kGridBytes; ++i) {
        // Typed text is cut by the edit's limit and then by the two-digit rule; text set by
        // the program goes through whole, and only its value counts.
        if (i % 2 == 0) {
            Paste(page.keyEdits[i], RandomText(random, 10000));
            EXPECT_LE(page.keyEdits[i].GetWindowText().size(), 2u) << "key edit " << i;
        } else {
            page.keyEdits[i].SetWindowText(RandomText(random, 1 + random() % 50));
        }
    }
    page.keyEdits[3].SetWindowText(std::u16string(10000, u'f'));
    EXPECT_LE(page.keyEdits[3].GetWindowText().size(), 2u) << "a long number is cut to two digits";
    page.keyEdits[0].SetWindowText(std::u16string(u"\0" u"1", 2));
    page.keyEdits[1].SetWindowText(std::u16string(1, char16_t(0xDC00)));
    page.keyEdits[2].SetWindowText(u"fF");
    page.SendMessage(fw::WM_COMMAND, fw::MakeWParam(1009, fw::BN_CLICKED));

    // Whatever was typed, 40 lower-case digits are stored and 20 bytes sent.
    const std::string stored = Stored(u"DefaultKeys");
    ASSERT_EQ(stored.size(), 82u);
    for (size_t i = 0; i < 40; ++i) {
        const char c = stored[i * 2];
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << i;
        EXPECT_EQ(stored[i * 2 + 1], '\0');
    }
    EXPECT_EQ(BlockBytes()[block::kWepKeys], 0) << "a text not starting with a digit is 0";
    EXPECT_EQ(BlockBytes()[block::kWepKeys + 1], 0);
    EXPECT_EQ(BlockBytes()[block::kWepKeys + 2], 0xFF);
}

TEST_F(AnyTextTest, TheStatusFieldsTakeAnyTextUntilTheNextTick)
{
    std::mt19937 random(9);
    nPLinkInfo page;
    ASSERT_TRUE(page.Create());
    for (fw::Edit* edit : {&page.linkStateEdit, &page.txRateEdit, &page.linkQualityEdit, &page.signalStrengthEdit,
                           &page.channelEdit}) {
        const std::u16string text = RandomText(random, 10000);
        Paste(*edit, text);
        EXPECT_EQ(edit->GetWindowText(), text);
    }
    block_.statusWord = 0x01000000;
    page.SendMessage(fw::WM_TIMER, 1);
    EXPECT_EQ(page.linkStateEdit.GetWindowText(), u"WLAN Card In");
    EXPECT_EQ(page.channelEdit.GetWindowText(), u"*");
}

} // namespace
