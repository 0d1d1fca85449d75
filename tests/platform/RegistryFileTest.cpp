// The registry file's text format on its own: what it reads, what it writes, what it refuses.

#include "platform/RegistryFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using platform::regfile::Document;
using platform::regfile::Key;
using platform::regfile::ParseError;
using platform::regfile::Value;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

std::vector<uint8_t> Bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> bytes;
    for (int b : list)
        bytes.push_back(static_cast<uint8_t>(b));
    return bytes;
}

std::vector<uint8_t> Utf16Data(std::u16string_view text, bool terminator = true)
{
    std::vector<uint8_t> data;
    for (char16_t u : text) {
        data.push_back(static_cast<uint8_t>(u));
        data.push_back(static_cast<uint8_t>(u >> 8));
    }
    if (terminator)
        data.insert(data.end(), {0, 0});
    return data;
}

Document Parsed(std::string_view bytes)
{
    auto result = Document::Parse(bytes);
    if (auto* error = std::get_if<ParseError>(&result)) {
        ADD_FAILURE() << "line " << error->line << ": " << error->message;
        return {};
    }
    return std::get<Document>(result);
}

std::optional<ParseError> ErrorOf(std::string_view bytes)
{
    auto result = Document::Parse(bytes);
    if (auto* error = std::get_if<ParseError>(&result))
        return *error;
    return std::nullopt;
}

