#include "host_extensions.h"

#include "call_tripwire.h"
#include "entry_churn.h"
#include "hypervisor_emulator.h"

void HostExtensionsInit(int, wchar_t**) {
  testenv::InstallHypervisorEmulator();
}

bool HostExtensionCommand(const std::string& verb, const char* rest, HostReplyFn reply) {
  if (verb == "tripwire")
    return TripwireCommand(rest, reply);
  if (verb == "churn")
    return ChurnCommand(rest, reply);
  return testenv::HypervisorCommand(verb, rest, reply);
}
