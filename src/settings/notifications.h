// Guest notifications switched off and back on as the host's option says.
#pragma once

#include <cstdint>

namespace mantlet {

// 1 suppresses (remembering the user's choice once), 2 restores it and
// forgets it, anything else does nothing. The host's thread, from
// VConfigChanged. False when the switch could not be made (the user's choice
// stays kept): the caller tries again at its next chance.
bool OnNotificationsOption(uint32_t value);

}  // namespace mantlet
