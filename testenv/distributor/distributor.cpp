// Stand-in for the tools' search library "Distributor.dll": CheckSearches
// answers what the test put in the registry, SetSearches only counts, and
// every load and unload of the library is counted too, so a test can tell
// that the module never keeps it loaded (distributor_control.h).
#include <windows.h>

#include "distributor_control.h"

namespace {

using namespace testenv::distributor;

void Count(const wchar_t* name) {
  DWORD count = 0, size = sizeof(count);
  RegGetValueW(HKEY_CURRENT_USER, kControlKey, name, RRF_RT_REG_DWORD, nullptr, &count, &size);
  ++count;
  RegSetKeyValueW(HKEY_CURRENT_USER, kControlKey, name, REG_DWORD, &count, sizeof(count));
}

}  // namespace

extern "C" int32_t WINAPI CheckSearches() {
  Count(kCheckCount);
  DWORD result = 0, size = sizeof(result);
  RegGetValueW(HKEY_CURRENT_USER, kControlKey, kCheckResult, RRF_RT_REG_DWORD, nullptr, &result,
               &size);
  return static_cast<int32_t>(result);
}

extern "C" int32_t WINAPI SetSearches() {
  Count(kSetCount);
  return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH)
    Count(kLoadCount);
  else if (reason == DLL_PROCESS_DETACH)
    Count(kUnloadCount);
  return TRUE;
}
