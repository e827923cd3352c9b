// The tools' installation key, read by the education launcher and by the
// browser information, and the order in which both try the registry views.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "core/handles.h"
#include "core/registry.h"

namespace mantlet {

inline constexpr wchar_t kInstallKeyPath[] = L"SOFTWARE\\Corvane\\Corvane Tools";

// The module's own registry view first, then the other one: a 64-bit build
// reads the 64-bit view and then the 32-bit view, a 32-bit build the 32-bit
// view and then the 64-bit view. So either build reads both views, and when
// the tools are installed in both, the installation this module belongs to
// wins. Both are named rather than one left to the process's default view,
// so that the list says which two views are read in either build.
inline constexpr REGSAM kInstallKeyViews[2] = {
#if defined(_WIN64)
    KEY_WOW64_64KEY, KEY_WOW64_32KEY
#else
    KEY_WOW64_32KEY, KEY_WOW64_64KEY
#endif
};

// Opens the installation key for queries in each view in turn and hands it
// to `read`; the first value `read` gives is the result, an empty one when no
// view gives any.
template <typename Read>
auto ReadFromInstallKey(Read&& read) -> decltype(read(HKEY{})) {
  for (const REGSAM view : kInstallKeyViews) {
    UniqueRegKey key;
    if (OpenKey(HKEY_LOCAL_MACHINE, kInstallKeyPath, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
      continue;
    if (auto value = read(key.get()))
      return value;
  }
  return {};
}

// No bound but what a registry read can report.
inline constexpr DWORD kAnyInstallLocationLength = MAXDWORD - sizeof(wchar_t);

// "InstallLocation" up to its first zero unit (or its end), from the first
// view that holds one of at most maxBytes bytes; nullopt when none does.
std::optional<std::wstring> ReadInstallLocation(DWORD maxBytes);

}  // namespace mantlet
