// The host volume names of the mounted-volumes command.
#pragma once

#include <string>
#include <vector>

#include "core/command_record.h"

namespace mantlet {

// `arg` bytes of UTF-8 from offset 8, each name ended by a NUL. Two NULs in a
// row give an empty name; nothing gives an empty list.
std::vector<std::u16string> DecodeVolumeNames(const CommandRecordView& record);

}  // namespace mantlet
