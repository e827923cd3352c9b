// A crash on cue: ends the host process, as a crash would (no stop, no
// clean-up), right before the N-th call that the loaded module makes to one
// of the functions through which it changes the user's settings (registry
// writes and deletions, system parameters and colours, window visibility,
// the desktop object, broadcasts). The module's import slots for those
// functions are pointed at counting forwarders; until the count is reached
// every call goes through unchanged, so the module behaves exactly as it
// would without the tripwire.
//
// Host commands: "tripwire arm <n>" (0 counts without tripping),
// "tripwire calls" (the count and one letter per call, in order: S/s
// RegSetValueExW/A, D/d RegDeleteValueW/A, C SetSysColors, P
// SystemParametersInfoW, W ShowWindow, O CoCreateInstance, M PostMessageW,
// N SendNotifyMessageW).
#pragma once

#include <string>

#include "host_extensions.h"

bool TripwireCommand(const std::string& rest, HostReplyFn reply);
