// The module this code is linked into: Mantlet.dll in the host, the test
// program when a test links the components directly.
#pragma once

#include <windows.h>

namespace mantlet {

inline HMODULE ThisModule() {
  static const char anchor = 0;
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&anchor), &module);
  return module;
}

}  // namespace mantlet