// UTF-8 text as UTF-16LE with its byte-order mark, as the registry editor writes it.
std::string Utf16LeOf(std::string_view utf8)
{
    std::string out = "\xFF\xFE";
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        unsigned unit = c;
        if (c >= 0xC0) {  // the texts here hold only two-byte sequences besides ASCII
            unit = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
        }
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

std::string ToUtf16Le(std::string_view ascii)
{
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

TEST(RegistryFileTest, ReadsWhatTheRegistryEditorExports)
{
    const Document document = Parsed(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; exported for the handheld\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
        "@=\"default\"\r\n"
        "\"SSID\"=\"a \\\"quoted\\\" back\\\\slash\"\r\n"
        "\"TxRate\"=dword:0000000F\r\n"
        "\"Blob\"=hex:de,ad,\\\r\n"
        "  be,ef\r\n"
        "\"Path\"=hex(2):25,00,00,00\r\n"
        "\"Big\"=hex(b):01,02,03,04,05,06,07,08\r\n"
        "\"Empty\"=hex:\r\n"
        "\"Unicode\"=\"Gr\xC3\xBC\xC3\x9F \xF0\x9F\x93\xB6\"\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Other]\r\n"
        "\"x\"=dword:1\r\n");

    ASSERT_EQ(document.Keys().size(), 2u);
    const Key& parms = document.Keys()[0];
    EXPECT_EQ(parms.path, u"HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms");
    ASSERT_EQ(parms.values.size(), 8u);
    EXPECT_EQ(parms.values[0], (Value{u"", 1, Utf16Data(u"default")}));
    EXPECT_EQ(parms.values[1], (Value{u"SSID", 1, Utf16Data(u"a \"quoted\" back\\slash")}));
    EXPECT_EQ(parms.values[2], (Value{u"TxRate", 4, Bytes({0x0f, 0, 0, 0})}));
    EXPECT_EQ(parms.values[3], (Value{u"Blob", 3, Bytes({0xde, 0xad, 0xbe, 0xef})}));
    EXPECT_EQ(parms.values[4], (Value{u"Path", 2, Bytes({0x25, 0, 0, 0})}));
    EXPECT_EQ(parms.values[5], (Value{u"Big", 0xb, Bytes({1, 2, 3, 4, 5, 6, 7, 8})}));
    EXPECT_EQ(parms.values[6], (Value{u"Empty", 3, {}}));
    EXPECT_EQ(parms.values[7], (Value{u"Unicode", 1, Utf16Data(u"Gr\u00FC\u00DF \U0001F4F6")}));
    EXPECT_EQ(document.Keys()[1].values[0], (Value{u"x", 4, Bytes({1, 0, 0, 0})}));
}

// The same settings as the registry editor exports them in each of its formats: version 5 in
// UTF-16LE, version 4 in 8-bit text with its strings' hex bytes in 8 bits too. Deletions act in
// file order, and each file is written back as it came.
TEST(RegistryFileTest, ReadsBothExportFormatsAndTheirDeletionsInFileOrder)
{
    const std::string regedit5 =
        "Windows Registry Editor Version 5.00\r\n"
        "; the handheld's card\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\r\n"
        "\"DisplayName\"=\"VQ731 \\\"Caf\u00e9\\\" card \\\\ 11 Mbps\"\r\n"
        "\"Dll\"=hex(2):76,00,71,00,2e,00,64,00,6c,00,6c,00,00,00\r\n"
        "\"Old\"=dword:00000001\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
        "\"SSID\"=\"Stra\u00dfe\"\r\n"
        "\"TxRate\"=dword:0000000f\r\n"
        "\"Gr\u00f6\u00dfe\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
        "  17,18,19\r\n"
        "\"Names\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\\u00dcber]\r\n"
        "\"x\"=dword:00000002\r\n"
        "\r\n"
        "[-HKEY_LOCAL_MACHINE\\Comm\\VQ731\\\u00dcber]\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\r\n"
        "\"Old\"=-\r\n"
        "\r\n";
    const std::string regedit4 =
        "REGEDIT4\r\n"
        "; the handheld's card\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\r\n"
        "\"DisplayName\"=\"VQ731 \\\"Caf\xe9\\\" card \\\\ 11 Mbps\"\r\n"
        "\"Dll\"=hex(2):76,71,2e,64,6c,6c,00\r\n"
        "\"Old\"=dword:00000001\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
        "\"SSID\"=\"Stra\xdf" "e\"\r\n"
        "\"TxRate\"=dword:0000000f\r\n"
        "\"Gr\xf6\xdf" "e\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
        "  17,18,19\r\n"
        "\"Names\"=hex(7):61,00,62,00,00\r\n"
        "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\\xdc" "ber]\r\n"
        "\"x\"=dword:00000002\r\n"
        "\r\n"
        "[-HKEY_LOCAL_MACHINE\\Comm\\VQ731\\\xdc" "ber]\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\r\n"
        "\"Old\"=-\r\n"
        "\r\n";
    const std::string utf16 = Utf16LeOf(regedit5);
    const Document version5 = Parsed(utf16);
    EXPECT_EQ(Parsed(regedit4), version5);
    EXPECT_EQ(version5.Serialize(), utf16);
    EXPECT_EQ(Parsed(regedit4).Serialize(), regedit4);

    ASSERT_EQ(version5.Keys().size(), 2u);
    const Key& card = version5.Keys()[0];
    ASSERT_EQ(card.values.size(), 2u);
    EXPECT_EQ(card.values[0], (Value{u"DisplayName", 1, Utf16Data(u"VQ731 \"Caf\u00e9\" card \\ 11 Mbps")}));
    EXPECT_EQ(card.values[1], (Value{u"Dll", 2, Utf16Data(u"vq.dll")}));
    const Key& parms = version5.Keys()[1];
    ASSERT_EQ(parms.values.size(), 5u);
    EXPECT_EQ(parms.values[0], (Value{u"SSID", 1, Utf16Data(u"Stra\u00dfe")}));
    EXPECT_EQ(parms.values[2].name, u"Gr\u00f6\u00dfe");
    EXPECT_EQ(parms.values[2].data.size(), 26u);
    EXPECT_EQ(parms.values[3], (Value{u"Names", 7, Utf16Data(std::u16string(u"a\0b\0", 4))}));
    EXPECT_EQ(parms.values[4], (Value{u"Big", 0xb, Bytes({1, 0, 0, 0, 0, 0, 0, 0})}));
    EXPECT_FALSE(version5.HasKey(u"HKEY_LOCAL_MACHINE\\Comm\\VQ731\\\u00dcber"));

    // A deleted key and value come back only where the file gives them again, and the key's
    // subkeys go with it.
    const Document again = Parsed(kHeader + "[K\\Sub]\n\"a\"=dword:1\n[K]\n\"v\"=dword:1\n\"v\"=-\n\"w\"=dword:2\n"
                                            "\"v\"=dword:3\n[KA]\n[-K]\n[K]\n\"u\"=dword:4\n");
    ASSERT_EQ(again.Keys().size(), 2u);
    EXPECT_EQ(again.Keys()[0].path, u"KA");
    EXPECT_EQ(again.Keys()[1].path, u"K");
    EXPECT_EQ(again.Keys()[1].values, (std::vector<Value>{{u"u", 4, Bytes({4, 0, 0, 0})}}));
    const Document order = Parsed(kHeader + "[K]\n\"v\"=dword:1\n\"v\"=-\n\"w\"=dword:2\n\"v\"=dword:3\n");
    EXPECT_EQ(order.Keys()[0].values[0].name, u"w");
    EXPECT_EQ(order.Keys()[0].values[1], (Value{u"v", 4, Bytes({3, 0, 0, 0})}));
}

TEST(RegistryFileTest, KeysAndNamesMatchWithoutCaseAndKeepTheirFirstSpelling)
{
    const Document document = Parsed(kHeader +
                                     "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n"
                                     "\"SSID\"=\"first\"\n"
                                     "[hkey_local_machine\\COMM\\vq731\\parms]\n"
                                     "\"ssid\"=\"second\"\n"
                                     "\"\xC3\x84rger\"=dword:00000001\n");
    ASSERT_EQ(document.Keys().size(), 1u);
    const Key& key = document.Keys()[0];
    ASSERT_EQ(key.values.size(), 2u);
    EXPECT_EQ(key.values[0], (Value{u"SSID", 1, Utf16Data(u"second")}));
    ASSERT_NE(key.Find(u"\u00E4RGER"), nullptr);
    EXPECT_NE(document.FindKey(u"HKEY_LOCAL_MACHINE\\comm\\vq731\\PARMS"), nullptr);
    EXPECT_TRUE(document.HasKey(u"hkey_local_machine\\comm"));
    EXPECT_FALSE(document.HasKey(u"HKEY_LOCAL_MACHINE\\Com"));

    // Each unit upper-cased on its own, as the registry compares: a long s is not an s, a
    // dotless i not an i, though full case folding would make them so.
    const Document folded = Parsed(kHeader +
                                   "[HKEY_LOCAL_MACHINE\\Parms]\n\"Id\"=dword:1\n\"\xC4\xB1" "d\"=dword:2\n"
                                   "[HKEY_LOCAL_MACHINE\\Parm\xC5\xBF]\n\"x\"=dword:3\n");
    ASSERT_EQ(folded.Keys().size(), 2u);
    EXPECT_EQ(folded.Keys()[0].values.size(), 2u);
    EXPECT_EQ(folded.FindKey(u"HKEY_LOCAL_MACHINE\\PARM\u017F")->values[0].name, u"x");
}

// Nothing changed, nothing rewritten: the bytes come back as they were, whatever the encoding,
// line ends, comments and wrapping. A value added after a last line without a line break
// gets one, in the file's own line end.
TEST(RegistryFileTest, WritesBackTheBytesItReadAndAddsInTheFilesOwnWay)
{
    const std::string handWritten = "Windows Registry Editor Version 5.00\r\n"
                                    "\r\n"
                                    "; mine\r\n"
                                    "[K]\r\n"
                                    "\t\"A\" = DWORD:0000000A \r\n"
                                    "\"B\"=hex:01,\\\r\n"
                                    "      02\r\n"
                                    "[k]\r\n"
                                    "\"A\"=dword:0000000b";
    for (const std::string& bytes : {handWritten, ToUtf16Le(handWritten), "\xEF\xBB\xBF" + handWritten}) {
        Document document = Parsed(bytes);
        EXPECT_EQ(document.Serialize(), bytes);
        document.FindOrAddKey(u"K").Set(u"C", 4, Bytes({1, 0, 0, 0}));
        document.FindOrAddKey(u"K").Set(u"a", 4, Bytes({0x0c, 0, 0, 0}));
        document.FindOrAddKey(u"L").Set(u"D", 3, {});
        const std::string expected = handWritten.substr(0, handWritten.rfind("\"A\"")) +
                                     "\"A\"=dword:0000000c\r\n"
                                     "\"C\"=dword:00000001\r\n"
                                     "\r\n"
                                     "[L]\r\n"
                                     "\"D\"=hex:\r\n"
                                     "\r\n";
        const std::string written = document.Serialize();
        EXPECT_EQ(written, bytes.starts_with("\xFF\xFE") ? ToUtf16Le(expected)
                           : bytes.starts_with("\xEF") ? "\xEF\xBB\xBF" + expected : expected);
        EXPECT_EQ(Parsed(written), document);
    }
}

TEST(RegistryFileTest, WritesPlainTextWhereItIsExactAndRawHexElsewhere)
{
    Document document = Parsed(kHeader);
    Key& key = document.FindOrAddKey(u"HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms");
    key.Set(u"SSID", 1, Utf16Data(u"say \"hi\" \\o/"));
    key.Set(u"", 1, Utf16Data(u""));
    key.Set(u"TxRate", 4, Bytes({0x0f, 0, 0, 0}));
    key.Set(u"Short", 4, Bytes({1, 2}));
    key.Set(u"Lone", 1, Utf16Data(u"a\xD800"));
    key.Set(u"Nul", 1, Utf16Data(std::u16string(u"a\0b", 3)));
    key.Set(u"NoEnd", 1, Utf16Data(u"ab", false));
    key.Set(u"TwoEnds", 1, Utf16Data(std::u16string(u"a\0", 2)));
    key.Set(u"Odd", 1, Bytes({0x41}));
    key.Set(u"Line", 1, Utf16Data(u"a\r\nb"));
    key.Set(u"Bin", 3, Bytes({0, 0xff}));
    key.Set(u"Sub\\\"Name", 0x10, {});

    EXPECT_EQ(document.Serialize(),
              kHeader +
                  "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n"
                  "\"SSID\"=\"say \\\"hi\\\" \\\\o/\"\n"
                  "@=\"\"\n"
                  "\"TxRate\"=dword:0000000f\n"
                  "\"Short\"=hex(4):01,02\n"
                  "\"Lone\"=hex(1):61,00,00,d8,00,00\n"
                  "\"Nul\"=hex(1):61,00,00,00,62,00,00,00\n"
                  "\"NoEnd\"=hex(1):61,00,62,00\n"
                  "\"TwoEnds\"=hex(1):61,00,00,00,00,00\n"
                  "\"Odd\"=hex(1):41\n"
                  "\"Line\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n"
                  "\"Bin\"=hex:00,ff\n"
                  "\"Sub\\\\\\\"Name\"=hex(10):\n"
                  "\n");
    EXPECT_EQ(Parsed(document.Serialize()), document);
}

TEST(RegistryFileTest, LongHexValuesAreWrappedAsTheEditorWrapsThem)
{
    Document document;
    document.FindOrAddKey(u"K").Set(u"Long", 3, std::vector<uint8_t>(100, 0xab));
    const std::string text = document.Serialize();
    size_t longest = 0;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        longest = std::max(longest, end - start);
    EXPECT_LE(longest, 80u);
    EXPECT_NE(text.find(",\\\n  ab,"), std::string::npos);
    EXPECT_EQ(Parsed(text), document);
}

TEST(RegistryFileTest, ReadsUtf16LittleEndianWithByteOrderMark)
{
    const std::string text = kHeader +
                             "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                             "\"SSID\"=\"office\"\r\n"
                             "\"TxRate\"=dword:00000004\r\n";
    EXPECT_EQ(Parsed(ToUtf16Le(text)), Parsed(text));

    std::string surrogatePair = ToUtf16Le(kHeader + "[K]\n\"A\"=\"");
    surrogatePair += std::string("\x3D\xD8\xF6\xDC", 4);  // U+1F4F6
    surrogatePair += ToUtf16Le("\"\n").substr(2);
    EXPECT_EQ(Parsed(surrogatePair).Keys()[0].values[0].data,
              Utf16Data(u"\U0001F4F6"));
    EXPECT_EQ(Parsed("\xEF\xBB\xBF" + text), Parsed(text));
}

TEST(RegistryFileTest, RefusesBadInputNamingTheLine)
{
    const std::string key = "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n";
    struct Case {
        std::string bytes;
        size_t line;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"", 1, "not a registry file"},
        {"REGEDIT5\n\n" + key, 1, "not a registry file"},
        {kHeader + key + "\"A\"=hex:0g\n", 4, "bad hex byte"},
        {kHeader + key + "\"A\"=hex:0a,\\\n  0a,1\n", 5, "bad hex byte"},
        {kHeader + key + "\"A\"=hex:0a 0b\n", 4, "bad hex byte"},
        {kHeader + key + "\"A\"=hex:0a,\\\n", 4, "ends inside a continued hex value"},
        {kHeader + key + "\"A\"=hex(z):00\n", 4, "bad hex type"},
        {kHeader + key + "\"A\"=hex(123456789):00\n", 4, "bad hex type"},
        {kHeader + key + "\"A\"=dword:123456789\n", 4, "bad dword"},
        {kHeader + key + "\"A\"=dword:\n", 4, "bad dword"},
        {kHeader + key + "\"A\"=\"open\n", 4, "missing closing quote"},
        {kHeader + key + "\"A\"=\"a\\n\"\n", 4, "bad escape"},
        {kHeader + key + "\"A\"=\"a\" x\n", 4, "after the closing quote"},
        {kHeader + key + "\"A\" \"b\"\n", 4, "expected '='"},
        {kHeader + "[-" + key.substr(1) + "\"A\"=-\n", 4, "after a key deletion"},
        {kHeader + key + "\"A\"=qword:1\n", 4, "unknown value type"},
        {kHeader + "\"A\"=\"x\"\n", 3, "before the first [key]"},
        {kHeader + "[HKEY_LOCAL_MACHINE\\x\n", 3, "must end with ']'"},
        {kHeader + "[]\n", 3, "empty key name"},
        {kHeader + "[-]\n", 3, "empty key name"},
        {kHeader + key + "stray text\n", 4, "expected a [key] line"},
        {kHeader + key + "\"A\"=\"a" + std::string(1, '\0') + "b\"\n", 4, "NUL character"},
        {kHeader + key + "\"A\"=\"\xC3\x28\"\n", 4, "invalid UTF-8"},
        {kHeader + key + "\"A\"=\"\xED\xA0\x80\"\n", 4, "invalid UTF-8"},  // encoded surrogate
        {kHeader + key + "\"A\"=\"\xC0\xAF\"\n", 4, "invalid UTF-8"},      // overlong
        {kHeader + key + "\"A\"=\"\xF4\x90\x80\x80\"\n", 4, "invalid UTF-8"},  // past U+10FFFF
        {kHeader + key + "\"A\"=\"\xFB\xA4\x8D\x84\"\n", 4, "invalid UTF-8"},  // no such lead byte
        {kHeader + key + "\"A\"=\"\xE2\x82", 4, "invalid UTF-8"},             // cut short
        {ToUtf16Le(kHeader + key) + "A", 4, "truncated UTF-16"},
        {ToUtf16Le(kHeader + key + "\"A\"=\"") + std::string("\x00\xD8\"\x00", 4), 4,
         "unpaired surrogate"},
        {"\xFE\xFF" + std::string("\0W", 2), 1, "big-endian"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const auto error = ErrorOf(c.bytes);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->line, c.line);
        EXPECT_NE(error->message.find(c.message), std::string::npos) << error->message;
    }
}

TEST(RegistryFileTest, RefusesFilesOverTheSizeLimit)
{
    std::string big = kHeader + "[K]\n\"A\"=hex:";
    big.resize(platform::regfile::kMaxFileBytes + 1, ' ');
    const auto error = ErrorOf(big);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->message.find("16 MiB"), std::string::npos);
}

