// The registry file reader given any bytes: it either parses them or names the bad line. What
// it parsed is written back byte for byte. Then the round trip of a save: one value changed,
// one value and one key added, and every line of the input but the changed value's comes back
// byte-identical and in its order, in the input's encoding, and reads back as the document.
#include "platform/RegistryFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

using platform::regfile::Document;
using platform::regfile::Key;
using platform::regfile::ParseError;
using platform::regfile::Value;

namespace {

[[noreturn]] void Fail(const char*)
{
    std::abort();
}

bool IsValidUtf8(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        const size_t length = lead < 0x80    ? 1
                              : lead >= 0xF8 ? 0
                              : lead >= 0xF0 ? 4
                              : lead >= 0xE0 ? 3
                              : lead >= 0xC0 ? 2
                                             : 0;
        if (length == 0 || i + length > bytes.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<uint8_t>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// The text of a file this reader accepted, as UTF-16 units after any byte-order mark: the
// places a document gives are counted in these. A regedit 4 file in 8-bit text has one unit
// a byte; which character each stands for does not matter for where the lines are.
std::u16string Units(std::string_view bytes)
{
    if (bytes.starts_with("REGEDIT4") && !IsValidUtf8(bytes))
        return std::u16string(bytes.begin(), bytes.end());
    std::u16string units;
    if (bytes.starts_with("\xFF\xFE")) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            units += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
        return units;
    }
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length && i + k < bytes.size(); ++k)
            cp = (cp << 6) | (static_cast<uint8_t>(bytes[i + k]) & 0x3F);
        if (cp >= 0x10000) {
            units += static_cast<char16_t>(0xD800 | ((cp - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 | ((cp - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(cp);
        }
        i += length;
    }
    return units;
}

struct Line {
    size_t begin;
    std::u16string_view text;  // with its line break, if it has one
};

std::vector<Line> Lines(std::u16string_view units)
{
    std::vector<Line> lines;
    for (size_t pos = 0; pos < units.size();) {
        size_t end = units.find(u'\n', pos);
        end = end == std::u16string_view::npos ? units.size() : end + 1;
        lines.push_back({pos, units.substr(pos, end - pos)});
        pos = end;
    }
    return lines;
}

std::string_view Mark(std::string_view bytes)
{
    if (bytes.starts_with("\xFF\xFE"))
        return "\xFF\xFE";
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return "\xEF\xBB\xBF";
    return "";
}

// A name that `key` does not have yet.
std::u16string NewName(const Key& key)
{
    std::u16string name = u"fuzz\u00E9 new";
    while (key.Find(name))
        name += u'+';
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto parsed = Document::Parse(bytes);
    if (const auto* error = std::get_if<ParseError>(&parsed)) {
        // A refusal names a line of the input (or the one after its end) and says why.
        size_t lines = 1;
        for (char c : bytes)
            lines += c == '\n';
        if (error->line < 1 || error->line > lines + 1 || error->message.empty())
            Fail("a refusal names no line of the input");
        return 0;
    }
    Document document = std::get<Document>(parsed);
    if (document.Serialize() != bytes)
        Fail("a document nobody changed is not written back as it was read");

    // The save: the input's last bytes choose which value changes.
    size_t changedBegin = platform::regfile::kNowhere;
    size_t changedEnd = platform::regfile::kNowhere;
    if (!document.Keys().empty()) {
        const Key& chosen = document.Keys()[static_cast<uint8_t>(bytes.back()) % document.Keys().size()];
        Key& key = document.FindOrAddKey(chosen.path);
        if (!key.values.empty()) {
            const Value& value = key.values[static_cast<uint8_t>(bytes[size - 2]) % key.values.size()];
            changedBegin = value.lineBegin;
            changedEnd = value.lineEnd;
            std::vector<uint8_t> other = value.data;
            other.push_back(0x5a);
            key.Set(std::u16string(value.name), 0x5a, other);
        }
        key.Set(NewName(key), 4, {1, 2, 3, 4});
    }
    std::u16string newKey = u"HKEY_LOCAL_MACHINE\\fuzz new";
    while (document.FindKey(newKey))
        newKey += u'+';
    document.FindOrAddKey(newKey).Set(u"", 1, {0x41, 0, 0, 0});

    const std::string written = document.Serialize();
    const auto reread = Document::Parse(written);
    if (!std::holds_alternative<Document>(reread))
        Fail("the writer produced something its own reader refuses");
    if (!(std::get<Document>(reread) == document))
        Fail("a value or key changed on the way through the file");
    if (std::get<Document>(reread).Serialize() != written)
        Fail("the written form is not stable");
    if (Mark(written) != Mark(bytes))
        Fail("the byte-order mark changed");

    // Every line of the input but the changed value's is in the output, in order, byte for
    // byte; the last one may have gained a line break.
    const std::u16string before = Units(bytes);
    const std::u16string after = Units(written);
    const std::vector<Line> out = Lines(after);
    size_t next = 0;
    for (const Line& line : Lines(before)) {
        const size_t end = line.begin + line.text.size();
        if (changedBegin != platform::regfile::kNowhere && line.begin <= changedEnd && end > changedBegin)
            continue;
        const bool last = line.text.empty() || line.text.back() != u'\n';
        while (next < out.size() && !(out[next].text == line.text || (last && out[next].text.starts_with(line.text))))
            ++next;
        if (next == out.size())
            Fail("a line the save did not write is missing or changed");
        ++next;
    }
    return 0;
}
