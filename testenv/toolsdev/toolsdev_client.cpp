#include "toolsdev_client.h"

#include <cstring>

namespace testenv {
namespace {

// One control on an overlapped handle, which a wait needs so that it can be
// abandoned on time-out. Each call has its own event: calls running at once
// on one handle must not share one.
class OverlappedCall {
 public:
  OverlappedCall() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    overlapped_.hEvent = event_;
  }
  ~OverlappedCall() {
    if (event_)
      CloseHandle(event_);
  }
  OverlappedCall(const OverlappedCall&) = delete;
  OverlappedCall& operator=(const OverlappedCall&) = delete;

  // Starts the control; false when it failed at once (the error is in
  // GetLastError()).
  bool Start(HANDLE device, DWORD ioctl, const void* in, DWORD inLength, void* out,
             DWORD outLength) {
    if (!event_)
      return false;
    device_ = device;
    DWORD returned = 0;
    if (DeviceIoControl(device, ioctl, const_cast<void*>(in), inLength, out, outLength, &returned,
                        &overlapped_)) {
      started_ = true;
      return true;
    }
    started_ = GetLastError() == ERROR_IO_PENDING;
    return started_;
  }

  // Waits for the outcome; on time-out cancels the control and waits for the
  // cancellation, so that the buffers can be released by the caller.
  bool Finish(DWORD timeoutMs, DWORD* returned) {
    if (!started_)
      return false;
    if (WaitForSingleObject(event_, timeoutMs) == WAIT_TIMEOUT)
      CancelIoEx(device_, &overlapped_);
    started_ = false;
    DWORD bytes = 0;
    const bool ok = GetOverlappedResult(device_, &overlapped_, &bytes, TRUE) != FALSE;
    if (returned)
      *returned = bytes;
    return ok;
  }

