// The module's entry points. The host calls them one at a time; nothing may
// throw across them.
#include <windows.h>

#include <cstdint>

#include "tool/lifecycle.h"
#include "core/threads.h"

namespace {

template <typename Fn>
int Guarded(const char* entry, int onFailure, Fn&& fn) {
  int result = onFailure;
  mantlet::RunGuarded(entry, [&] { result = fn(); });
  return result;
}

}  // namespace

extern "C" {

int WINAPI StartTool(void) {
  return Guarded("StartTool", -1, [] { return mantlet::StartTool(); });
}

int WINAPI StopTool(void) {
  return Guarded("StopTool", 0, [] { return mantlet::StopTool(); });
}

int WINAPI NotifyTool(uint32_t code, uint32_t arg) {
  return Guarded("NotifyTool", 0, [&] { return mantlet::NotifyTool(code, arg); });
}

int WINAPI VConfigChanged(uint32_t arg) {
  return Guarded("VConfigChanged", 1, [&] { return mantlet::VConfigChanged(arg); });
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    return mantlet::OnProcessAttach(instance) ? TRUE : FALSE;
  if (reason == DLL_PROCESS_DETACH)
    mantlet::OnProcessDetach();
  return TRUE;
}

}  // extern "C"
