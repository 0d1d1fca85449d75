#pragma once
// Icon 128, the application icon: a PC card whose antenna sends out radio waves, as a
// 16 x 16 and a 32 x 32 image in 16 colours. The main dialog uses it as its small and large
// icon, and the build turns the same pixels into the PNG files of the desktop entry, so the
// pixels below are the only drawing of it.

#include "framework/DialogTemplate.h"

#include <array>
#include <cstdint>

namespace appicon {

inline constexpr int kId = 128;

// The classic 16-colour palette, 0xAARRGGBB. Index 0 is the transparent background and takes
// the place of magenta, which the drawing does not use.
inline constexpr std::array<uint32_t, 16> kPalette = {
    0x00000000, 0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080,
    0xFF808080, 0xFFC0C0C0, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFF00FFFF, 0xFFFFFFFF,
};

} // namespace appicon

// Both images, the 16 x 16 first.
extern const fw::IconResource kAppIcon;
