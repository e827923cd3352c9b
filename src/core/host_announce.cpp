#include "core/host_announce.h"

#include "core/hostcall_port.h"
#include "core/log.h"
#include "resources/version.h"

namespace mantlet {
namespace {

constexpr char kToolIdentifier[] = "corvane.MantletUser.guest.win";
constexpr char kToolDescription[] = "Guest desktop utilities (user-side tool)";

// Replaced once at load, before any line can reach the forwarder; until
// then the forwarder's successor is the file writer it will replace.
LogHook g_nextHook = &LogFileWriter;

ToolIdentity Identity() {
  ToolIdentity tool;
  tool.identifier = kToolIdentifier;
  tool.description = kToolDescription;
  tool.version = {MANTLET_VERSION_MAJOR, MANTLET_VERSION_MINOR, MANTLET_VERSION_BUILD,
                  MANTLET_VERSION_REVISION};
  return tool;
}

// Runs inside LogWrite on any thread, so nothing on this path may log.
void ForwardLogLine(const char* line, size_t length) {
  SendHostLogLine(SystemHostCallPort(), nullptr, line, length);
  g_nextHook(line, length);
}

}  // namespace

int RegisterTool() {
  return AnnounceTool(SystemHostCallPort(), Identity(), true);
}

int UnregisterTool() {
  return AnnounceTool(SystemHostCallPort(), Identity(), false);
}

void InstallHostLogForwarder() {
  g_nextHook = SetLogHook(&ForwardLogLine);
}

}  // namespace mantlet
