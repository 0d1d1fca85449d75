#include "platform/TextConversion.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <optional>
#include <uninorm.h>
#include <vector>

namespace platform {

namespace {

constexpr char16_t kReplacement = u'?';

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// A surrogate without its partner names no character; it becomes '?' like any other
// character the code page cannot carry. Doing it first also keeps the normaliser and
// iconv away from ill-formed input.
std::u16string ReplaceLoneSurrogates(std::u16string_view text)
{
    std::u16string result(text);
    for (size_t i = 0; i < result.size(); ++i) {
        if (IsHighSurrogate(result[i]) && i + 1 < result.size() && IsLowSurrogate(result[i + 1]))
            ++i;
        else if (IsHighSurrogate(result[i]) || IsLowSurrogate(result[i]))
            result[i] = kReplacement;
    }
    return result;
}

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};

// Combining sequences are precomposed (NFC) so that "e" plus a combining accent reaches a
// code page that has the accented letter as that one letter.
std::u16string Precompose(std::u16string text)
{
    if (text.empty())
        return text;
    size_t length = 0;
    std::unique_ptr<uint16_t, FreeDeleter> normalized(u16_normalize(
        UNINORM_NFC, reinterpret_cast<const uint16_t*>(text.data()), text.size(), nullptr, &length));
    if (!normalized)
        return text;  // out of memory: the text is still well formed, convert it as it is
    return std::u16string(reinterpret_cast<const char16_t*>(normalized.get()), length);
}

std::vector<char> LittleEndianBytes(std::u16string_view text)
{
    std::vector<char> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

class Converter {
public:
    explicit Converter(const std::string& codePage)
        : cd_(iconv_open(codePage.c_str(), "UTF-16LE"))
    {
    }
    ~Converter()
    {
        if (IsValid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsValid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts into `out`; answers the bytes produced, or nothing when they do not all fit.
    std::optional<size_t> Convert(std::vector<char>& input, std::span<uint8_t> out)
    {
        char* in = input.data();
        size_t inLeft = input.size();
        out_ = reinterpret_cast<char*>(out.data());
        outLeft_ = out.size();
        while (inLeft > 0) {
            if (iconv(cd_, &in, &inLeft, &out_, &outLeft_) != static_cast<size_t>(-1))
                break;
            if (errno != EILSEQ && errno != EINVAL)
                return std::nullopt;  // E2BIG: the text does not fit whole
            // The character at `in` has no place in the code page: skip it, '?' instead.
            size_t skip = inLeft >= 4 && IsPairAt(in) ? 4 : std::min<size_t>(2, inLeft);
            in += skip;
            inLeft -= skip;
            if (!EmitReplacement())
                return std::nullopt;
        }
        // A stateful code page may need to return to its initial shift state.
        if (iconv(cd_, nullptr, nullptr, &out_, &outLeft_) == static_cast<size_t>(-1))
            return std::nullopt;
        return out.size() - outLeft_;
    }

private:
    static bool IsPairAt(const char* bytes)
    {
        auto unitAt = [bytes](size_t index) {
            return static_cast<char16_t>(static_cast<unsigned char>(bytes[index])
                                         | static_cast<unsigned char>(bytes[index + 1]) << 8);
        };
        return IsHighSurrogate(unitAt(0)) && IsLowSurrogate(unitAt(2));
    }

    bool EmitReplacement()
    {
        char replacement[2] = {static_cast<char>(kReplacement), 0};
        char* in = replacement;
        size_t inLeft = sizeof replacement;
        // Through the same descriptor, so '?' is spelled in the code page and its shift state.
        if (iconv(cd_, &in, &inLeft, &out_, &outLeft_) != static_cast<size_t>(-1))
            return true;
        return errno != E2BIG;  // a code page without '?' just loses the character
    }

    iconv_t cd_;
    char* out_ = nullptr;
    size_t outLeft_ = 0;
};

// The codeset of the locale that setlocale(LC_ALL, "") would select, read through a locale
// object of its own, so the process's global locale is never changed behind anyone's back.
std::string LocaleCodeset()
{
    locale_t locale = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr))
        return {};  // setlocale would fail too and leave the C locale in force
    const char* codeset = nl_langinfo_l(CODESET, locale);
    std::string result = codeset ? codeset : "";
    freelocale(locale);
    return result;
}

std::string CodePageOfCodeset(const std::string& codeset)
{
    // The C/POSIX locale names plain ASCII, which cannot carry most names: UTF-8 is taken
    // there instead, as it is a superset and what the rest of the system speaks.
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII")
        return "UTF-8";
    return codeset;
}

} // namespace

std::string AnsiCodePage()
{
    static const std::string codePage = CodePageOfCodeset(LocaleCodeset());
    return codePage;
}

size_t WideToCodePage(std::u16string_view text, std::span<uint8_t> out, const std::string& codePage)
{
    if (text.empty() || out.empty())
        return 0;
    Converter converter(codePage);
    if (!converter.IsValid())
        return 0;
    std::vector<char> input = LittleEndianBytes(Precompose(ReplaceLoneSurrogates(text)));
    // Converted into scratch space first: a text that does not fit leaves `out` as it was.
    std::vector<uint8_t> scratch(out.size());
    std::optional<size_t> produced = converter.Convert(input, scratch);
    if (!produced || *produced == 0)
        return 0;
    std::copy_n(scratch.begin(), *produced, out.begin());
    return *produced;
}

size_t WideToAnsi(std::u16string_view text, std::span<uint8_t> out)
{
    return WideToCodePage(text, out, AnsiCodePage());
}

} // namespace platform
