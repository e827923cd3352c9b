#include "interaction/message_box_payload.h"

#include "core/bytes.h"

namespace mantlet {
namespace {

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

}  // namespace mantlet
