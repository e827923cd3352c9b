// The host call channel's platform side: the hypervisor call and a transfer
// buffer whose address fits the call's 32-bit word.
#pragma once

#include "core/host_transfer.h"

namespace mantlet {

// Stateless; any thread may use it.
HostCallPort& SystemHostCallPort();

}  // namespace mantlet
