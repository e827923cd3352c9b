#include "host_extensions.h"

#include "call_tripwire.h"

void HostExtensionsInit(int, wchar_t**) {}

bool HostExtensionCommand(const std::string& verb, const char* rest, HostReplyFn reply) {
  if (verb == "tripwire")
    return TripwireCommand(rest, reply);
  return false;
}