 private:
  HANDLE event_ = nullptr;
  HANDLE device_ = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped_{};
  bool started_ = false;
};

HANDLE OpenDevice(DWORD flags) {
  return CreateFileW(TD_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

bool CallAndWait(HANDLE device, DWORD ioctl, const void* in, DWORD inLength, void* out,
                 DWORD outLength, DWORD* returned) {
  OverlappedCall call;
  if (!call.Start(device, ioctl, in, inLength, out, outLength))
    return false;
  return call.Finish(INFINITE, returned);
}

// Room for at least 100 records of the largest size; a read that leaves room
// for another one has returned everything there was.
constexpr DWORD kMaxRecordBytes = sizeof(TdRecordHeader) + TD_MAX_RECORD_BLOCK;
constexpr DWORD kRecordBufferBytes = 100 * kMaxRecordBytes;

// Appends the records of `bytes` to `records`; returns the last seq seen.
uint32_t ParseRecords(const uint8_t* bytes, DWORD size, std::vector<DevRecord>& records,
                      uint32_t lastSeq) {
  size_t offset = 0;
  while (offset + sizeof(TdRecordHeader) <= size) {
    TdRecordHeader header;
    std::memcpy(&header, bytes + offset, sizeof(header));
    offset += sizeof(header);
    if (offset + header.blockBytes > size)
      break;
    DevRecord record;
    record.seq = header.seq;
    record.code = header.code;
    record.blockStatus = header.blockStatus;
    record.irpStatus = header.irpStatus;
    record.qpc = header.qpc;
    record.qpcFrequency = header.qpcFrequency;
    record.inputLength = header.inputLength;
    record.block.assign(bytes + offset, bytes + offset + header.blockBytes);
    offset += header.blockBytes;
    lastSeq = record.seq;
    records.push_back(std::move(record));
  }
  return lastSeq;
}

}  // namespace

uint32_t DevRecord::PayloadWord(size_t index) const {
  const size_t offset = 16 + 4 * index;
  if (offset + 4 > block.size())
    return 0;
  return static_cast<uint32_t>(block[offset]) | static_cast<uint32_t>(block[offset + 1]) << 8 |
         static_cast<uint32_t>(block[offset + 2]) << 16 |
         static_cast<uint32_t>(block[offset + 3]) << 24;
}

ToolsDevControl::~ToolsDevControl() {
  if (handle_ != INVALID_HANDLE_VALUE)
    CloseHandle(handle_);
  if (waitHandle_ != INVALID_HANDLE_VALUE)
    CloseHandle(waitHandle_);
}

bool ToolsDevControl::Open() {
  if (handle_ != INVALID_HANDLE_VALUE)
    return true;
  const HANDLE control = OpenDevice(0);
  if (control == INVALID_HANDLE_VALUE)
    return false;
  waitHandle_ = OpenDevice(FILE_FLAG_OVERLAPPED);
  if (waitHandle_ == INVALID_HANDLE_VALUE) {
    CloseHandle(control);
    return false;
  }
  handle_ = control;
  return true;
}

bool ToolsDevControl::Control(DWORD ioctl, const void* in, DWORD inLength, void* out,
                              DWORD outLength, DWORD* returned) {
  if (handle_ == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD bytes = 0;
  const bool ok = DeviceIoControl(handle_, ioctl, const_cast<void*>(in), inLength, out, outLength,
                                  &bytes, nullptr) != FALSE;
  if (returned)
    *returned = bytes;
  return ok;
}

bool ToolsDevControl::Reset() {
  return Control(TD_IOCTL_RESET, nullptr, 0, nullptr, 0, nullptr);
}

uint32_t ToolsDevControl::FireHostEvent(uint32_t blockStatus, int32_t irpStatus,
                                        uint32_t maxCount) {
  const TdFireEvent fire{blockStatus, irpStatus, maxCount};
  uint32_t count = 0;
  DWORD returned = 0;
  if (!Control(TD_IOCTL_FIRE_EVENT, &fire, sizeof(fire), &count, sizeof(count), &returned) ||
      returned != sizeof(count))
    return 0;
  return count;
}

std::optional<TdStats> ToolsDevControl::Stats() {
  TdStats stats{};
  DWORD returned = 0;
  if (!Control(TD_IOCTL_GET_STATS, nullptr, 0, &stats, sizeof(stats), &returned) ||
      returned != sizeof(stats))
    return std::nullopt;
  return stats;
}

std::vector<std::pair<uint32_t, uint32_t>> ToolsDevControl::ReportWords(uint32_t code,
                                                                        uint32_t afterSeq) {
  std::vector<std::pair<uint32_t, uint32_t>> words;
  for (const DevRecord& record : Records(afterSeq, code))
    words.emplace_back(record.PayloadWord(0), record.PayloadWord(1));
  return words;
}

std::vector<DevRecord> ToolsDevControl::Records(uint32_t afterSeq, uint32_t code) {
  std::vector<DevRecord> records;
  std::vector<uint8_t> buffer(kRecordBufferBytes);
  for (;;) {
    const TdReadRecords query{afterSeq, code};
    std::memcpy(buffer.data(), &query, sizeof(query));
    DWORD returned = 0;
    if (!Control(TD_IOCTL_READ_RECORDS, buffer.data(), sizeof(query), buffer.data(),
                 kRecordBufferBytes, &returned) ||
        returned == 0)
      break;
    afterSeq = ParseRecords(buffer.data(), returned, records, afterSeq);
    if (kRecordBufferBytes - returned >= kMaxRecordBytes)
      break;
  }
  return records;
}

std::optional<DevRecord> ToolsDevControl::WaitForRecord(uint32_t code, uint32_t afterSeq,
                                                        DWORD timeoutMs) {
  if (waitHandle_ == INVALID_HANDLE_VALUE)
    return std::nullopt;
  const TdWaitRecord wait{afterSeq, code};
  // The answer carries the record after its seq, so that waking costs one
  // round trip (a latency benchmark waits through here).
  uint8_t answer[sizeof(uint32_t) + kMaxRecordBytes];
  OverlappedCall call;
  if (!call.Start(waitHandle_, TD_IOCTL_WAIT_RECORD, &wait, sizeof(wait), answer, sizeof(answer)))
    return std::nullopt;
  DWORD returned = 0;
  if (!call.Finish(timeoutMs, &returned) || returned < sizeof(uint32_t))
    return std::nullopt;
  uint32_t seq = 0;
  std::memcpy(&seq, answer, sizeof(seq));
  std::vector<DevRecord> records;
  ParseRecords(answer + sizeof(seq), returned - sizeof(seq), records, 0);
  if (records.empty())
    return std::nullopt;  // overwritten by the ring or dropped by a reset before the wait completed
  return std::move(records[0]);
}

bool ToolsDevControl::WaitPendingHostWaits(uint32_t count, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const auto stats = Stats();
    if (stats && stats->pendingHostWaits == count)
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(2);
  }
}

bool ToolsDevControl::SetResponse(uint32_t code, const DevResponse& response, bool oneShot) {
  TdResponse scripted{};
  scripted.code = code;
  scripted.oneShot = oneShot ? 1 : 0;
  scripted.blockStatus = response.blockStatus;
  scripted.irpStatus = response.irpStatus;
  scripted.patchOffset = response.patchOffset;
  scripted.patchLength = static_cast<uint32_t>(response.patch.size());
  scripted.hasDescriptorData = response.hasDescriptorData ? 1 : 0;
  scripted.descriptorLength =
      response.hasDescriptorData ? static_cast<uint32_t>(response.descriptorData.size()) : 0;
  scripted.tooSmallStatus = response.tooSmallStatus;
  scripted.delayMs = response.delayMs;
  std::vector<uint8_t> in(sizeof(scripted) + scripted.patchLength + scripted.descriptorLength);
  std::memcpy(in.data(), &scripted, sizeof(scripted));
  if (scripted.patchLength)
    std::memcpy(in.data() + sizeof(scripted), response.patch.data(), scripted.patchLength);
  if (scripted.descriptorLength)
    std::memcpy(in.data() + sizeof(scripted) + scripted.patchLength, response.descriptorData.data(),
                scripted.descriptorLength);
  return Control(TD_IOCTL_SET_RESPONSE, in.data(), static_cast<DWORD>(in.size()), nullptr, 0,
                 nullptr);
}

bool ToolsDevControl::SetCancellable(bool cancellable) {
  const uint32_t on = cancellable ? 1 : 0;
  return Control(TD_IOCTL_SET_CANCELLABLE, &on, sizeof(on), nullptr, 0, nullptr);
}

bool ToolsDevControl::HangFor(DWORD ms) {
  // 0 would end a hang and the largest value would never end by itself.
  const uint32_t value = ms == 0 ? 1 : (ms >= TD_HANG_UNTIL_TOLD ? TD_HANG_UNTIL_TOLD - 1 : ms);
  return Control(TD_IOCTL_SET_HANG, &value, sizeof(value), nullptr, 0, nullptr);
}

bool ToolsDevControl::Hang() {
  const uint32_t value = TD_HANG_UNTIL_TOLD;
  return Control(TD_IOCTL_SET_HANG, &value, sizeof(value), nullptr, 0, nullptr);
}

bool ToolsDevControl::EndHang() {
  const uint32_t value = 0;
  return Control(TD_IOCTL_SET_HANG, &value, sizeof(value), nullptr, 0, nullptr);
}

// ---- DescriptorCopier ----

namespace {

constexpr DWORD kInitialOrderBuffer = 64 * 1024;

// Writes one order into this process. WriteProcessMemory on ourselves fails
// cleanly on an address that is not writable here instead of faulting.
bool WriteOrder(const TdCopyOrder& order, const uint8_t* bytes) {
  if (order.length == 0)
    return true;
  if (order.address == 0 || order.address > UINTPTR_MAX)
    return false;
  SIZE_T written = 0;
  return WriteProcessMemory(GetCurrentProcess(),
                            reinterpret_cast<void*>(static_cast<uintptr_t>(order.address)), bytes,
                            order.length, &written) &&
         written == order.length;
}

}  // namespace

DescriptorCopier::~DescriptorCopier() {
  Stop();
}

bool DescriptorCopier::Start() {
  if (thread_)
    return true;
  device_ = OpenDevice(FILE_FLAG_OVERLAPPED);
  if (device_ == INVALID_HANDLE_VALUE)
    return false;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  armed_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stop_ && armed_)
    thread_ = CreateThread(nullptr, 0, &DescriptorCopier::ThreadMain, this, 0, nullptr);
  if (thread_) {
    // The thread signals once its first slot is queued; a control sent after
    // that reaches the driver after the slot (Wine hands IRPs to the driver
    // in the order they were queued), so Stats confirms the slot is pending.
    const HANDLE waits[] = {armed_, thread_};
    if (WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0) {
      TdStats stats{};
      DWORD returned = 0;
      if (CallAndWait(device_, TD_IOCTL_GET_STATS, nullptr, 0, &stats, sizeof(stats), &returned) &&
          stats.copierWaiting > 0)
        return true;
    }
  }
  Stop();
  return false;
}

void DescriptorCopier::Stop() {
  if (thread_) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  // Closed only after the thread has been joined: it waits on both.
  if (device_ != INVALID_HANDLE_VALUE) {
    CloseHandle(device_);
    device_ = INVALID_HANDLE_VALUE;
  }
  if (stop_) {
    CloseHandle(stop_);
    stop_ = nullptr;
  }
  if (armed_) {
    CloseHandle(armed_);
    armed_ = nullptr;
  }
}

DWORD WINAPI DescriptorCopier::ThreadMain(void* param) {
  auto* self = static_cast<DescriptorCopier*>(param);
  std::vector<uint8_t> buffer(kInitialOrderBuffer);
  HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ioEvent)
    return 1;
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent;
    ResetEvent(ioEvent);
    DWORD returned = 0;
    if (!DeviceIoControl(self->device_, TD_IOCTL_COPIER_WAIT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &returned, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
      break;
    SetEvent(self->armed_);
    const HANDLE waits[] = {self->stop_, ioEvent};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0 + 1) {
      // Stop (or a failed wait): cancel the slot and wait for it to end, so
      // that the buffer and OVERLAPPED outlive the request.
      CancelIoEx(self->device_, &overlapped);
      GetOverlappedResult(self->device_, &overlapped, &returned, TRUE);
      break;
    }
    const bool ok = GetOverlappedResult(self->device_, &overlapped, &returned, FALSE) != FALSE;
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if ((!ok && error != ERROR_MORE_DATA) || returned < sizeof(TdCopyOrder))
      break;  // device gone or slot ended
    TdCopyOrder order;
    std::memcpy(&order, buffer.data(), sizeof(order));
    if (!ok) {
      // ERROR_MORE_DATA: the order is kept for the next slot; re-arm with room for it.
      buffer.resize(sizeof(TdCopyOrder) + static_cast<size_t>(order.length));
      continue;
    }
    TdCopyDone report{order.orderId, 0};
    if (returned >= sizeof(order) + order.length)
      report.ok = WriteOrder(order, buffer.data() + sizeof(order)) ? 1 : 0;
    CallAndWait(self->device_, TD_IOCTL_COPIER_DONE, &report, sizeof(report), nullptr, 0, nullptr);
  }
  CloseHandle(ioEvent);
  return 0;
}

}  // namespace testenv
