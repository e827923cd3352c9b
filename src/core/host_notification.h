// The codes the host passes to NotifyTool. Each component acts on the ones it
// cares about and ignores the rest.
#pragma once

#include <cstdint>

namespace mantlet {

enum class HostNotification : uint32_t {
  kSessionBecameActive = 5,
  kSessionBecameInactive = 6,
  kEndSession = 7,
  kAnnounceAgain = 9,
  kDriveRemoved = 10,
  kSessionDisconnected = 11,
  // Also the host's request to apply the work areas again.
  kSessionReconnected = 12,
};

}  // namespace mantlet
