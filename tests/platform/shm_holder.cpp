// A second process for the shared-memory tests. It opens and maps the block the way the
// utility does, then reports what it saw on stdout:
//
//   shm_holder NAME [--fsize-limit N] [--write OFFSET:VALUE] [--hold]
//       writes the byte, then prints "shared|private <64 bytes in hex, as found on opening>";
//       with --hold it keeps the block open until its stdin reaches end of file.
//   shm_holder NAME --cycles N [--expect OFFSET:VALUE] [--mark OFFSET:VALUE]
//       opens and closes the block N times; each time the expected byte must be there, and a
//       byte it marks itself must stay while it holds the block and be found through the
//       block's name. Prints "ok" or what failed.

#include "platform/SharedMemory.h"

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr size_t kSize = 64;

struct ByteAt {
    size_t offset;
    unsigned char value;
};

std::optional<ByteAt> ParseByteAt(const char* text)
{
    unsigned offset = 0;
    unsigned value = 0;
    if (std::sscanf(text, "%u:%i", &offset, &value) != 2 || offset >= kSize || value > 0xFF)
        return std::nullopt;
    return ByteAt{offset, static_cast<unsigned char>(value)};
}

std::string Hex(const unsigned char* bytes)
{
    std::string text;
    char digits[3];
    for (size_t i = 0; i < kSize; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

int ByteOfNamedObject(const std::string& name, size_t offset)
{
    int fd = open(("/dev/shm" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    unsigned char byte = 0;
    ssize_t n = pread(fd, &byte, 1, static_cast<off_t>(offset));
    close(fd);
    return n == 1 ? byte : -1;
}

void WaitForEndOfInput()
{
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
}

int RunCycles(const std::string& name, long cycles, std::optional<ByteAt> expect, std::optional<ByteAt> mark)
{
    for (long cycle = 0; cycle < cycles; ++cycle) {
        auto memory = platform::SharedMemory::CreateOrOpen(name, kSize);
        auto view = platform::MappedView::Map(memory);
        auto* bytes = static_cast<volatile unsigned char*>(view.Data());
        if (memory.IsPrivate()) {
            std::printf("private at cycle %ld\n", cycle);
            return 1;
        }
        if (expect && bytes[expect->offset] != expect->value) {
            std::printf("expected byte missing at cycle %ld\n", cycle);
            return 1;
        }
        if (mark) {
            const auto value = static_cast<unsigned char>((mark->value + cycle) % 255 + 1);
            bytes[mark->offset] = value;
            if (bytes[mark->offset] != value) {
                std::printf("own byte cleared while held at cycle %ld\n", cycle);
                return 1;
            }
            // While we hold the block, its name must lead to our object and no other.
            if (ByteOfNamedObject(name, mark->offset) != value) {
                std::printf("the name leads elsewhere at cycle %ld\n", cycle);
                return 1;
            }
        }
    }
    std::printf("ok\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string name = argv[1];
    std::optional<ByteAt> write, expect, mark;
    bool hold = false;
    long cycles = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--hold") {
            hold = true;
            continue;
        }
        ++i;
        if (option == "--write")
            write = ParseByteAt(value);
        else if (option == "--expect")
            expect = ParseByteAt(value);
        else if (option == "--mark")
            mark = ParseByteAt(value);
        else if (option == "--cycles")
            cycles = std::atol(value);
        else if (option == "--fsize-limit") {
            // Files cannot grow past the limit; exceeding it must fail, not kill us.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(std::atol(value)), static_cast<rlim_t>(std::atol(value))};
            setrlimit(RLIMIT_FSIZE, &limit);
        } else
            return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (cycles > 0)
        return RunCycles(name, cycles, expect, mark);

    auto memory = platform::SharedMemory::CreateOrOpen(name, kSize);
    auto view = platform::MappedView::Map(memory);
    auto* bytes = static_cast<unsigned char*>(view.Data());
    // The line goes out after the write, so a reader of the line may rely on the byte.
    const std::string found = Hex(bytes);
    if (write)
        bytes[write->offset] = write->value;
    std::printf("%s %s\n", memory.IsPrivate() ? "private" : "shared", found.c_str());
    if (hold)
        WaitForEndOfInput();
    view.Unmap();
    memory.Close();
    return 0;
}
