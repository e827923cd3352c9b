// Guest notifications switched off and back on as the host's option says.
#pragma once

#include <cstdint>

namespace mantlet {

void OnNotificationsOption(uint32_t value);

}  // namespace mantlet
