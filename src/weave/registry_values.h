// REG_DWORD values of 4 bytes, read and written the same way by the border
// backup and the desktop's saved values. A failed read leaves the out-value
// untouched.
#pragma once

#include <windows.h>

namespace mantlet {

inline LSTATUS ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD data = 0;
  DWORD size = sizeof(data);
  const LSTATUS status =
      RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
  if (status == ERROR_SUCCESS)
    *value = data;
  return status;
}

inline LSTATUS WriteDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value));
}

}  // namespace mantlet
