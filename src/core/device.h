// The tools device: where it is, how a handle to it is opened, and requests
// that never keep a thread of ours waiting on it without a bound.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/handles.h"

namespace mantlet {

inline constexpr wchar_t kToolsDevicePath[] = L"\\\\.\\cvn_tg";

// A device answers in milliseconds. One that has hung must not hold the
// thread that asked, so a request unanswered this long is given up.
inline constexpr DWORD kDeviceAnswerBoundMs = 5000;

// A handle of the caller's own, opened for overlapped requests: every request
// waits for its answer with a bound. Invalid when the device is absent, with
// the reason in the thread's last error.
UniqueFile OpenToolsDevice();

enum class DeviceAnswer {
  kAnswered,  // the device completed the request; the block holds its answer
  kFailed,    // the call failed; `error` says how
  kGivenUp,   // no answer within the bound, or the caller's abandon event fired
};

struct DeviceResult {
  DeviceAnswer answer = DeviceAnswer::kFailed;
  DWORD error = 0;
  bool answered() const { return answer == DeviceAnswer::kAnswered; }
};

// One request and the memory the device writes into: the request block and,
// for a request with a buffer descriptor, the data buffer the descriptor
// names. A request given up while the device still holds it leaves that
// memory to the device for good, since the device may complete the request,
// and write into it, at any later time.
class DeviceCall {
 public:
  // Throws std::bad_alloc.
  explicit DeviceCall(std::vector<uint8_t> block, size_t dataBytes = 0);
  ~DeviceCall();
  DeviceCall(const DeviceCall&) = delete;
  DeviceCall& operator=(const DeviceCall&) = delete;

  std::vector<uint8_t>& block();
  uint8_t* data();
  size_t dataSize() const;

  // Sends the block on an overlapped handle and waits for the answer at most
  // `boundMs`, or until `abandon` (when given) is signalled or the tool
  // stops, answering the messages sent to this thread's windows meanwhile. After kGivenUp the call
  // must not be sent again.
  DeviceResult Send(HANDLE device, HANDLE abandon = nullptr, DWORD boundMs = kDeviceAnswerBoundMs);

 private:
  struct Io;
  Io* m_io;
  bool m_leftToDevice = false;
};

// While the tool stops, every request still waiting for the device is given
// up at once and none is sent: the stop never waits for the device. Set by
// the stop routine at its start, cleared by the start of the tool.
void SetDeviceRequestsStopping(bool stopping);

// A two-word report (taskbar state, hotkeys, browser information): true when
// the device answered it with status 0.
bool SendTwoWordReport(HANDLE device, uint32_t code, uint32_t first, uint32_t second,
                       HANDLE abandon = nullptr);

}  // namespace mantlet
