// The tools' installation key as an installer leaves it: "InstallLocation" in
// either registry view, set for one test and put back after it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace testenv {

inline constexpr wchar_t kInstallKey[] = L"SOFTWARE\\Corvane\\Corvane Tools";
inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

// "InstallLocation" in one registry view set (or removed) for a scope; the
// value found there before comes back at the end.
class ScopedInstallLocation {
 public:
  ScopedInstallLocation(REGSAM view, const std::optional<std::wstring>& value) : view_(view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE | view_, &key) ==
        ERROR_SUCCESS) {
      wchar_t old[1024] = {};
      DWORD size = sizeof(old) - sizeof(wchar_t);
      if (RegQueryValueExW(key, L"InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                           &size) == ERROR_SUCCESS) {
        previous_ = std::wstring(old);
      }
      RegCloseKey(key);
    }
    Apply(value);
  }
  ~ScopedInstallLocation() { Apply(previous_); }
  ScopedInstallLocation(const ScopedInstallLocation&) = delete;
  ScopedInstallLocation& operator=(const ScopedInstallLocation&) = delete;

 private:
  void Apply(const std::optional<std::wstring>& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_QUERY_VALUE | view_, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return;
    }
    if (value) {
      RegSetValueExW(key, L"InstallLocation", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value->c_str()),
                     static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteValueW(key, L"InstallLocation");
    }
    RegCloseKey(key);
  }

  REGSAM view_;
  std::optional<std::wstring> previous_;
};

}  // namespace testenv
