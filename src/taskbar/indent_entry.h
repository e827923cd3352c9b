// One display's indents as the host sends them with the indents command.
#pragma once

#include <cstdint>
#include <vector>

#include "core/command_record.h"

namespace mantlet {

// Indent values: -1 leaves the edge alone, 0 removes the strip, anything else
// is a strip that many pixels wide, measured inwards from the monitor edge.
struct IndentEntry {
  int32_t displayX = 0;
  int32_t displayY = 0;
  int32_t left = -1;
  int32_t top = -1;
  int32_t right = -1;
  int32_t bottom = -1;
};

inline constexpr uint32_t kIndentEntrySize = 24;

// `arg` / 24 entries of 24 bytes from offset 8.
std::vector<IndentEntry> DecodeIndents(const CommandRecordView& record);

}  // namespace mantlet