TEST(RegistryFileTest, RefusesMoreKeysAndValuesThanItsCap)
{
    // One key and values up to the cap; one more value is refused, on its own line.
    std::string full = kHeader + "[K]\n";
    for (size_t n = 1; n < platform::regfile::kMaxEntries; ++n)
        full += "\"" + std::to_string(n) + "\"=hex:\n";
    full += "[k]\n";  // the same key again costs nothing
    const auto error = ErrorOf(full + "\"one more\"=hex:\n");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->line, platform::regfile::kMaxEntries + 4);
    EXPECT_NE(error->message.find("keys and values"), std::string::npos);
}

namespace {

std::u16string RandomUtf16(std::mt19937& random, size_t maxLength)
{
    // Mostly printable text, with the awkward units a network name may still hold.
    static constexpr char16_t kAwkward[] = {0,      u'\n',  u'\r', u'\t', u'"',   u'\\', 0xD800,
                                            0xDBFF, 0xDC00, 0xDFFF, 0xFFFF, 0xFEFF, 0x7F, u'@'};
    std::u16string text(random() % (maxLength + 1), u'\0');
    for (char16_t& u : text) {
        switch (random() % 4) {
        case 0: u = kAwkward[random() % std::size(kAwkward)]; break;
        case 1: u = static_cast<char16_t>(random()); break;
        default: u = static_cast<char16_t>(u' ' + random() % 95); break;
        }
    }
    return text;
}

std::u16string RandomName(std::mt19937& random)
{
    std::u16string name;
    do {
        name = RandomUtf16(random, 12);
    } while (!platform::regfile::IsWritableName(name));
    return name;
}

} // namespace

