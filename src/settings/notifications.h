// Guest notifications switched off and back on as the host's option says.
#pragma once

#include <cstdint>

namespace mantlet {

// 1 suppresses (remembering the user's choice once), 2 restores it and
// forgets it, anything else does nothing. The host's thread, from
// VConfigChanged.
void OnNotificationsOption(uint32_t value);

}  // namespace mantlet
