#pragma once
// Wide (UTF-16) text to the system's 8-bit ANSI code page: the locale's character set
// (nl_langinfo(CODESET) after setlocale(LC_ALL, "")), UTF-8 where the locale is C/POSIX.
// Combining sequences are precomposed first (NFC); characters the code page cannot carry,
// lone surrogates included, become '?'.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// Converts `text` into `out` without a terminator. Answers the number of bytes produced,
// or 0 when the converted text does not fit `out` whole (never a truncated text) or the
// conversion fails.
size_t WideToAnsi(std::u16string_view text, std::span<uint8_t> out);

// The code page's name as iconv knows it ("UTF-8", "ISO-8859-1", ...).
std::string AnsiCodePage();

// As WideToAnsi, into the code page named `codePage` (an iconv name) instead of the
// locale's. Answers 0 as well when iconv does not know the code page.
size_t WideToCodePage(std::u16string_view text, std::span<uint8_t> out, const std::string& codePage);

} // namespace platform
