// Shortcuts to the host's marked shares in the user's Links folder.
#pragma once

namespace mantlet {

// Runs on the command worker thread, which has COM initialised.
void RefreshShareShortcuts();

}  // namespace mantlet
