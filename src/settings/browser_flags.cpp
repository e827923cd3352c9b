#include "settings/browser_flags.h"

namespace mantlet {
namespace {

struct FieldGroup {
  int firstBit;
  uint32_t lowBits;
  uint32_t highBits;
  uint32_t flag;
};

constexpr FieldGroup kGroups[] = {
    {0, 0x5, 0xA, 0x1},
    {4, 0x5, 0xA, 0x4},
    {8, 0x5, 0xA, 0x2},
    {12, 0x55, 0xAA, 0x8},
};

}  // namespace

uint32_t ComputeBrowserFlags(int32_t searches) {
  uint32_t flags = 0;
  for (const FieldGroup& group : kGroups) {
    // Arithmetic shift, as the library's signed result asks for; only the
    // low byte is looked at, so the sign never reaches a mask.
    const uint32_t fields = static_cast<uint32_t>(searches >> group.firstBit) & 0xFF;
    if ((fields & group.lowBits) != 0 && (fields & group.highBits) == 0)
      flags |= group.flag;
  }
  return flags;
}

}  // namespace mantlet
