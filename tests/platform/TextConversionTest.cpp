#include "platform/TextConversion.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

using platform::WideToAnsi;
using platform::WideToCodePage;

namespace {

constexpr size_t kCapacity = 33;
constexpr uint8_t kUntouched = 0xEE;

// The converted bytes, or "(0)" with a check that the buffer was left alone.
std::string Convert(std::u16string_view text, const std::string& codePage, size_t capacity = kCapacity)
{
    std::vector<uint8_t> out(capacity, kUntouched);
    size_t count = WideToCodePage(text, out, codePage);
    if (count == 0) {
        for (uint8_t byte : out)
            EXPECT_EQ(byte, kUntouched) << "a text that does not fit leaves the buffer alone";
        return "(0)";
    }
    EXPECT_LE(count, capacity);
    for (size_t i = count; i < capacity; ++i)
        EXPECT_EQ(out[i], kUntouched) << "no terminator or scratch bytes after the text";
    return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count));
}

std::string Utf8(std::u16string_view text) { return Convert(text, "UTF-8"); }
std::string Latin1(std::u16string_view text) { return Convert(text, "ISO-8859-1"); }

std::string ProbeCodePage(const std::string& locale)
{
    std::string command = "env -i LC_ALL=" + locale + " " WLAN_CODEPAGE_PROBE;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "(no probe)";
    char line[128] = {};
    std::string result = std::fgets(line, sizeof line, pipe) ? line : "(no output)";
    pclose(pipe);
    if (!result.empty() && result.back() == '\n')
        result.pop_back();
    return result;
}

TEST(TextConversion, NamesThatFitAreConvertedWholeWithoutATerminator)
{
    EXPECT_EQ(Utf8(u"HomeNet"), "HomeNet");
    EXPECT_EQ(Latin1(u"HomeNet"), "HomeNet");
    EXPECT_EQ(Utf8(std::u16string(33, u'x')), std::string(33, 'x'));
    EXPECT_EQ(Utf8(u"caf\u00e9"), "caf\xc3\xa9");
    EXPECT_EQ(Latin1(u"caf\u00e9"), "caf\xe9");
    EXPECT_EQ(Utf8(std::u16string(11, u'\u65e5')), [] {
        std::string s;
        for (int i = 0; i < 11; ++i)
            s += "\xe6\x97\xa5";
        return s;
    }());
    EXPECT_EQ(Utf8(u"\U0001F600"), "\xf0\x9f\x98\x80") << "a surrogate pair is one character";
}

TEST(TextConversion, NamesThatDoNotFitGiveZeroNotATruncatedName)
{
    EXPECT_EQ(Utf8(std::u16string(34, u'x')), "(0)");
    EXPECT_EQ(Latin1(std::u16string(34, u'x')), "(0)");
    EXPECT_EQ(Utf8(std::u16string(12, u'\u65e5')), "(0)") << "36 bytes";
    EXPECT_EQ(Utf8(std::u16string(17, u'\u00e9')), "(0)") << "34 bytes from 17 characters";
    EXPECT_EQ(Utf8(std::u16string(32, u'a') + u"\u00e9"), "(0)") << "the last character straddles the end";
    EXPECT_EQ(Latin1(std::u16string(32, u'a') + u"\u00e9"), std::string(32, 'a') + "\xe9");
    EXPECT_EQ(Utf8(std::u16string(10'000, u'n')), "(0)");
    EXPECT_EQ(Utf8(std::u16string(10'000, u'\xD800')), "(0)");
    EXPECT_EQ(Utf8(u""), "(0)");
    EXPECT_EQ(Convert(u"x", "UTF-8", 0), "(0)");
}

TEST(TextConversion, CombiningSequencesArePrecomposedFirst)
{
    EXPECT_EQ(Utf8(u"e\u0301"), "\xc3\xa9");
    EXPECT_EQ(Latin1(u"Cafe\u0301"), "Caf\xe9");
    // 33 decomposed letters take 99 bytes as they stand but 66 precomposed: still too many,
    // while 16 fit in 32 bytes.
    std::u16string decomposed;
    for (int i = 0; i < 16; ++i)
        decomposed += u"e\u0301";
    EXPECT_EQ(Utf8(decomposed).size(), 32u);
    EXPECT_EQ(Latin1(decomposed), std::string(16, '\xe9'));
}

TEST(TextConversion, CharactersTheCodePageCannotCarryBecomeQuestionMarks)
{
    EXPECT_EQ(Latin1(u"caf\u00e9 \u65e5\u672c"), "caf\xe9 ??");
    EXPECT_EQ(Latin1(u"\U0001F600!"), "?!") << "one character, one mark";
    EXPECT_EQ(Latin1(u"\u0101"), "?") << "no best-fit letter";
}

TEST(TextConversion, LoneSurrogatesBecomeQuestionMarks)
{
    EXPECT_EQ(Utf8(u"a\xD800" u"b"), "a?b");
    EXPECT_EQ(Utf8(u"a\xDC00" u"b"), "a?b");
    EXPECT_EQ(Utf8(u"ab\xD83D"), "ab?");
    EXPECT_EQ(Utf8(u"\xDE00\xD83D"), "??") << "a pair in the wrong order is two lone halves";
    EXPECT_EQ(Latin1(u"\xD800\xD800\xDC00"), "??") << "a lone high half, then a pair";
}

TEST(TextConversion, NulInsideTheTextIsCarriedAsAByte)
{
    EXPECT_EQ(Utf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextConversion, StatefulCodePagesEndInTheirInitialState)
{
    EXPECT_EQ(Convert(u"\u65e5", "ISO-2022-JP"), "\x1b$BF|\x1b(B");
    EXPECT_EQ(Convert(u"\u65e5", "ISO-2022-JP", 7), "(0)") << "the closing shift must fit too";
}

TEST(TextConversion, UnknownCodePageGivesZero)
{
    EXPECT_EQ(Convert(u"HomeNet", "NO-SUCH-CODE-PAGE"), "(0)");
}

TEST(TextConversion, TheAnsiCodePageIsTheLocalesOrUtf8InTheCLocale)
{
    std::string before = std::setlocale(LC_ALL, nullptr);
    std::string codePage = platform::AnsiCodePage();
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before) << "the process locale is left alone";

    std::array<uint8_t, kCapacity> viaLocale{}, viaName{};
    size_t count = WideToAnsi(u"caf\u00e9 \u65e5", viaLocale);
    EXPECT_EQ(count, WideToCodePage(u"caf\u00e9 \u65e5", viaName, codePage));
    EXPECT_EQ(viaLocale, viaName);

    EXPECT_EQ(ProbeCodePage("C"), "UTF-8");
    EXPECT_EQ(ProbeCodePage("POSIX"), "UTF-8");
    EXPECT_EQ(ProbeCodePage("C.UTF-8"), "UTF-8");
    EXPECT_EQ(ProbeCodePage("no_SUCH.locale"), "UTF-8");
}

} // namespace
