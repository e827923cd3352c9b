// What the search library's answer means for the host: its low 20 bits are
// ten 2-bit fields in four groups; a field with only its low bit set counts
// for its group, a field with its high bit set vetoes the group.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mantlet {

enum class InstallKind {
  kUpgrade = 1,       // "VersionPrevious" holds more than one byte
  kFreshInstall = 2,  // it holds at most one byte (the empty string)
  kUnreadable = 3,    // it cannot be read in either registry view
};

inline constexpr uint32_t kSearchFieldBits = 0xFFFFF;  // bits 0-19

// Bits above 19 alone mean nothing to report.
constexpr bool HasSearchResults(int32_t searches) {
  return (static_cast<uint32_t>(searches) & kSearchFieldBits) != 0;
}

// The four-bit browser flags of a report, 0 when no group qualifies. The flag
// values do not follow the group order: group 2 gives 0x4, group 3 gives 0x2.
uint32_t ComputeBrowserFlags(int32_t searches);

// Install kind from the byte count of a successful "VersionPrevious" read.
constexpr InstallKind InstallKindFromSize(size_t bytesRead) {
  return bytesRead > 1 ? InstallKind::kUpgrade : InstallKind::kFreshInstall;
}

}  // namespace mantlet
