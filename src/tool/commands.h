// The command worker thread: reads the host's command records from the
// mailslot, keeps the host event wait pending on the tools device, refreshes
// the share shortcuts after host events, and pumps its own messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

namespace mantlet {

// The worker's loop, until `terminateEvent` or a WM_QUIT. COM is its own: it
// runs the components' commands.
void RunCommandWorker(HANDLE terminateEvent);

// Runs one command record (already read whole); malformed ones are dropped
// without a word. Exposed for the component tests.
void RunCommandRecord(std::span<const uint8_t> message);

}  // namespace mantlet
