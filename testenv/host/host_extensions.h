// Hooks for the host stand-in's optional parts (the emulated hypervisor call
// and whatever later test environments add): initialised before the module
// is loaded, and offered every command line the core loop does not know.
#pragma once

#include <string>

using HostReplyFn = void (*)(const char* format, ...);

void HostExtensionsInit(int argc, wchar_t** argv);
bool HostExtensionCommand(const std::string& verb, const char* rest, HostReplyFn reply);
