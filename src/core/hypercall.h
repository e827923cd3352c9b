// The hypervisor's user-mode call: six 32-bit words loaded into EAX, EBX,
// ECX, EDX, ESI and EDI, the rdpmc instruction, the six registers stored
// back into the words. Outside the hypervisor the instruction faults, and
// only the probe's call is guarded against that.
#pragma once

#include <cstdint>

namespace mantlet {

// Unguarded: call it only after a probe found the hypervisor.
void Hypercall(uint32_t words[6]);

// The same call through an instruction of its own, which the guard knows by
// its address: without a hypervisor it comes back with every word 0, and so
// it does, without the instruction, while the guard is not installed.
void HypercallProbe(uint32_t words[6]);

// The guard is a vectored exception handler added behind every handler the
// host process installed first; it handles nothing but a fault of the
// probe's instruction. Installed at load, removed at unload.
bool InstallHostCallGuard();
void RemoveHostCallGuard();

}  // namespace mantlet
