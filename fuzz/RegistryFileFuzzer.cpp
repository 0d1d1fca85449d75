// The registry file reader given any bytes: it either parses them or names the bad line, and
// what it parsed, written out and read again, is the same document, written the same way.
#include "platform/RegistryFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

using platform::regfile::Document;
using platform::regfile::ParseError;

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
            std::abort();
        return 0;
    }
    const Document& document = std::get<Document>(parsed);
    const std::string written = document.Serialize();
    const auto reread = Document::Parse(written);
    if (!std::holds_alternative<Document>(reread))
        std::abort();  // the writer produced something its own reader refuses
    if (!(std::get<Document>(reread) == document))
        std::abort();  // a value or key changed on the way through the file
    if (std::get<Document>(reread).Serialize() != written)
        std::abort();  // the written form is not stable
    return 0;
}
