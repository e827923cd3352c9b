#include "host_extensions.h"

void HostExtensionsInit(int, wchar_t**) {}

bool HostExtensionCommand(const std::string&, const char*, HostReplyFn) {
  return false;
}
