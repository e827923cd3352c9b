// The box of the message-box command as the host sends it.
#pragma once

#include <cstdint>
#include <string>

#include "core/command_record.h"

namespace mantlet {

struct MessageBoxPayload {
  uint32_t type = 0;
  std::u16string text;
  std::u16string caption;
};

// Type at offset 8, text from offset 12, caption right after the text's
// terminator; a string that is not terminated inside the record ends at the
// record's end.
MessageBoxPayload DecodeMessageBox(const CommandRecordView& record);

}  // namespace mantlet
