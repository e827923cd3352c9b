// Command records as the host writes them into the mailslot: the number,
// the argument and the payload bytes. The component that owns a command
// decodes its payload; nothing reads past the end of the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mantlet {

inline constexpr size_t kMinCommandRecordSize = 44;
inline constexpr size_t kCommandPayloadOffset = 8;

enum CommandId : int32_t {
  kEmptyRecycleBinCommand = 1,
  kShowRecycleBinCommand = 2,
  kToggleShareMappingCommand = 3,
  kToggleTaskbarCommand = 4,
  kToggleDesktopCommand = 5,
  kToggleMountedVolumesCommand = 6,
  kRelocateTaskBarCommand = 7,
  kNotifyWeaveStateChangedCommand = 8,
  kShowMessageBoxCommand = 9,
  kCheckKeyboardHotkeysCommand = 10,
  kAdjustWorkingAreaCommand = 11,
  kShowMacMenuAppBarCommand = 12,
  kReservedCommand13 = 13,
  kSetVmColorCommand = 14,
  kUpdateGuestCursorCommand = 15,
  kShowGlimmerEduCommand = 16,
  kSetIndentsCommand = 17,
  kBrowsersCommand = 18,
};

inline constexpr int32_t kFirstCommand = 1;
inline constexpr int32_t kLastCommand = 18;

// The command's name as the log spells it; null for the numbers without one
// and outside 1..18.
const char* CommandName(int32_t command);

struct CommandRecordView {
  int32_t command = 0;
  uint32_t arg = 0;
  std::span<const uint8_t> payload;  // everything after offset 8
};

// nullopt for a message the worker drops: shorter than 44 bytes, or a
// command number outside 1..18.
std::optional<CommandRecordView> ParseCommandRecord(std::span<const uint8_t> message);

// The payload bytes a length-carrying command may use: what `arg` says, but
// never more than the record holds.
std::span<const uint8_t> PayloadOfArgLength(const CommandRecordView& record);

}  // namespace mantlet
