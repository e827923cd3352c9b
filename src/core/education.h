// The education application: started on the host's command, ended when the
// integration mode is left and when the tool stops.
#pragma once

#include <windows.h>

namespace mantlet {

void LaunchEducationApp();  // command worker thread
void EndEducationApp();     // command worker thread, or the stop routine after the worker ended

// "InstallLocation" of the installation key, read in the 32-bit or the 64-bit
// registry view into byteSize bytes; the registry's error code, 0 on success.
LONG ReadInstallLocation(wchar_t* buffer, DWORD byteSize, bool view32);

}  // namespace mantlet
