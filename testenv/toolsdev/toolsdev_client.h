// User-mode client of the tools device stand-in: what tests, the host
// stand-in and the benchmarks use to script the device and read back what
// the module sent.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "toolsdev_protocol.h"

namespace testenv {

struct DevRecord {
  uint32_t seq = 0;
  uint32_t code = 0;
  uint32_t blockStatus = 0;
  int32_t irpStatus = 0;
  int64_t qpc = 0;
  int64_t qpcFrequency = 0;
  uint32_t inputLength = 0;
  std::vector<uint8_t> block;  // the request block as it arrived

  // Little-endian 32-bit word of the inline payload (offset 16 + 4 * index).
  uint32_t PayloadWord(size_t index) const;
};

struct DevResponse {
  uint32_t blockStatus = 0;
  int32_t irpStatus = 0;  // NTSTATUS to fail DeviceIoControl with
  uint32_t patchOffset = 0;
  std::vector<uint8_t> patch;
  bool hasDescriptorData = false;
  std::vector<uint8_t> descriptorData;
  uint32_t tooSmallStatus = 0;
  uint32_t delayMs = 0;
};

class ToolsDevControl {
 public:
  ToolsDevControl() = default;
  ~ToolsDevControl();
  ToolsDevControl(const ToolsDevControl&) = delete;
  ToolsDevControl& operator=(const ToolsDevControl&) = delete;

  bool Open();  // opens "\\.\cvn_tg"; false when the stand-in is not running

  bool Reset();
  // Completes pending host waits; returns how many were completed.
  uint32_t FireHostEvent(uint32_t blockStatus, int32_t irpStatus = 0, uint32_t maxCount = 0);
  std::optional<TdStats> Stats();
  std::vector<DevRecord> Records(uint32_t afterSeq = 0, uint32_t code = 0);
  // The first two payload words of each report of a code (the two-word
  // reports 0x8500-0x8502), oldest first.
  std::vector<std::pair<uint32_t, uint32_t>> ReportWords(uint32_t code, uint32_t afterSeq = 0);
  // Waits (device-side, no polling) for a record newer than afterSeq with
  // the code (0 = any); nullopt on time-out. The record is as it was when
  // the wait ended: a request still pending shows irpStatus 0x103. One round
  // trip through the wineserver once the record exists (about 0.3-0.4 ms).
  std::optional<DevRecord> WaitForRecord(uint32_t code, uint32_t afterSeq, DWORD timeoutMs);
  // Polls Stats until `count` host waits are pending; false on time-out.
  bool WaitPendingHostWaits(uint32_t count, DWORD timeoutMs);
  bool SetResponse(uint32_t code, const DevResponse& response, bool oneShot);

  // The device promises no cancellation: by default CancelIo leaves a request
  // it holds (a host wait, a delayed answer) pending, and only the close of
  // its handle ends it. SetCancellable(true) is the kinder device whose held
  // requests CancelIo ends (ERROR_OPERATION_ABORTED); it applies to requests
  // queued after the call, and Reset() makes the device strict again.
  bool SetCancellable(bool cancellable);
  // A device that answers nothing: from now on it holds every request (and
  // those it already held), past CancelIo and the close of their handles,
  // until the hang ends, after `ms` for HangFor, when EndHang() or Reset() is
  // called for Hang(). Then each held request fails with ERROR_NOT_READY.
  // The test's own controls keep working meanwhile; Stats() shows the hang.
  bool HangFor(DWORD ms);
  bool Hang();
  bool EndHang();

 private:
  bool Control(DWORD ioctl, const void* in, DWORD inLength, void* out, DWORD outLength,
               DWORD* returned);
  // Controls that complete at once go through a synchronous handle: under
  // Wine an overlapped call costs about twice the round trip. Waits that may
  // have to be abandoned use an overlapped handle of their own.
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE waitHandle_ = INVALID_HANDLE_VALUE;
};

// Runs the copier thread in the calling process: writes descriptor data the
// stand-in hands out into this process's memory. Start it in the process
// whose requests carry descriptors (the host stand-in, or a component test),
// and in that one only: the driver cannot tell which process sent a request
// (under Wine it runs in winedevice.exe and cannot reach the caller), so an
// order is written at its address in whichever process holds the copier.
// Without a copier such requests get TD_STATUS_NO_COPIER.
class DescriptorCopier {
 public:
  DescriptorCopier() = default;
  ~DescriptorCopier();
  DescriptorCopier(const DescriptorCopier&) = delete;
  DescriptorCopier& operator=(const DescriptorCopier&) = delete;

  bool Start();  // returns once the copier slot is pending in the driver
  void Stop();

 private:
  static DWORD WINAPI ThreadMain(void* self);
  HANDLE thread_ = nullptr;
  HANDLE device_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr;
  HANDLE armed_ = nullptr;  // set by the thread once its first slot is queued
};

}  // namespace testenv
