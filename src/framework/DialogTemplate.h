#pragma once
// Dialog templates as constexpr data: caption, size and controls in dialog units, font, and
// the initial entries of the combo lists. The framework builds windows from them.

#include <cstdint>
#include <span>
#include <string_view>

namespace fw {

enum class ControlKind : uint8_t {
    Label,    // static left-aligned text, no tab stop
    Edit,     // single-line edit, automatic horizontal scroll, border unless NoBorder
    List,     // drop-down list combo box (selection only), vertical scroll bar
    Combo,    // editable drop-down combo box
    Button,   // push button
    Bar,      // progress bar with a border, no tab stop
};

// Styles that change behaviour; everything else follows from the kind.
enum ControlStyle : uint32_t {
    StyleNone = 0,
    StyleNoBorder = 1u << 0,
    StyleDisabled = 1u << 1,  // created disabled
    StyleSorted = 1u << 2,    // combo entries kept in sorted order
};

inline constexpr int kUnaddressed = -1;  // the id of a label no code addresses

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::u16string_view text;
    int16_t x, y, w, h;  // dialog units, relative to the client area
    uint32_t style = StyleNone;
};

struct ComboEntries {
    int id;
    std::span<const std::u16string_view> entries;
};

struct DialogTemplate {
    int id;
    std::u16string_view caption;
    int16_t w, h;                 // dialog units
    std::u16string_view font;     // "System" stands for the framework's dialog font
    int16_t pointSize;
    std::span<const ControlTemplate> controls;
    std::span<const ComboEntries> comboEntries;
    // What one cell of a grid of controls under row headings is called ("byte" for the cells
    // "Key 1 byte 1" .. "Key 4 byte 5"), for the names assistive technology reads.
    std::u16string_view cellWord = {};
};

// One image of an icon: width = height = size pixels, each pixel an index into a palette of
// 16 colours (0xAARRGGBB); index values are 0..15, row by row from the top.
struct IconImage {
    int size;
    std::span<const uint32_t, 16> palette;
    std::span<const uint8_t> pixels;
};

struct IconResource {
    int id;
    std::span<const IconImage> images;
};

} // namespace fw
