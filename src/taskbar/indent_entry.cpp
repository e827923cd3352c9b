#include "taskbar/indent_entry.h"

#include "core/bytes.h"

namespace mantlet {

std::vector<IndentEntry> DecodeIndents(const CommandRecordView& record) {
  const std::span<const uint8_t> bytes = PayloadOfArgLength(record);
  std::vector<IndentEntry> entries(bytes.size() / kIndentEntrySize);
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint8_t* p = bytes.data() + i * kIndentEntrySize;
    entries[i] = IndentEntry{LoadI32(p),      LoadI32(p + 4),  LoadI32(p + 8),
                             LoadI32(p + 12), LoadI32(p + 16), LoadI32(p + 20)};
  }
  return entries;
}

}  // namespace mantlet
