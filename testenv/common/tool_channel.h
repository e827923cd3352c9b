// The host side of the command channel: builds command records and writes
// them into the module's mailslot, then signals its event.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testenv {

using Bytes = std::vector<uint8_t>;

// command, arg and payload, padded with zeros to 44 bytes unless `pad` is false.
Bytes Record(int32_t command, uint32_t arg, const Bytes& payload = {}, bool pad = true);
Bytes IndentsPayload(const std::vector<std::vector<int32_t>>& entries);  // six values each

// Writes every record (one mailslot message each), then signals the command
// event once unless `signal` is false. False when the mailslot is absent.
bool SendRecords(const std::vector<Bytes>& records, bool signal = true);
bool SendRecord(const Bytes& record);
bool SignalCommandEvent();
bool MailslotExists();

}  // namespace testenv
