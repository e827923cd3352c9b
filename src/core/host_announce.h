// The tool's announcement to the host over the hypervisor call channel.
#pragma once

namespace mantlet {

int RegisterTool();
int UnregisterTool();

// Installed as the log output hook at load: sends each line to the host and
// passes it on to the hook it replaced.
void InstallHostLogForwarder();

}  // namespace mantlet
