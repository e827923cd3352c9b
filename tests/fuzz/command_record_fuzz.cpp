// Any mailslot message: parsing and every payload decoder stay inside it.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/bytes.h"
#include "core/command_record.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "taskbar/indent_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mantlet;
  const auto record = ParseCommandRecord(std::span<const uint8_t>(data, size));
  const int32_t number = size >= 4 ? LoadI32(data) : 0;
  // Kept exactly when the worker must run it, with the payload from offset 8.
  if (record.has_value() != (size >= kMinCommandRecordSize && number >= 1 && number <= 18))
    __builtin_trap();
  if (!record)
    return 0;
  if (record->command != number || record->payload.data() != data + kCommandPayloadOffset ||
      record->payload.size() != size - kCommandPayloadOffset) {
    __builtin_trap();
  }
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