TEST(RegistryFileTest, AnyValueSurvivesWritingAndReadingBack)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 40; ++round) {
        Document document;
        const int keys = 1 + static_cast<int>(random() % 3);
        for (int k = 0; k < keys; ++k) {
            Key& key = document.FindOrAddKey(u"HKEY_LOCAL_MACHINE\\K" + RandomName(random));
            for (int v = 0; v < 8; ++v) {
                const uint32_t type = random() % 3 == 0 ? static_cast<uint32_t>(random()) : 1;
                std::vector<uint8_t> data = Utf16Data(RandomUtf16(random, 40), random() % 4 != 0);
                if (random() % 5 == 0)
                    data.push_back(static_cast<uint8_t>(random()));
                key.Set(RandomName(random), type, std::move(data));
            }
        }
        const std::string text = document.Serialize();
        SCOPED_TRACE(text);
        ASSERT_EQ(Parsed(text), document);
        EXPECT_EQ(Parsed(text).Serialize(), text);
    }
}

// Whatever bytes the file holds: either a document that writes and reads back the same, or
// an error naming a line that exists. Never a crash (the sanitizer build runs this too).
TEST(RegistryFileTest, DamagedFilesParseConsistentlyOrNameALine)
{
    const std::string seed = kHeader +
                             "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n"
                             "\"SSID\"=\"office \\\"one\\\"\"\n"
                             "\"TxRate\"=dword:0000000f\n"
                             "\"Keys\"=hex(1):61,00,\\\n  00,d8,00,00\n"
                             "@=hex:01\n";
    std::mt19937 random(7);
    int parsed = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = round % 2 ? seed : ToUtf16Le(seed);
        for (int edits = 1 + static_cast<int>(random() % 4); edits > 0 && !bytes.empty(); --edits) {
            const size_t at = random() % bytes.size();
            switch (random() % 4) {
            case 0: bytes[at] = static_cast<char>(random()); break;
            case 1: bytes.erase(at, 1 + random() % 8); break;
            case 2: bytes.insert(at, 1, "\",\\[]@=:()\n\r0aF"[random() % 16]); break;
            default: bytes.resize(at); break;
            }
        }
        auto result = Document::Parse(bytes);
        if (auto* error = std::get_if<ParseError>(&result)) {
            EXPECT_GE(error->line, 1u);
            EXPECT_LE(error->line, static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
            continue;
        }
        ++parsed;
        const Document& document = std::get<Document>(result);
        ASSERT_EQ(document.Serialize(), bytes);
        ASSERT_EQ(Parsed(document.Serialize()), document) << bytes;
    }
    EXPECT_GT(parsed, 100);
}
