// The Windows version as one 16-bit number: major in the high byte, minor in
// the low byte (6.1 = 0x0601). Cached once when the module loads.
#pragma once

#include <cstdint>

namespace mantlet {

inline constexpr uint16_t kWindowsVista = 0x0600;
inline constexpr uint16_t kWindows8 = 0x0602;

// GetVersion keeps the major version in its lowest byte and the minor in the
// next one.
constexpr uint16_t VersionFromGetVersion(uint32_t raw) {
  return static_cast<uint16_t>(((raw & 0xFF) << 8) | ((raw >> 8) & 0xFF));
}

// Set at load (and by component tests); 0 before.
extern uint16_t g_windowsVersion;

uint16_t CacheWindowsVersion();

}  // namespace mantlet
