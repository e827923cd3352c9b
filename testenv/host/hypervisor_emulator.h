// The host stand-in's hypervisor: a vectored exception handler, installed
// before the module is loaded and so first in the chain, that traps the
// module's rdpmc (bytes 0F 33), answers the probe and the chunk, next-chunk
// and end calls on the six registers, resumes after the instruction and
// reassembles the messages. Switched off, it lets the fault pass on, as on a
// machine without the hypervisor.
#pragma once

#include "host_extensions.h"

namespace testenv {

void InstallHypervisorEmulator();

// "hv <subcommand>" lines of the host stand-in (see README): on | off |
// size <S> | version <n> | answer <state> | record <path> | record none |
// stats | reset. False when the verb is not "hv".
bool HypervisorCommand(const std::string& verb, const char* rest, HostReplyFn reply);

}  // namespace testenv
