#pragma once
// The small vocabulary every window and control of the framework shares: the messages it
// routes, their notification codes, and the enums used at call sites instead of bools.

#include <cstdint>

namespace fw {

// Messages routed through the static message tables, with the classic numbers.
inline constexpr uint32_t WM_ACTIVATE = 0x0006;
inline constexpr uint32_t WM_COMMAND = 0x0111;
inline constexpr uint32_t WM_TIMER = 0x0113;

// Notification codes carried in the high word of a command's first argument.
inline constexpr uint16_t BN_CLICKED = 0;
inline constexpr uint16_t CBN_SELCHANGE = 1;
inline constexpr uint16_t EN_CHANGE = 0x0300;

// Activation states carried in the low word of an activation's first argument.
inline constexpr uint32_t WA_INACTIVE = 0;
inline constexpr uint32_t WA_ACTIVE = 1;
inline constexpr uint32_t WA_CLICKACTIVE = 2;

// One message as a window receives it. For a command, wParam holds the control id in its
// low 16 bits and the notification code in its high 16 bits; for a timer, the timer id; for
// an activation, the state in its low word and the minimised flag in its high word, with
// the other window (a fw::Wnd*, or 0) in lParam.
struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

constexpr uint16_t LoWord(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
constexpr uint16_t HiWord(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }
constexpr uintptr_t MakeWParam(uint16_t lo, uint16_t hi) { return uintptr_t{lo} | (uintptr_t{hi} << 16); }

enum class Show { Hide, Normal };
enum class Enable { Off, On };
enum class IconSize { Small = 0, Large = 1 };

} // namespace fw
