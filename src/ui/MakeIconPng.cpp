// Build tool: writes every image of icon 128 as a PNG file for the desktop entry,
// <folder>/<size>x<size>/wlan-utility.png, from the same pixels the window uses. The files
// keep the 16-colour palette (4 bits a pixel) with index 0 transparent. Menus and software
// centres want larger icons than the card's two images, so the 32 x 32 one is also written
// at 64 and 128 pixels, each of its pixels a square block: enlarged, never redrawn.

#include "ui/AppIcon.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

using Bytes = std::string;

void PutBe32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

uint32_t Crc32(std::string_view bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

uint32_t Adler32(std::string_view bytes)
{
    uint32_t a = 1, b = 0;
    for (unsigned char c : bytes) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutChunk(Bytes& out, std::string_view type, const Bytes& data)
{
    PutBe32(out, static_cast<uint32_t>(data.size()));
    Bytes body(type);
    body += data;
    out += body;
    PutBe32(out, Crc32(body));
}

// A zlib stream of stored (uncompressed) deflate blocks: the icons are a few hundred bytes.
Bytes ZlibStored(const Bytes& raw)
{
    Bytes out = "\x78\x01";
    size_t pos = 0;
    do {
        const size_t len = std::min<size_t>(raw.size() - pos, 0xFFFF);
        const bool last = pos + len == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<char>(len & 0xFF));
        out.push_back(static_cast<char>(len >> 8));
        out.push_back(static_cast<char>(~len & 0xFF));
        out.push_back(static_cast<char>((~len >> 8) & 0xFF));
        out.append(raw, pos, len);
        pos += len;
    } while (pos < raw.size());
    PutBe32(out, Adler32(raw));
    return out;
}

// The image with each pixel repeated factor times across and down.
Bytes EncodePng(const fw::IconImage& image, size_t factor)
{
    Bytes png = "\x89PNG\r\n\x1a\n";

    const size_t source = static_cast<size_t>(image.size);
    const size_t size = source * factor;
    Bytes header;
    PutBe32(header, static_cast<uint32_t>(size));
    PutBe32(header, static_cast<uint32_t>(size));
    header += std::string{"\x04\x03\x00\x00\x00", 5};  // 4-bit palette, no interlace
    PutChunk(png, "IHDR", header);

    Bytes palette, alpha;
    for (uint32_t argb : image.palette) {
        palette.push_back(static_cast<char>((argb >> 16) & 0xFF));
        palette.push_back(static_cast<char>((argb >> 8) & 0xFF));
        palette.push_back(static_cast<char>(argb & 0xFF));
        alpha.push_back(static_cast<char>(argb >> 24));
    }
    PutChunk(png, "PLTE", palette);
    PutChunk(png, "tRNS", alpha);

    const auto pixel = [&](size_t x, size_t y) -> uint8_t {
        return x < size ? image.pixels[(y / factor) * source + x / factor] : 0;
    };
    Bytes raw;
    for (size_t y = 0; y < size; ++y) {
        raw.push_back(0);  // no filter
        for (size_t x = 0; x < size; x += 2)
            raw.push_back(static_cast<char>((pixel(x, y) << 4) | (pixel(x + 1, y) & 0x0F)));
    }
    PutChunk(png, "IDAT", ZlibStored(raw));
    PutChunk(png, "IEND", {});
    return png;
}

bool WritePng(const std::filesystem::path& folder, const fw::IconImage& image, size_t factor)
{
    const std::string size = std::to_string(static_cast<size_t>(image.size) * factor);
    const std::filesystem::path dir = folder / (size + "x" + size);
    std::filesystem::create_directories(dir);
    std::ofstream file(dir / "wlan-utility.png", std::ios::binary | std::ios::trunc);
    file << EncodePng(image, factor);
    if (!file.flush()) {
        std::fprintf(stderr, "wlan-icon-png: cannot write %s\n", (dir / "wlan-utility.png").c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <icon folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    for (const fw::IconImage& image : kAppIcon.images)
        if (!WritePng(folder, image, 1))
            return 1;
    for (size_t factor : {2u, 4u})
        if (!WritePng(folder, kAppIcon.images.back(), factor))
            return 1;
    return 0;
}
