#include "ui/AppIcon.h"

#include <string_view>

namespace {

// One image drawn as text, a row per line: '.' is palette index 0 (transparent), a
// hexadecimal digit any other index. A row of the wrong width or an unknown character stops
// the build.
template <size_t N>
consteval std::array<uint8_t, N * N> Pixels(const std::array<std::string_view, N>& rows)
{
    std::array<uint8_t, N * N> pixels{};
    for (size_t y = 0; y < N; ++y) {
        if (rows[y].size() != N)
            throw "an icon row has the wrong width";
        for (size_t x = 0; x < N; ++x) {
            const char c = rows[y][x];
            uint8_t index = 0;
            if (c >= '0' && c <= '9')
                index = static_cast<uint8_t>(c - '0');
            else if (c >= 'A' && c <= 'F')
                index = static_cast<uint8_t>(c - 'A' + 10);
            else if (c != '.')
                throw "an icon pixel is not a palette index";
            pixels[y * N + x] = index;
        }
    }
    return pixels;
}

// 1 black outline, 8 and 9 the grey card body with F its lit edges and 4 the gilt contacts,
// 5 the navy label with E and F print on it, the antenna housing 8 with a B and 3 light, and
// the waves in D (blue) and 7 (teal).
constexpr std::array<uint8_t, 16 * 16> kPixels16 = Pixels<16>({
    ".........77777..",
    ".......77.....77",
    "................",
    ".........DDDDD..",
    "........D.....D.",
    ".......D..DDD..D",
    ".........D...D..",
    ".11111111..1....",
    "1FFFFFF811111...",
    "1F555558118811..",
    "1F5FFF5811B811..",
    "1F555558118811..",
    "1F555558118811..",
    "1888888811111...",
    ".11111111.......",
    "................",
});

constexpr std::array<uint8_t, 32 * 32> kPixels32 = Pixels<32>({
    "................................",
    "................................",
    "................................",
    "................................",
    "...................777777777....",
    ".................7777.....7777..",
    "................77...........77.",
    "...............77...DDDDDDD...77",
    "..................DDD.....DDD...",
    ".................DD.........DD..",
    "................DD....DDD....DD.",
    ".....................DD.DD......",
    "....................DD...DD.....",
    ".......................1........",
    ".......................1........",
    "..111111111111111111...1........",
    ".1FFFFFFFFFFFFFFFF81111111......",
    ".1F899999999999999811888811.....",
    ".1F499555555555559811888811.....",
    ".1F8995555555555598118B8811.....",
    ".1F49955FFFFFFF559811838811.....",
    ".1F899555555555559811888811.....",
    ".1F49955EEEE555559811888811.....",
    ".1F899555555555559811888811.....",
    ".1F49955EEEEEE5559811888811.....",
    ".1F899555555555559811888811.....",
    ".1F499555555555559811888811.....",
    ".1F899999999999999811888811.....",
    ".1888888888888888881111111......",
    "..111111111111111111............",
    "................................",
    "................................",
});

constexpr fw::IconImage kImages[] = {
    {16, appicon::kPalette, kPixels16},
    {32, appicon::kPalette, kPixels32},
};

} // namespace

constexpr fw::IconResource kAppIcon{appicon::kId, kImages};
