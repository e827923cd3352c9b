// The host call channel: messages of any length sent to the hypervisor in
// chunks through a locked transfer buffer, one six-word call per chunk.
// Windows-free: the calls and the buffer's memory come through HostCallPort,
// so the same state machine runs against the real hypervisor call and
// against a simulated host.
//
// Calls (words in, words out):
//   probe        {0x5F9E652, 0x5F9E652, 0, 0, 0, 0}
//                -> {0x0B36AF47, version 2, transfer size S, 0, 0, 0}
//   first chunk  {0x5F9E653, total length, 0, S, chunk length, buffer}
//   next chunk   {0x5F9E654, handle, 0, S, chunk length, buffer}
//                -> word 1 handle (first chunk), word 3 reply bytes now in the
//                   buffer, word 4 announced reply length, word 5 state
//   end          {0x5F9E655, handle, 0, 0, 0, 0} -> word 5 state
// States: 0 done, 1 and 2 the host expects an end call, below 0 refused.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/host_message.h"

namespace mantlet {

using HostCallWords = std::array<uint32_t, 6>;

enum HostCallOp : uint32_t {
  kHostCallProbe = 0x5F9E652,
  kHostCallFirstChunk = 0x5F9E653,
  kHostCallNextChunk = 0x5F9E654,
  kHostCallEndTransfer = 0x5F9E655,
};
inline constexpr uint32_t kHostCallPresent = 0x0B36AF47;
inline constexpr uint32_t kHostCallProtocolVersion = 2;

enum HostCallResult : int {
  kHostCallOk = 0,
  kHostCallBadArgument = -1,  // also a transfer size below 20 for a log line
  kHostCallNoMemory = -2,
  kHostCallLockFailed = -3,    // also: the message could not be built
  kHostCallUnlockFailed = -4,  // also: the announcement could not be sent
  kHostCallNoHypervisor = -5,
  kHostCallWrongVersion = -6,  // also: an unregistration the host refused
  kHostCallReplyTooLarge = -7,
  kHostCallRefused = -8,  // the host reported a negative transfer state, or never ended one
  kHostCallInvalidChannel = -9,
  kHostCallChannelClosed = -10,
};

// What the channel needs from the platform. Implementations keep no state
// of their own between calls, so channels on different threads share one.
class HostCallPort {
 public:
  // The probe's call, the only one that survives a machine without the
  // hypervisor: there it returns with words that fail the presence test.
  virtual void Probe(HostCallWords& words) = 0;
  virtual void Call(HostCallWords& words) = 0;
  // Committed read-write memory whose address fits the 32-bit buffer word;
  // null when there is none.
  virtual uint8_t* Allocate(uint32_t size) = 0;
  virtual bool Lock(uint8_t* buffer, uint32_t size) = 0;
  virtual bool Unlock(uint8_t* buffer, uint32_t size) = 0;
  virtual void Free(uint8_t* buffer, uint32_t size) = 0;
  virtual uint32_t AddressWord(const uint8_t* buffer) = 0;

 protected:
  ~HostCallPort() = default;
};

inline constexpr uint32_t kHostChannelMagic = 0x3F2E8A03;
inline constexpr int32_t kChannelOpen = 0;
inline constexpr int32_t kChannelBusy = -777;  // opening, or a transfer begun
inline constexpr int32_t kChannelClosed = -11;

// One channel per operation: open, one message, close. Never shared
// between threads.
struct HostChannel {
  uint8_t* buffer = nullptr;
  uint32_t allocatedSize = 0;
  uint32_t transferSize = 0;
  int32_t state = kChannelClosed;
  uint32_t magic = 0;
  HostCallPort* port = nullptr;
  uint32_t bufferWord = 0;
};

struct HostTransfer {
  int32_t handle = -1;
  uint32_t totalLength = 0;
  uint32_t replyLength = 0;  // as announced by the host
  int32_t state = kChannelBusy;
  HostChannel* channel = nullptr;
};

// 0 for a usable channel, -9 for a damaged one, -10 for a closed one.
int CheckHostChannel(const HostChannel* channel);

int OpenHostChannel(HostCallPort& port, HostChannel* channel);
int CloseHostChannel(HostChannel* channel);

// Sends the whole message and collects the host's reply (up to replyRoom
// bytes) into reply; *replyLength gets the received count. A host that keeps
// the transfer going for 1000 exchanges in a row without a byte either way
// is given up on (-8).
int SendHostMessage(HostChannel* channel, const uint8_t* data, uint32_t length, uint8_t* reply,
                    uint32_t replyRoom, uint32_t* replyLength);

// Sends one log line behind the 20-byte "[G] " header. With no channel it
// opens and closes one of its own.
int SendHostLogLine(HostCallPort& port, HostChannel* channel, const char* text, size_t length);

// Registration and unregistration on a channel of their own.
int AnnounceTool(HostCallPort& port, const ToolIdentity& tool, bool registration);

}  // namespace mantlet
