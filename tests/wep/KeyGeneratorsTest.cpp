#include "wep/KeyGenerators.h"
#include "wep/Md5Digest.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::string Key1Of64(std::u16string_view passphrase) { return Hex(GenerateKeys64(passphrase)).substr(0, 10); }

std::string Md5Prefix26(const std::string& message)
{
    Md5Digest digest;
    digest.Update(message.data(), message.size());
    digest.Finalize();
    return digest.HexDigest().substr(0, 26);
}

} // namespace

// Keys that other equipment and tools publish for the same two methods.
TEST(KeyGenerators, Keys64MatchPublishedKeys)
{
    // All four keys of "badpw", from a router and www.wepkey.com, as quoted in
    // https://security.stackexchange.com/questions/110887
    EXPECT_EQ(Hex(GenerateKeys64(u"badpw")), "02cb778981c27236dfb1c90c104fa2a804571cc0");
    // Key 1 of each passphrase, generated with a Linksys WRT160: repository rockymeza/wifi,
    // test/test_keyderiv.py.
    EXPECT_EQ(Key1Of64(u"foobar"), "a4beb3b8ec");
    EXPECT_EQ(Key1Of64(u"z"), "b5715b3121");
    EXPECT_EQ(Key1Of64(u"zazazax"), "2039c027b1");
    EXPECT_EQ(Key1Of64(u"lorem ipsum"), "a04599bf1b");
    EXPECT_EQ(Key1Of64(u"Lorem Ipsum"), "9798f4b529");
    // A router's 64-bit key for "my_wireless", quoted in
    // http://www.linuxquestions.org/questions/linux-wireless-networking-41/ascii-to-hex-offline-generator-for-wep-connection-724946/
    EXPECT_EQ(Key1Of64(u"my_wireless"), "6620af017c");
}

TEST(KeyGenerators, Key128MatchesPublishedKeys)
{
    // Linksys WRT160: repository rockymeza/wifi, test/test_keyderiv.py.
    EXPECT_EQ(Hex(GenerateKey128(u"foobar")), "49d68437b1ffb0db3fdf2d4a93");
    EXPECT_EQ(Hex(GenerateKey128(u"foobara")), "48d5dcff3b82ce7dc18961b0b2");
    EXPECT_EQ(Hex(GenerateKey128(u"x")), "c1bb4f81d892b2d57947682aeb");
    EXPECT_EQ(Hex(GenerateKey128(u"xa")), "26ac564e2b268e107abbbc8c36");
    EXPECT_EQ(Hex(GenerateKey128(u"xaf")), "19467282900981a3e213da186b");
    EXPECT_EQ(Hex(GenerateKey128(u"aaaaaaaaaaaaaaaa")), "014842d480b571495a4a036379");
    // https://mail.gnome.org/archives/networkmanager-list/2007-December/msg00226.html
    EXPECT_EQ(Hex(GenerateKey128(u"abcdefghijklm")), "f343dcef2a6ea4ce5d63dabc45");
    // The linuxquestions.org thread above, the router's 128-bit key.
    EXPECT_EQ(Hex(GenerateKey128(u"my_wireless")), "72aa25cd43364d09986bf0b5b9");
}

TEST(KeyGenerators, Keys64OfTheEmptyPassphraseComeFromSeedZero)
{
    // The first state after seed 0 is the increment 0x269EC3 itself: byte 0x26.
    const auto empty = GenerateKeys64(u"");
    EXPECT_EQ(empty[0], 0x26);
    EXPECT_EQ(Hex(empty), "2627f6859715ad1dd294ddc476193931f1adb558");
    // Four characters followed by the same four cancel out, position by position.
    EXPECT_EQ(GenerateKeys64(u"wxyzwxyz"), empty);
    EXPECT_EQ(GenerateKeys64(u"\u0141b\u0143dAbCd"), empty);
}

TEST(KeyGenerators, CharactersCountByTheirLowByteOnly)
{
    const std::u16string ascii = u"Apple pie";
    const std::u16string wide = u"\u0141pple pi\u0165";  // U+0141 for A, U+0165 for e
    EXPECT_EQ(GenerateKeys64(wide), GenerateKeys64(ascii));
    EXPECT_EQ(GenerateKey128(wide), GenerateKey128(ascii));
    EXPECT_EQ(GenerateKey128(u"\uFF78"), GenerateKey128(u"x"));
}

TEST(KeyGenerators, Key128RepeatsThePassphraseToSixtyFourBytes)
{
    EXPECT_EQ(Hex(GenerateKey128(u"q")), Md5Prefix26(std::string(64, 'q')));
    std::string threeChars;
    for (int i = 0; i < 21; ++i)
        threeChars += "c0!";
    threeChars += "c";
    EXPECT_EQ(Hex(GenerateKey128(u"c0!")), Md5Prefix26(threeChars));
    // Exactly 64 characters are taken as they are.
    const std::string sixtyFour = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";
    EXPECT_EQ(Hex(GenerateKey128(std::u16string(sixtyFour.begin(), sixtyFour.end()))), Md5Prefix26(sixtyFour));
}

TEST(KeyGenerators, OnlyTheFirstSixtyFourCharactersCountFor128Bit)
{
    std::u16string a(70, u'k');
    std::u16string b = a;
    b.back() = u'm';
    EXPECT_EQ(GenerateKey128(a), GenerateKey128(b));
    EXPECT_NE(GenerateKeys64(a), GenerateKeys64(b));
}

TEST(KeyGenerators, Key128OfTheEmptyPassphraseDigestsSixtyFourZeroBytes)
{
    // No character fills the block, so it stays zero: MD5 of 64 zero bytes is
    // 3b5d3c7d207e37dceeedd301e35e2e58.
    EXPECT_EQ(Hex(GenerateKey128(u"")), "3b5d3c7d207e37dceeedd301e3");
    EXPECT_EQ(Hex(GenerateKey128(u"")), Md5Prefix26(std::string(64, '\0')));
}
