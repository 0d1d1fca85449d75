#include "wep/Md5Digest.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

std::string HexOf(std::string_view message)
{
    Md5Digest digest;
    digest.Update(message.data(), message.size());
    digest.Finalize();
    return digest.HexDigest();
}

std::vector<uint8_t> Pattern(size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 8) + 7);
    return bytes;
}

std::string HexInPieces(const std::vector<uint8_t>& message, const std::vector<size_t>& pieces)
{
    Md5Digest digest;
    size_t at = 0;
    for (size_t piece : pieces) {
        digest.Update(std::span(message).subspan(at, piece));
        at += piece;
    }
    digest.Update(std::span(message).subspan(at));
    digest.Finalize();
    return digest.HexDigest();
}

} // namespace

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Digest, GivesTheAnswersOfTheRfcTestSuite)
{
    EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HexOf("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// The padding takes one block or two depending on how many bytes the last block holds:
// the lengths around 56 and 64 bytes are where a wrong rule shows. Reference values from an
// independent MD5 (Python's hashlib), and the well-known digest of a million "a".
TEST(Md5Digest, PadsCorrectlyAroundTheBlockBoundaries)
{
    const std::pair<size_t, std::string_view> cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},  {65, "c743a45e0d2e6a95cb859adae0248435"},
        {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
        {127, "020406e1d05cdc2aa287641f7ae2cc39"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
        {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& [length, hex] : cases)
        EXPECT_EQ(HexOf(std::string(length, 'a')), hex) << length << " bytes";
}

TEST(Md5Digest, GivesTheSameDigestWhateverThePieces)
{
    const std::vector<uint8_t> block = Pattern(64);
    const std::string whole = HexInPieces(block, {});
    EXPECT_EQ(HexInPieces(block, {1}), whole);
    EXPECT_EQ(HexInPieces(block, std::vector<size_t>(64, 1)), whole);
    EXPECT_EQ(HexInPieces(block, {0, 0, 64, 0}), whole);

    // Every split point of a message of a few blocks, and uneven pieces crossing blocks.
    const std::vector<uint8_t> message = Pattern(300);
    const std::string reference = HexInPieces(message, {});
    for (size_t split = 0; split <= message.size(); ++split)
        ASSERT_EQ(HexInPieces(message, {split}), reference) << "split at " << split;
    EXPECT_EQ(HexInPieces(message, {3, 61, 1, 127, 65, 7}), reference);
}

TEST(Md5Digest, AnswersEmptyValuesBeforeFinalize)
{
    Md5Digest digest;
    digest.Update("abc", 3);
    EXPECT_FALSE(digest.IsFinalized());
    EXPECT_TRUE(digest.RawDigest().empty());
    EXPECT_EQ(digest.HexDigest(), "");
}

TEST(Md5Digest, IgnoresUpdateAndFinalizeOnceFinalized)
{
    Md5Digest digest;
    digest.Update("abc", 3);
    digest.Finalize();
    const std::vector<uint8_t> raw = digest.RawDigest();
    digest.Update("more", 4);
    digest.Finalize();
    EXPECT_EQ(digest.RawDigest(), raw);
    EXPECT_EQ(digest.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Digest, RawDigestIsTheHexDigestAsSixteenBytes)
{
    Md5Digest digest;
    digest.Update("message digest", 14);
    digest.Finalize();
    const std::vector<uint8_t> raw = digest.RawDigest();
    ASSERT_EQ(raw.size(), Md5Digest::kDigestBytes);
    const std::vector<uint8_t> expected{0xf9, 0x6b, 0x69, 0x7d, 0x7c, 0xb7, 0x93, 0x8d,
                                        0x52, 0x5a, 0x2f, 0x31, 0xaa, 0xf1, 0x61, 0xd0};
    EXPECT_EQ(raw, expected);
}
