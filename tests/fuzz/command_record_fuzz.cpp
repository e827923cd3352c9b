// Any mailslot message: parsing and every payload decoder stay inside it.
#include "core/bytes.h"
#include "core/command_record.h"
#include "fuzz_input.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "taskbar/indent_entry.h"

using namespace mantlet;
using fuzzing::Check;

FUZZ_TARGET(input) {
  const std::span<const uint8_t> data = input.All();
  const auto record = ParseCommandRecord(data);
  const int32_t number = data.size() >= 4 ? LoadI32(data.data()) : 0;
  // Kept exactly when the worker must run it, with the payload from offset 8.
  Check(record.has_value() ==
        (data.size() >= kMinCommandRecordSize && number >= 1 && number <= 18));
  if (!record)
    return;
  Check(record->command == number &&
        record->payload.data() == data.data() + kCommandPayloadOffset &&
        record->payload.size() == data.size() - kCommandPayloadOffset);
  // What the decoders give can never outgrow the record.
  size_t units = 0;
  for (const auto& name : DecodeVolumeNames(*record))
    units += name.size();
  const auto box = DecodeMessageBox(*record);
  Check(units <= data.size() && box.text.size() + box.caption.size() <= data.size() / 2 &&
        DecodeIndents(*record).size() * kIndentEntrySize <= data.size());
}
