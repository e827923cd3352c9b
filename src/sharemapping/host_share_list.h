// The host's share list (the answer of the share-list request) and what the
// Links-folder refresh takes from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mantlet {

inline constexpr uint32_t kShareWantsShortcut = 0x20;

struct HostShare {
  std::u16string name;  // at most 255 units
  uint32_t flags = 0;
  uint16_t kind = 0;  // 1 to 4 pick the shortcut's icon
};

// Entries are packed one after another: u32 length (to the next entry),
// u32 flags, u16 kind, 14 unused bytes, then the UTF-8 name ended by a NUL.
// Walking stops at an entry shorter than its fixed part, one whose length is
// 0 or runs past the answer; entries whose flags miss `mask`, and names that
// need more than 255 UTF-16 units, are passed over. Nothing past the answer
// is read, even for a name without its NUL.
std::vector<HostShare> ParseHostShares(std::span<const uint8_t> answer, uint32_t mask);

}  // namespace mantlet
