#include "core/command_record.h"

#include <algorithm>

#include "core/bytes.h"

namespace mantlet {

std::span<const uint8_t> PayloadOfArgLength(const CommandRecordView& record) {
  const size_t length = std::min<size_t>(record.arg, record.payload.size());
  return record.payload.first(length);
}

const char* CommandName(int32_t command) {
  static constexpr const char* kNames[kLastCommand] = {
      "EmptyRecycleBinCommand",
      "ShowRecycleBinCommand",
      "ToggleShareMappingCommand",
      "ToggleTaskbarCommand",
      "ToggleDesktopCommand",
      "ToggleMountedVolumesCommand",
      "RelocateTaskBarCommand",
      "NotifyWeaveStateChangedCommand",
      "ShowMessageBoxCommand",
      "CheckKeyboardHotkeysCommand",
      "AdjustWorkingAreaCommand",
      "ShowMacMenuAppBarCommand",
      nullptr,
      "SetVmColorCommand",
      "UpdateGuestCursorCommand",
      "ShowGlimmerEduCommand",
      nullptr,
      nullptr,
  };
  return command >= kFirstCommand && command <= kLastCommand ? kNames[command - 1] : nullptr;
}

std::optional<CommandRecordView> ParseCommandRecord(std::span<const uint8_t> message) {
  if (message.size() < kMinCommandRecordSize)
    return std::nullopt;
  CommandRecordView view;
  view.command = LoadI32(message.data());
  view.arg = LoadU32(message.data() + 4);
  if (view.command < kFirstCommand || view.command > kLastCommand)
    return std::nullopt;
  view.payload = message.subspan(kCommandPayloadOffset);
  return view;
}

}  // namespace mantlet
