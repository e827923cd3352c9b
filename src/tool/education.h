// The education application: started on the host's command, ended when the
// integration mode is left and when the tool stops.
#pragma once

#include <windows.h>

namespace mantlet {

void LaunchEducationApp();  // command worker thread
void EndEducationApp();     // command worker thread, or the stop routine after the worker ended

}  // namespace mantlet
