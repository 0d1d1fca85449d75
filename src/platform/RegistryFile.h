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
// byte-order mark. The older format, first line "REGEDIT4", is 8-bit text (Windows-1252,
// unless the whole file is UTF-8), and so are the bytes of its hex(1), hex(2) and hex(7)
// values, which the document holds as UTF-16 like the registry. Deletions, "name"=- and
// [-path] (the key with its subkeys), act in file order: the document holds what they left.
// It is written back as the person wrote it: the same encoding, byte-order
// mark and line ends, and every line byte for byte, except the lines of the values that were
// changed, which are written anew in place, and the values and keys that were added: a new
// value goes at the end of its key's last section (after any deletion there), a new key
// before its first subkey's section or at the end, so what was added outlives every deletion.
// Comments, deletions, blank lines, the case of "dword:", the wrapping of hex lists and
// duplicated sections all stay as they were.
//
// Every value keeps its exact bytes: a string that plain quoted text cannot carry exactly (a
// lone surrogate, a NUL inside, a missing or extra terminator, a control character) is written
// in the raw hex(1) form.

#include <cstddef>
#include <cstdint>
#include <memory>
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

// A place in the text a document was read from, in UTF-16 units; none for what was added.
inline constexpr size_t kNowhere = SIZE_MAX;

struct Value {
    std::u16string name;  // empty for the key's default value, written "@"
    uint32_t type = 0;
    std::vector<uint8_t> data;

    // The line (with its continuation lines) that gave the value, without the last line's
    // break; for a name given twice in a key, the last one, whose data the value has.
    size_t lineBegin = kNowhere;
    size_t lineEnd = kNowhere;
    bool changed = false;  // its line is written anew

    // Two values are the same when their name, type and bytes are: not their place.
    bool operator==(const Value& other) const
    {
        return name == other.name && type == other.type && data == other.data;
    }
};

struct Key {
    std::u16string path;  // as written, root first: HKEY_LOCAL_MACHINE\Comm\VQ731\Parms
    std::vector<Value> values;

    size_t sectionBegin = kNowhere;  // where its first [key] line starts
    size_t appendAt = kNowhere;      // just after the last line of its last section's values

    const Value* Find(std::u16string_view name) const;
    // Replaces the value of that name in place (keeping the case of its name and its line,
    // untouched when it already holds this) or appends it.
    void Set(std::u16string_view name, uint32_t type, std::vector<uint8_t> data);

    bool operator==(const Key& other) const { return path == other.path && values == other.values; }
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

    // The same keys and values in the same order, wherever they stand in a text.
    bool operator==(const Document& other) const { return keys_ == other.keys_; }

    enum class Encoding { Utf8, Utf8WithMark, Utf16LeWithMark, Cp1252 };
    struct Source {
        std::u16string text;  // the whole file, decoded
        Encoding encoding = Encoding::Utf8;
        std::u16string lineEnd;  // of its first line: what new lines end with
    };

private:
    friend class Parser;
    std::vector<Key> keys_;
    std::shared_ptr<const Source> source_;  // null for a document not read from a text
};

// Key paths and value names compare without regard to case, as the registry compares them:
// each UTF-16 unit upper-cased on its own (simple case mapping), never mapping a non-ASCII
// unit to an ASCII one, so that long s and s, dotless i and i stay different names.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
// Whether a value name or key path can be written into the file and read back unchanged:
// no NUL, no line break, no unpaired surrogate.
bool IsWritableName(std::u16string_view name);

} // namespace platform::regfile
