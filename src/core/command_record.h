// Command records as the host writes them into the mailslot, and the
// payloads of the commands that carry one. Nothing here reads past the end
// of the message: a payload whose stated length or strings run past the
// record is clipped to the bytes the record holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "taskbar/indent_entry.h"

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

// How the worker announces a command before running it.
enum class CommandLogKind {
  kNone,           // no line
  kGoingToHandle,  // "Mantlet's going to handle <name>", level 3
  kIsHandling,     // "Mantlet is handling <name>", level 3
  kUnsupported,    // "Unsupported command '<name>'", level 2
};

struct CommandInfo {
  const char* name;  // null for the numbers without a name
  CommandLogKind logKind;
};

// Valid for 1..18 only.
const CommandInfo& GetCommandInfo(int32_t command);

struct CommandRecordView {
  int32_t command = 0;
  uint32_t arg = 0;
  std::span<const uint8_t> payload;  // everything after offset 8
};

// nullopt for a message the worker drops: shorter than 44 bytes, or a
// command number outside 1..18.
std::optional<CommandRecordView> ParseCommandRecord(std::span<const uint8_t> message);

// Host volume names: `arg` bytes of UTF-8 from offset 8, each name ended by
// a NUL. Two NULs in a row give an empty name; nothing gives an empty list.
std::vector<std::u16string> DecodeVolumeNames(const CommandRecordView& record);

struct MessageBoxPayload {
  uint32_t type = 0;
  std::u16string text;
  std::u16string caption;
};

// Type at offset 8, text from offset 12, caption right after the text's
// terminator; a string that is not terminated inside the record ends at the
// record's end.
MessageBoxPayload DecodeMessageBox(const CommandRecordView& record);

// `arg` / 24 entries of 24 bytes from offset 8.
std::vector<IndentEntry> DecodeIndents(const CommandRecordView& record);

}  // namespace mantlet
