#include "core/device.h"

#include <atomic>
#include <memory>
#include <new>
#include <utility>

#include "core/device_request.h"
#include "core/log.h"
#include "core/threads.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "MANTLETDLL";
// After a cancel, how long a device that honours it has to give the request
// back before its memory is left to it.
constexpr DWORD kCancelGraceMs = 50;

// Manual-reset, signalled while the tool stops; made on first use and kept
// for the process's life.
HANDLE StoppingEvent() {
  static std::atomic<HANDLE> event{nullptr};
  HANDLE current = event.load();
  if (current == nullptr) {
    UniqueHandle made(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The first thread to make one keeps it; a later one closes its own.
    if (made && event.compare_exchange_strong(current, made.get()))
      return made.release();
  }
  return current;
}

}  // namespace

void SetDeviceRequestsStopping(bool stopping) {
  if (HANDLE event = StoppingEvent())
    stopping ? SetEvent(event) : ResetEvent(event);
}

struct DeviceCall::Io {
  OVERLAPPED overlapped = {};
  UniqueHandle done;
  std::vector<uint8_t> block;
  std::vector<uint8_t> data;
};

UniqueFile OpenToolsDevice() {
  return UniqueFile(CreateFileW(kToolsDevicePath, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

DeviceCall::DeviceCall(std::vector<uint8_t> block, size_t dataBytes) {
  auto io = std::make_unique<Io>();
  io->block = std::move(block);
  io->data.resize(dataBytes);
  io->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!io->done) {
    // Send fails at once without it; the reason must not go unseen.
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create an event for device request 0x%x",
                 static_cast<unsigned>(DeviceRequestCodeOf(io->block)));
  }
  m_io = io.release();
}

DeviceCall::~DeviceCall() {
  if (!m_leftToDevice)
    delete m_io;
}

std::vector<uint8_t>& DeviceCall::block() {
  return m_io->block;
}

uint8_t* DeviceCall::data() {
  return m_io->data.data();
}

size_t DeviceCall::dataSize() const {
  return m_io->data.size();
}

DeviceResult DeviceCall::Send(HANDLE device, HANDLE abandon, DWORD boundMs) {
  if (m_leftToDevice || !m_io->done)
    return {DeviceAnswer::kFailed, ERROR_INVALID_HANDLE};
  const HANDLE stopping = StoppingEvent();
  if (stopping != nullptr && WaitForSingleObject(stopping, 0) == WAIT_OBJECT_0)
    return {DeviceAnswer::kGivenUp, ERROR_OPERATION_ABORTED};
  Io& io = *m_io;
  io.overlapped = {};
  io.overlapped.hEvent = io.done.get();
  ResetEvent(io.done.get());
  const DWORD size = static_cast<DWORD>(io.block.size());
  DWORD returned = 0;
  if (DeviceIoControl(device, kToolsDeviceIoControl, io.block.data(), size, io.block.data(), size,
                      &returned, &io.overlapped)) {
    return {DeviceAnswer::kAnswered, 0};
  }
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING)
    return {DeviceAnswer::kFailed, error};

  HANDLE waits[3] = {io.done.get()};
  DWORD count = 1;
  for (HANDLE other : {stopping, abandon}) {
    if (other != nullptr)
      waits[count++] = other;
  }
  const DWORD woken = WaitAnsweringSentMessages(count, waits, boundMs);
  if (woken == WAIT_OBJECT_0) {
    if (GetOverlappedResult(device, &io.overlapped, &returned, FALSE))
      return {DeviceAnswer::kAnswered, 0};
    return {DeviceAnswer::kFailed, GetLastError()};
  }
  // A device that honours cancellation gives the request back at once, and
  // its memory is ours again; one that does not keeps it.
  CancelIoEx(device, &io.overlapped);
  if (WaitForSingleObject(io.done.get(), kCancelGraceMs) != WAIT_OBJECT_0) {
    m_leftToDevice = true;
    io.done.release();  // the device may still signal it
    MLOG(kLogWarning, kTag, "Device request 0x%x got no answer; it is given up",
         static_cast<unsigned>(DeviceRequestCodeOf(io.block)));
  }
  return {DeviceAnswer::kGivenUp, WAIT_TIMEOUT};
}

bool SendTwoWordReport(HANDLE device, uint32_t code, uint32_t first, uint32_t second,
                       HANDLE abandon) {
  if (device == INVALID_HANDLE_VALUE)
    return false;
  try {
    DeviceCall call(EncodeTwoWordReport(code, first, second));
    return call.Send(device, abandon).answered() &&
           DeviceRequestStatus(call.block()) == kDeviceStatusSuccess;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace mantlet
