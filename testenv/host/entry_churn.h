// A second caller of the module's entry points: a thread of the host that
// calls NotifyTool with each of a list of codes in turn, each followed by
// VConfigChanged(0), until told to stop, so that tests can put those calls
// beside the command worker's traffic. The host's other command lines must
// not call entry points while it runs (a host makes one call at a time).
//
// Host commands: "churn <code> [code...]" starts it ("churn=started"),
// "churn stop" joins it and reports "churn calls=<entry calls made>".
#pragma once

#include <string>

#include "host_extensions.h"

bool ChurnCommand(const std::string& rest, HostReplyFn reply);
