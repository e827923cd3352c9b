#include "tool_channel.h"

#include <cstring>

#include "core/channel_names.h"

namespace testenv {
namespace {

void PutU32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

constexpr const wchar_t* kMailslot = mantlet::kMailslotName;
constexpr const wchar_t* kEvent = mantlet::kCommandEventName;

}  // namespace

Bytes Record(int32_t command, uint32_t arg, const Bytes& payload, bool pad) {
  Bytes record;
  PutU32(record, static_cast<uint32_t>(command));
  PutU32(record, arg);
  record.insert(record.end(), payload.begin(), payload.end());
  if (pad && record.size() < 44)
    record.resize(44, 0);
  return record;
}

Bytes IndentsPayload(const std::vector<std::vector<int32_t>>& entries) {
  Bytes out;
  for (const auto& entry : entries) {
    for (int32_t v : entry)
      PutU32(out, static_cast<uint32_t>(v));
  }
  return out;
}

bool SendRecords(const std::vector<Bytes>& records, bool signal) {
  HANDLE slot = CreateFileW(kMailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (slot == INVALID_HANDLE_VALUE)
    return false;
  bool ok = true;
  for (const Bytes& record : records) {
    DWORD written = 0;
    ok = WriteFile(slot, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
         written == record.size() && ok;
  }
  CloseHandle(slot);
  return ok && (!signal || SignalCommandEvent());
}

bool SendRecord(const Bytes& record) {
  return SendRecords({record});
}

bool SignalCommandEvent() {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, kEvent);
  if (event == nullptr)
    return false;
  const bool ok = SetEvent(event) != FALSE;
  CloseHandle(event);
  return ok;
}

bool MailslotExists() {
  HANDLE slot = CreateFileW(kMailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (slot == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(slot);
  return true;
}

}  // namespace testenv
