#pragma once
// The registry editor's export text format, the stand-in for the handheld's registry hive:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Comm\VQ731\Parms]
//   "SSID"="office"
//   "TxRate"=dword:0000000f
//   "Blob"=hex:de,ad,be,ef
//   "Odd"=hex(1):41,00,00,d8,00,00
//
// A document is read from UTF-8 (with or without a byte-order mark) or from UTF-16LE with a
// byte-order mark, and always written as UTF-8. Every value keeps its exact bytes: a string
// that plain quoted text cannot carry exactly (a lone surrogate, a NUL inside, a missing or
// extra terminator, a control character) is written in the raw hex(1) form. Comments and
// blank lines are not kept; every key and value is, in its order.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform::regfile {

class Parser;

// Files beyond this size are refused, so a hostile or damaged file cannot exhaust memory.
inline constexpr size_t kMaxFileBytes = size_t{16} << 20;
// Each key and value costs far more memory than its line; so does a file of many tiny lines.
inline constexpr size_t kMaxEntries = 100000;

struct Value {
    std::u16string name;  // empty for the key's default value, written "@"
    uint32_t type = 0;
    std::vector<uint8_t> data;

    bool operator==(const Value&) const = default;
};

struct Key {
    std::u16string path;  // as written, root first: HKEY_LOCAL_MACHINE\Comm\VQ731\Parms
    std::vector<Value> values;

    const Value* Find(std::u16string_view name) const;
    // Replaces the value of that name in place (keeping the case of its name) or appends it.
    void Set(std::u16string_view name, uint32_t type, std::vector<uint8_t> data);

    bool operator==(const Key&) const = default;
};

struct ParseError {
    size_t line = 0;  // 1-based
    std::string message;
};

class Document {
public:
    // Any bytes at all: a document, or the first line that is wrong and why.
    static std::variant<Document, ParseError> Parse(std::string_view bytes);
    std::string Serialize() const;

    const std::vector<Key>& Keys() const { return keys_; }
    Key* FindKey(std::u16string_view path);
    const Key* FindKey(std::u16string_view path) const;
    // A key exists when it has a section of its own or when a subkey has one, as the
    // registry editor creates the parents of every key it imports.
    bool HasKey(std::u16string_view path) const;
    // The key's section, added before its first subkey (or at the end) when it has none.
    Key& FindOrAddKey(std::u16string_view path);

    bool operator==(const Document&) const = default;

private:
    friend class Parser;
    std::vector<Key> keys_;
};

// Key paths and value names compare without regard to case, one UTF-16 unit at a time.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
// Whether a value name or key path can be written into the file and read back unchanged:
// no NUL, no line break, no unpaired surrogate.
bool IsWritableName(std::u16string_view name);

} // namespace platform::regfile
