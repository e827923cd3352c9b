// Hotkey values as Windows keeps them under "Keyboard Layout\Toggle": a
// decimal string, read as raw bytes whatever the value's type says.
#pragma once

#include <cstdint>
#include <span>

namespace mantlet {

// The bytes are UTF-16LE units up to the first zero unit or the end of the
// data (an odd last byte is ignored). Leading white space and a sign are
// allowed, conversion stops at the first non-digit, no digits give 0; a
// number outside the signed 32-bit range is clamped to it, as wcstol does.
// The result is the signed number's 32-bit pattern.
uint32_t ParseHotkeyValue(std::span<const uint8_t> data);

}  // namespace mantlet
