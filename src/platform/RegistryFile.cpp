#include "platform/RegistryFile.h"

#include <unicase.h>

#include <cstdio>
#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

namespace platform::regfile {

namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
// The first line of the registry editor's older export format, whose text is 8-bit.
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr uint32_t kTypeString = 1;
constexpr uint32_t kTypeExpandString = 2;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;
constexpr uint32_t kTypeMultiString = 7;
// The registry editor breaks long hex lists after a comma once a line passes this width.
constexpr size_t kHexLineWidth = 77;

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

std::u16string_view Trim(std::u16string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Windows-1252, the code page of the registry editor's 8-bit exports on Western systems. The
// five bytes it leaves unassigned stand for the C1 controls of the same number, as Windows
// converts them, so every byte has one character and every file reads back to its own bytes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t FromCp1252(uint8_t byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

// '?' for a character the code page lacks; the save that needs one is refused when the
// written file does not read back as the document.
char ToCp1252(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (size_t i = 0; i < std::size(kCp1252High); ++i)
        if (kCp1252High[i] == unit)
            return static_cast<char>(0x80 + i);
    return '?';
}

bool StartsWithIgnoreCase(std::u16string_view s, std::u16string_view prefix)
{
    return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

// The registry's comparison: each unit upper-cased on its own. A non-ASCII unit never becomes
// an ASCII one (long s is not s, dotless i is not i), as the registry's own table has it.
char16_t FoldUnit(char16_t u)
{
    if (u < 0x80)
        return (u >= u'a' && u <= u'z') ? static_cast<char16_t>(u - 0x20) : u;
    if (IsHighSurrogate(u) || IsLowSurrogate(u))
        return u;
    const ucs4_t upper = uc_toupper(u);
    return upper >= 0x80 && upper <= 0xFFFF ? static_cast<char16_t>(upper) : u;
}

std::u16string Fold(std::u16string_view s)
{
    std::u16string folded(s);
    for (char16_t& u : folded)
        u = FoldUnit(u);
    return folded;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp)
{
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (cp >> 10));
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

// Only called on text whose surrogates are paired (checked by the caller).
std::string ToUtf8(std::u16string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

bool SurrogatesPaired(std::u16string_view s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsHighSurrogate(s[i])) {
            if (i + 1 >= s.size() || !IsLowSurrogate(s[i + 1]))
                return false;
            ++i;
        } else if (IsLowSurrogate(s[i])) {
            return false;
        }
    }
    return true;
}

std::u16string UnitsOf(const std::vector<uint8_t>& data)
{
    std::u16string units(data.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return units;
}

std::vector<uint8_t> StringData(std::u16string_view text)
{
    std::vector<uint8_t> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t u : text) {
        data.push_back(static_cast<uint8_t>(u & 0xFF));
        data.push_back(static_cast<uint8_t>(u >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

// Whether a string value can be written as "text" and read back to the very same bytes:
// whole UTF-16 units, exactly one terminator at the end, nothing that breaks a line.
bool IsPlainString(const std::vector<uint8_t>& data)
{
    if (data.size() < 2 || data.size() % 2 != 0)
        return false;
    std::u16string units = UnitsOf(data);
    if (units.back() != 0)
        return false;
    units.pop_back();
    for (char16_t u : units) {
        if (u < 0x20 || u == 0x7F)
            return false;
    }
    return SurrogatesPaired(units);
}

// ---- Decoding the bytes of a file into UTF-16 text ----

class Decoder {
public:
    std::optional<ParseError> Utf16Le(std::string_view body, std::u16string& out)
    {
        out.reserve(body.size() / 2);
        const size_t count = body.size() / 2;
        for (size_t i = 0; i < count; ++i) {
            const char16_t u = Unit(body, i);
            if (IsHighSurrogate(u)) {
                if (i + 1 >= count || !IsLowSurrogate(Unit(body, i + 1)))
                    return Error("invalid UTF-16: unpaired surrogate");
                out += u;
                out += Unit(body, ++i);
                continue;
            }
            if (IsLowSurrogate(u))
                return Error("invalid UTF-16: unpaired surrogate");
            if (auto error = Take(u, out))
                return error;
        }
        if (body.size() % 2 != 0)
            return Error("truncated UTF-16: odd number of bytes");
        return std::nullopt;
    }

    std::optional<ParseError> Utf8(std::string_view body, std::u16string& out)
    {
        out.reserve(body.size());
        for (size_t i = 0; i < body.size();) {
            const auto lead = static_cast<uint8_t>(body[i]);
            if (lead < 0x80) {
                if (auto error = Take(lead, out))
                    return error;
                ++i;
                continue;
            }
            // 0xF8 and above lead no sequence at all: they would decode to a character that
            // writes back as other bytes.
            const size_t length = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
            if (length == 0 || i + length > body.size())
                return Error("invalid UTF-8");
            char32_t cp = lead & (0x7F >> length);
            for (size_t k = 1; k < length; ++k) {
                const auto next = static_cast<uint8_t>(body[i + k]);
                if ((next & 0xC0) != 0x80)
                    return Error("invalid UTF-8");
                cp = (cp << 6) | (next & 0x3F);
            }
            constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
            if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                return Error("invalid UTF-8");
            AppendUtf16(out, cp);
            i += length;
        }
        return std::nullopt;
    }

    std::optional<ParseError> Cp1252(std::string_view body, std::u16string& out)
    {
        out.reserve(body.size());
        for (char c : body) {
            if (auto error = Take(FromCp1252(static_cast<uint8_t>(c)), out))
                return error;
        }
        return std::nullopt;
    }

private:
    static char16_t Unit(std::string_view body, size_t i)
    {
        return static_cast<char16_t>(static_cast<uint8_t>(body[2 * i]) |
                                     (static_cast<uint8_t>(body[2 * i + 1]) << 8));
    }

    std::optional<ParseError> Take(char16_t u, std::u16string& out)
    {
        if (u == 0)
            return Error("NUL character");
        if (u == u'\n')
            ++line_;
        out += u;
        return std::nullopt;
    }

    ParseError Error(const char* message) const { return {line_, message}; }

    size_t line_ = 1;
};

bool IsUtf8BeyondAscii(std::string_view bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; }))
        return false;
    std::u16string ignored;
    return !Decoder().Utf8(bytes, ignored).has_value();
}

std::variant<Document::Source, ParseError> Decode(std::string_view bytes)
{
    Document::Source source;
    Decoder decoder;
    std::optional<ParseError> error;
    if (bytes.starts_with("\xFF\xFE")) {
        source.encoding = Document::Encoding::Utf16LeWithMark;
        error = decoder.Utf16Le(bytes.substr(2), source.text);
    } else if (bytes.starts_with("\xFE\xFF")) {
        error = ParseError{1, "UTF-16 big-endian is not supported"};
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        source.encoding = Document::Encoding::Utf8WithMark;
        error = decoder.Utf8(bytes.substr(3), source.text);
    } else if (bytes.starts_with("REGEDIT4") && !IsUtf8BeyondAscii(bytes)) {
        // The older format's 8-bit text; UTF-8 only when a person wrote it so.
        source.encoding = Document::Encoding::Cp1252;
        error = decoder.Cp1252(bytes, source.text);
    } else {
        error = decoder.Utf8(bytes, source.text);
    }
    if (error)
        return *error;
    // New lines end as the first line does; a file of one line, as the registry editor
    // writes its kind of file.
    const size_t firstBreak = source.text.find(u'\n');
    if (firstBreak != std::u16string::npos)
        source.lineEnd = firstBreak > 0 && source.text[firstBreak - 1] == u'\r' ? u"\r\n" : u"\n";
    else
        source.lineEnd = source.encoding == Document::Encoding::Utf16LeWithMark ? u"\r\n" : u"\n";
    return source;
}

} // namespace

// ---- Parsing the lines ----

class Parser {
public:
    explicit Parser(std::shared_ptr<const Document::Source> source)
        : text_(source->text)
    {
        document_.source_ = std::move(source);
    }

    std::variant<Document, ParseError> Run()
    {
        std::u16string_view line;
        if (!NextLine(line) || !ParseHeader(line))
            return ParseError{1, "not a registry file: the first line must be \"Windows Registry "
                                 "Editor Version 5.00\" or \"REGEDIT4\""};
        while (NextLine(line)) {
            if (auto error = ParseLine(Trim(line)))
                return *error;
        }
        DropDeleted();
        return std::move(document_);
    }

private:
    bool NextLine(std::u16string_view& line)
    {
        if (pos_ >= text_.size())
            return false;
        size_t end = text_.find(u'\n', pos_);
        if (end == std::u16string_view::npos)
            end = text_.size();
        line = text_.substr(pos_, end - pos_);
        lineBegin_ = pos_;
        if (!line.empty() && line.back() == u'\r')
            line.remove_suffix(1);
        lineEnd_ = pos_ + line.size();
        pos_ = std::min(end + 1, text_.size());
        ++lineNumber_;
        return true;
    }

    ParseError Error(std::string message) const { return {lineNumber_, std::move(message)}; }

    // The version line, with a comment after it if any.
    bool ParseHeader(std::u16string_view line)
    {
        line = Trim(line.substr(0, line.find(u';')));
        version4_ = line == kHeader4;
        return version4_ || line == kHeader;
    }

    std::optional<ParseError> ParseLine(std::u16string_view line)
    {
        if (line.empty() || line.front() == u';')
            return std::nullopt;
        if (line.front() == u'[')
            return ParseKeyLine(line);
        if (line.front() == u'"' || line.front() == u'@')
            return ParseValueLine(line);
        return Error("expected a [key] line or a \"name\"=value line");
    }

    std::optional<ParseError> ParseKeyLine(std::u16string_view line)
    {
        if (line.size() < 2 || line.back() != u']')
            return Error("a key line must end with ']'");
        const std::u16string_view path = line.substr(1, line.size() - 2);
        if (path.empty() || path == u"-")
            return Error("empty key name");
        if (path.front() == u'-')
            return DeleteKey(path.substr(1));
        auto [it, added] = keyIndex_.try_emplace(Fold(path), document_.keys_.size());
        if (added) {
            if (auto error = CountEntry())
                return error;
            Key key{std::u16string(path), {}};
            key.sectionBegin = lineBegin_;
            document_.keys_.push_back(std::move(key));
            valueIndex_.emplace_back();
            valueDeleted_.emplace_back();
        }
        currentKey_ = it->second;
        // A section given again is where the key's new values go: the last one wins.
        document_.keys_[*currentKey_].appendAt = pos_;
        return std::nullopt;
    }

    // [-path]: the key and every key below it are gone from here on; a later section makes
    // the key anew. The line is kept in the text like any other.
    std::optional<ParseError> DeleteKey(std::u16string_view path)
    {
        if (auto error = CountEntry())
            return error;
        const std::u16string folded = Fold(path);
        const std::u16string below = folded + u'\\';
        keyDeleted_.resize(document_.keys_.size());
        if (auto it = keyIndex_.find(folded); it != keyIndex_.end()) {
            keyDeleted_[it->second] = true;
            keyIndex_.erase(it);
        }
        for (auto it = keyIndex_.lower_bound(below); it != keyIndex_.end() && it->first.starts_with(below);) {
            keyDeleted_[it->second] = true;
            it = keyIndex_.erase(it);
        }
        currentKey_.reset();
        afterKeyDeletion_ = true;
        return std::nullopt;
    }

    // "name"=-: the value is gone from here on; a later line gives it anew.
    void DeleteValue(const std::u16string& name)
    {
        const size_t key = *currentKey_;
        auto it = valueIndex_[key].find(Fold(name));
        if (it == valueIndex_[key].end())
            return;
        valueDeleted_[key].resize(document_.keys_[key].values.size());
        valueDeleted_[key][it->second] = true;
        valueIndex_[key].erase(it);
    }

    // The document holds only what the deletions left.
    void DropDeleted()
    {
        std::vector<Key>& keys = document_.keys_;
        for (size_t k = 0; k < keys.size(); ++k) {
            const std::vector<bool>& gone = valueDeleted_[k];
            size_t v = 0;
            std::erase_if(keys[k].values, [&](const Value&) { return v < gone.size() && gone[v++]; });
        }
        size_t k = 0;
        std::erase_if(keys, [&](const Key&) { return k < keyDeleted_.size() && keyDeleted_[k++]; });
    }

    std::optional<ParseError> ParseValueLine(std::u16string_view line)
    {
        if (!currentKey_)
            return Error(afterKeyDeletion_ ? "a value after a key deletion, before the next [key] line"
                                           : "a value before the first [key] line");
        size_t i = 0;
        std::u16string name;
        if (line.front() == u'@') {
            i = 1;
        } else if (auto error = ReadQuoted(line, i, name, "name")) {
            return error;
        }
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size() || line[i] != u'=')
            return Error("expected '=' after the value name");
        if (Trim(line.substr(i + 1)) == u"-") {
            if (auto error = CountEntry())
                return error;
            DeleteValue(name);
            document_.keys_[*currentKey_].appendAt = pos_;
            return std::nullopt;
        }
        Value value;
        value.name = std::move(name);
        value.lineBegin = lineBegin_;
        if (auto error = ParseData(Trim(line.substr(i + 1)), value))
            return error;
        value.lineEnd = lineEnd_;  // after any continuation lines
        document_.keys_[*currentKey_].appendAt = pos_;
        return Store(std::move(value));
    }

    std::optional<ParseError> ParseData(std::u16string_view data, Value& value)
    {
        if (!data.empty() && data.front() == u'"') {
            size_t i = 0;
            std::u16string text;
            if (auto error = ReadQuoted(data, i, text, "string"))
                return error;
            if (i != data.size())
                return Error("unexpected text after the closing quote");
            value.type = kTypeString;
            value.data = StringData(text);
            return std::nullopt;
        }
        if (StartsWithIgnoreCase(data, u"dword:"))
            return ParseDword(data.substr(6), value);
        if (StartsWithIgnoreCase(data, u"hex"))
            return ParseHex(data.substr(3), value);
        return Error("unknown value type");
    }

    std::optional<ParseError> ParseDword(std::u16string_view digits, Value& value)
    {
        if (digits.empty() || digits.size() > 8)
            return Error("bad dword: expected 1 to 8 hex digits");
        uint32_t number = 0;
        for (char16_t c : digits) {
            const int digit = HexDigit(c);
            if (digit < 0)
                return Error("bad dword: expected 1 to 8 hex digits");
            number = (number << 4) | static_cast<uint32_t>(digit);
        }
        value.type = kTypeDword;
        value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                      static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return std::nullopt;
    }

    // After "hex": either ":" (binary) or "(N):" with N the type in hex, then the bytes.
    std::optional<ParseError> ParseHex(std::u16string_view rest, Value& value)
    {
        value.type = kTypeBinary;
        if (!rest.empty() && rest.front() == u'(') {
            const size_t close = rest.find(u')');
            if (close == std::u16string_view::npos || close < 2 || close > 9)
                return Error("bad hex type");
            uint32_t type = 0;
            for (char16_t c : rest.substr(1, close - 1)) {
                const int digit = HexDigit(c);
                if (digit < 0)
                    return Error("bad hex type");
                type = (type << 4) | static_cast<uint32_t>(digit);
            }
            value.type = type;
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != u':')
            return Error("expected ':' after hex");
        if (auto error = ParseHexBytes(rest.substr(1), value.data))
            return error;
        if (version4_ && IsText(value.type))
            value.data = WidenedFrom8Bit(value.data);
        return std::nullopt;
    }

    // The older format writes the bytes of a string, an expandable string or a list of strings
    // in the 8-bit code page; the registry holds them as UTF-16, as the editor imports them.
    static bool IsText(uint32_t type)
    {
        return type == kTypeString || type == kTypeExpandString || type == kTypeMultiString;
    }

    static std::vector<uint8_t> WidenedFrom8Bit(const std::vector<uint8_t>& bytes)
    {
        std::vector<uint8_t> wide;
        wide.reserve(bytes.size() * 2);
        for (uint8_t byte : bytes) {
            const char16_t unit = FromCp1252(byte);
            wide.push_back(static_cast<uint8_t>(unit & 0xFF));
            wide.push_back(static_cast<uint8_t>(unit >> 8));
        }
        return wide;
    }

    // Bytes as two hex digits each, separated by commas; a backslash at the end of a line
    // continues the list on the next line, as the registry editor wraps long values.
    std::optional<ParseError> ParseHexBytes(std::u16string_view line, std::vector<uint8_t>& out)
    {
        bool needComma = false;
        size_t i = 0;
        for (;;) {
            while (i < line.size() && IsBlank(line[i]))
                ++i;
            if (i == line.size())
                return std::nullopt;
            if (line[i] == u'\\') {
                if (!Trim(line.substr(i + 1)).empty())
                    return Error("bad hex byte");
                if (!NextLine(line))
                    return Error("the file ends inside a continued hex value");
                i = 0;
                continue;
            }
            if (needComma) {
                if (line[i] != u',')
                    return Error("bad hex byte: expected ','");
                ++i;
                needComma = false;
                continue;
            }
            const int high = i + 1 < line.size() ? HexDigit(line[i]) : -1;
            const int low = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
            if (high < 0 || low < 0)
                return Error("bad hex byte");
            out.push_back(static_cast<uint8_t>((high << 4) | low));
            i += 2;
            needComma = true;
        }
    }

    // A quoted name or string from line[i] (the opening quote); only \\ and \" are escapes.
    std::optional<ParseError> ReadQuoted(std::u16string_view line, size_t& i, std::u16string& out,
                                         const char* what)
    {
        ++i;
        while (i < line.size()) {
            const char16_t c = line[i];
            if (c == u'"') {
                ++i;
                return std::nullopt;
            }
            if (c == u'\\') {
                if (i + 1 >= line.size() || (line[i + 1] != u'\\' && line[i + 1] != u'"'))
                    return Error(std::string("bad escape in ") + what +
                                 ": only \\\\ and \\\" are allowed");
                out += line[i + 1];
                i += 2;
                continue;
            }
            out += c;
            ++i;
        }
        return Error(std::string("missing closing quote of the ") + what);
    }

    // A name given twice in one key keeps the last data, as an import would.
    std::optional<ParseError> Store(Value value)
    {
        Key& key = document_.keys_[*currentKey_];
        auto [it, added] = valueIndex_[*currentKey_].try_emplace(Fold(value.name), key.values.size());
        if (!added) {
            Value& first = key.values[it->second];
            first.type = value.type;
            first.data = std::move(value.data);
            first.lineBegin = value.lineBegin;
            first.lineEnd = value.lineEnd;
            return std::nullopt;
        }
        if (auto error = CountEntry())
            return error;
        key.values.push_back(std::move(value));
        return std::nullopt;
    }

    // Each key and value costs far more memory than its line in the file; a cap on their
    // number keeps a hostile file of small lines from costing hundreds of megabytes.
    std::optional<ParseError> CountEntry()
    {
        if (++entries_ > kMaxEntries)
            return Error("more than " + std::to_string(kMaxEntries) + " keys and values");
        return std::nullopt;
    }

    std::u16string_view text_;
    size_t pos_ = 0;
    size_t lineBegin_ = 0;  // of the line NextLine gave last
    size_t lineEnd_ = 0;    // of its text, before its line break
    size_t lineNumber_ = 0;
    Document document_;
    // Folded path to index in keys_, ordered so that a deleted key's subkeys follow it.
    std::map<std::u16string, size_t> keyIndex_;
    std::vector<std::unordered_map<std::u16string, size_t>> valueIndex_;  // per key, by folded name
    // What deletions took, by index in keys_ and in each key's values; dropped at the end.
    std::vector<bool> keyDeleted_;
    std::vector<std::vector<bool>> valueDeleted_;
    std::optional<size_t> currentKey_;
    bool afterKeyDeletion_ = false;
    bool version4_ = false;
    size_t entries_ = 0;
};

// ---- Document ----

std::variant<Document, ParseError> Document::Parse(std::string_view bytes)
{
    if (bytes.size() > kMaxFileBytes)
        return ParseError{1, "larger than 16 MiB"};
    auto decoded = Decode(bytes);
    if (auto* error = std::get_if<ParseError>(&decoded))
        return *error;
    return Parser(std::make_shared<const Source>(std::move(std::get<Source>(decoded)))).Run();
}

namespace {

std::u16string Quoted(std::u16string_view text)
{
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

// The hex list of a value whose line is `width` units wide so far, wrapped as the registry
// editor wraps it, with a bare "\n" where a line breaks.
void AppendHex(std::string& out, size_t width, const Value& value)
{
    char buffer[16];
    if (value.type == kTypeBinary)
        out += "hex:";
    else {
        std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
        out += buffer;
    }
    width += out.size();
    // Built a line at a time in a small buffer: values may be megabytes long.
    constexpr char kDigits[] = "0123456789abcdef";
    char line[kHexLineWidth + 16];
    size_t used = 0;
    const uint8_t* bytes = value.data.data();
    const size_t count = value.data.size();
    for (size_t i = 0; i < count; ++i) {
        line[used++] = kDigits[bytes[i] >> 4];
        line[used++] = kDigits[bytes[i] & 0xF];
        if (i + 1 == count)
            break;
        line[used++] = ',';
        if (width + used >= kHexLineWidth) {
            for (char c : {'\\', '\n', ' ', ' '})
                line[used++] = c;
            out.append(line, used);
            used = 0;
            width = 2;
        }
    }
    out.append(line, used);
}

// A value's line (its continuation lines included) without the final line break.
std::u16string ValueLine(const Value& value, std::u16string_view lineEnd)
{
    std::u16string line = value.name.empty() ? std::u16string(u"@") : Quoted(value.name);
    line += u'=';
    std::string ascii;
    if (value.type == kTypeString && IsPlainString(value.data)) {
        std::u16string units = UnitsOf(value.data);
        units.pop_back();
        line += Quoted(units);
        return line;
    }
    if (value.type == kTypeDword && value.data.size() == 4) {
        char buffer[16];
        const uint32_t number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                (static_cast<uint32_t>(value.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        ascii = buffer;
    } else {
        AppendHex(ascii, line.size(), value);
    }
    line.reserve(line.size() + ascii.size() + ascii.size() / 32);
    for (char c : ascii) {
        if (c == '\n')
            line += lineEnd;
        else
            line += static_cast<char16_t>(c);
    }
    return line;
}

const Document::Source& FreshSource()
{
    static const Document::Source fresh{std::u16string(kHeader) + u"\n\n", Document::Encoding::Utf8, u"\n"};
    return fresh;
}

bool EndsWithLineBreak(std::u16string_view text)
{
    return !text.empty() && text.back() == u'\n';
}

// Ends a last line that has no line break of its own. A lone carriage return there (which the
// reader drops as half of a break) is completed rather than doubled.
void EndLine(std::u16string& out, std::u16string_view lineEnd)
{
    if (!out.empty() && out.back() == u'\r')
        out += u'\n';
    else
        out += lineEnd;
}

bool EndsWithBlankLine(std::u16string_view text)
{
    if (!EndsWithLineBreak(text))
        return false;
    text.remove_suffix(1);
    if (!text.empty() && text.back() == u'\r')
        text.remove_suffix(1);
    return text.empty() || text.back() == u'\n';
}

std::string Encoded(std::u16string_view text, Document::Encoding encoding)
{
    switch (encoding) {
    case Document::Encoding::Utf8:
        return ToUtf8(text);
    case Document::Encoding::Utf8WithMark:
        return "\xEF\xBB\xBF" + ToUtf8(text);
    case Document::Encoding::Cp1252: {
        std::string out(text.size(), '\0');
        std::transform(text.begin(), text.end(), out.begin(), ToCp1252);
        return out;
    }
    case Document::Encoding::Utf16LeWithMark:
        break;
    }
    std::string out = "\xFF\xFE";
    out.reserve(2 + text.size() * 2);
    for (char16_t u : text) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

// One change to the text the document was read from.
struct Edit {
    enum class Kind { Replace, Append, Section };
    size_t begin;
    size_t end;
    Kind kind;
    std::u16string text;
};

} // namespace

std::string Document::Serialize() const
{
    const Source& source = source_ ? *source_ : FreshSource();
    const std::u16string& text = source.text;
    const std::u16string_view lineEnd = source.lineEnd;

    // In the order of the keys, so that values appended where a new section also goes
    // stay in their own key's section, before the new one.
    std::vector<Edit> edits;
    for (size_t k = 0; k < keys_.size(); ++k) {
        const Key& key = keys_[k];
        if (key.sectionBegin == kNowhere) {
            size_t at = text.size();
            for (size_t next = k + 1; next < keys_.size(); ++next) {
                if (keys_[next].sectionBegin != kNowhere) {
                    at = keys_[next].sectionBegin;
                    break;
                }
            }
            std::u16string section = u"[" + key.path + u"]";
            section += lineEnd;
            for (const Value& value : key.values)
                (section += ValueLine(value, lineEnd)) += lineEnd;
            section += lineEnd;
            edits.push_back({at, at, Edit::Kind::Section, std::move(section)});
            continue;
        }
        for (const Value& value : key.values) {
            if (value.lineBegin == kNowhere)
                edits.push_back({key.appendAt, key.appendAt, Edit::Kind::Append,
                                 ValueLine(value, lineEnd) + std::u16string(lineEnd)});
            else if (value.changed)
                edits.push_back({value.lineBegin, value.lineEnd, Edit::Kind::Replace, ValueLine(value, lineEnd)});
        }
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin < b.begin; });

    std::u16string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (const Edit& edit : edits) {
        const size_t begin = std::max(edit.begin, pos);
        out.append(text, pos, begin - pos);
        pos = begin;
        switch (edit.kind) {
        case Edit::Kind::Replace:
            out += edit.text;
            pos = std::max(edit.end, pos);
            break;
        case Edit::Kind::Append:
            if (!out.empty() && !EndsWithLineBreak(out))
                EndLine(out, lineEnd);
            out += edit.text;
            break;
        case Edit::Kind::Section:
            // A new section at the end comes after a blank line, as in the editor's exports.
            if (begin == text.size()) {
                if (!EndsWithLineBreak(out))
                    EndLine(out, lineEnd);
                if (!EndsWithBlankLine(out))
                    out += lineEnd;
            }
            out += edit.text;
            break;
        }
    }
    out.append(text, pos);
    return Encoded(out, source.encoding);
}

Key* Document::FindKey(std::u16string_view path)
{
    for (Key& key : keys_) {
        if (EqualsIgnoreCase(key.path, path))
            return &key;
    }
    return nullptr;
}

const Key* Document::FindKey(std::u16string_view path) const
{
    return const_cast<Document*>(this)->FindKey(path);
}

namespace {

bool IsDescendant(std::u16string_view candidate, std::u16string_view path)
{
    return candidate.size() > path.size() && candidate[path.size()] == u'\\' &&
           EqualsIgnoreCase(candidate.substr(0, path.size()), path);
}

} // namespace

bool Document::HasKey(std::u16string_view path) const
{
    for (const Key& key : keys_) {
        if (EqualsIgnoreCase(key.path, path) || IsDescendant(key.path, path))
            return true;
    }
    return false;
}

Key& Document::FindOrAddKey(std::u16string_view path)
{
    if (Key* key = FindKey(path))
        return *key;
    auto at = keys_.begin();
    while (at != keys_.end() && !IsDescendant(at->path, path))
        ++at;
    return *keys_.insert(at, Key{std::u16string(path), {}});
}

const Value* Key::Find(std::u16string_view name) const
{
    for (const Value& value : values) {
        if (EqualsIgnoreCase(value.name, name))
            return &value;
    }
    return nullptr;
}

void Key::Set(std::u16string_view name, uint32_t type, std::vector<uint8_t> data)
{
    if (auto* existing = const_cast<Value*>(Find(name))) {
        if (existing->type == type && existing->data == data)
            return;
        existing->type = type;
        existing->data = std::move(data);
        existing->changed = true;
        return;
    }
    values.push_back(Value{std::u16string(name), type, std::move(data)});
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && FoldUnit(a[i]) != FoldUnit(b[i]))
            return false;
    }
    return true;
}

bool IsWritableName(std::u16string_view name)
{
    for (char16_t u : name) {
        if (u == 0 || u == u'\n' || u == u'\r')
            return false;
    }
    return SurrogatesPaired(name);
}

} // namespace platform::regfile
