// The command worker thread: reads the host's command records from the
// mailslot, keeps the host event wait pending on the tools device, refreshes
// the share shortcuts after host events, and pumps its own messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

namespace mantlet {

DWORD WINAPI CommandWorkerMain(void* unused);

// Runs one command record (already read whole); malformed ones are dropped
// without a word. Exposed for the component tests.
void RunCommandRecord(std::span<const uint8_t> message);

}  // namespace mantlet
