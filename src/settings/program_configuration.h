// One-time configuration of other programs at the tool's start.
#pragma once

namespace mantlet {

void ApplyProgramConfiguration();

}  // namespace mantlet
