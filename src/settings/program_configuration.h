// One-time configuration of other programs at the tool's start.
#pragma once

#include <cstdint>

namespace mantlet {

// The thread of StartTool, before COM and the command channel exist.
void ApplyProgramConfiguration();

// Switches the office suite's hardware graphics acceleration off unless the
// recorded state says it was done; returns the state to record: 1 done,
// 2 not done (no suite, or the write failed), else the previous state.
uint32_t DisableOfficeHardwareAcceleration(uint32_t previous);

}  // namespace mantlet
