#include "core/command_record.h"

#include <algorithm>
#include <string_view>

#include "core/bytes.h"
#include "core/utf.h"

namespace mantlet {
namespace {

constexpr CommandInfo kCommands[kLastCommand] = {
    {"EmptyRecycleBinCommand", CommandLogKind::kGoingToHandle},
    {"ShowRecycleBinCommand", CommandLogKind::kGoingToHandle},
    {"ToggleShareMappingCommand", CommandLogKind::kGoingToHandle},
    {"ToggleTaskbarCommand", CommandLogKind::kGoingToHandle},
    {"ToggleDesktopCommand", CommandLogKind::kGoingToHandle},
    {"ToggleMountedVolumesCommand", CommandLogKind::kGoingToHandle},
    {"RelocateTaskBarCommand", CommandLogKind::kUnsupported},
    {"NotifyWeaveStateChangedCommand", CommandLogKind::kGoingToHandle},
    {"ShowMessageBoxCommand", CommandLogKind::kGoingToHandle},
    {"CheckKeyboardHotkeysCommand", CommandLogKind::kGoingToHandle},
    {"AdjustWorkingAreaCommand", CommandLogKind::kUnsupported},
    {"ShowMacMenuAppBarCommand", CommandLogKind::kUnsupported},
    {nullptr, CommandLogKind::kNone},
    {"SetVmColorCommand", CommandLogKind::kGoingToHandle},
    {"UpdateGuestCursorCommand", CommandLogKind::kGoingToHandle},
    {"ShowGlimmerEduCommand", CommandLogKind::kIsHandling},
    {nullptr, CommandLogKind::kNone},
    {nullptr, CommandLogKind::kNone},
};

// The payload bytes a length-carrying command may use: what `arg` says, but
// never more than the record holds.
std::span<const uint8_t> ClipToArg(const CommandRecordView& record) {
  const size_t length = std::min<size_t>(record.arg, record.payload.size());
  return record.payload.first(length);
}

// UTF-16LE units from `bytes` up to the first zero unit; `consumed` gets the
// bytes used including the terminator (all of them when there is none).
std::u16string TakeWideString(std::span<const uint8_t> bytes, size_t& consumed) {
  std::u16string out;
  size_t at = 0;
  while (at + 2 <= bytes.size()) {
    const char16_t unit = LoadU16(bytes.data() + at);
    at += 2;
    if (unit == 0) {
      consumed = at;
      return out;
    }
    out.push_back(unit);
  }
  consumed = bytes.size();
  return out;
}

}  // namespace

const CommandInfo& GetCommandInfo(int32_t command) {
  return kCommands[command - 1];
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

std::vector<std::u16string> DecodeVolumeNames(const CommandRecordView& record) {
  const std::span<const uint8_t> bytes = ClipToArg(record);
  const std::u16string text =
      Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  std::vector<std::u16string> names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos)
      end = text.size();
    names.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

MessageBoxPayload DecodeMessageBox(const CommandRecordView& record) {
  MessageBoxPayload box;
  std::span<const uint8_t> bytes = record.payload;
  if (bytes.size() < 4)
    return box;
  box.type = LoadU32(bytes.data());
  bytes = bytes.subspan(4);
  size_t consumed = 0;
  box.text = TakeWideString(bytes, consumed);
  bytes = bytes.subspan(consumed);
  box.caption = TakeWideString(bytes, consumed);
  return box;
}

std::vector<IndentEntry> DecodeIndents(const CommandRecordView& record) {
  const std::span<const uint8_t> bytes = ClipToArg(record);
  std::vector<IndentEntry> entries(bytes.size() / kIndentEntrySize);
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint8_t* p = bytes.data() + i * kIndentEntrySize;
    entries[i] = IndentEntry{LoadI32(p),      LoadI32(p + 4),  LoadI32(p + 8),
                             LoadI32(p + 12), LoadI32(p + 16), LoadI32(p + 20)};
  }
  return entries;
}

}  // namespace mantlet
