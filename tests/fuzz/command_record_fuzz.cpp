// Any mailslot message: parsing and every payload decoder stay inside it.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/command_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mantlet;
  const auto record = ParseCommandRecord(std::span<const uint8_t>(data, size));
  if (!record)
    return 0;
  const CommandInfo& info = GetCommandInfo(record->command);
  (void)info;
  const auto names = DecodeVolumeNames(*record);
  const auto box = DecodeMessageBox(*record);
  const auto indents = DecodeIndents(*record);
  // What the decoders give can never outgrow the record.
  size_t units = 0;
  for (const auto& name : names)
    units += name.size();
  if (units > size || box.text.size() + box.caption.size() > size / 2 ||
      indents.size() * kIndentEntrySize > size) {
    __builtin_trap();
  }
  return 0;
}
