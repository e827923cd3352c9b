// Any mailslot message: the record parser and every payload decoder stay
// inside it.
#include "core/command_record.h"
#include "fuzz_input.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "taskbar/indent_entry.h"

FUZZ_TARGET(input) {
  if (const auto record = mantlet::ParseCommandRecord(input.Rest())) {
    (void)mantlet::DecodeVolumeNames(*record);
    (void)mantlet::DecodeMessageBox(*record);
    (void)mantlet::DecodeIndents(*record);
  }
}
