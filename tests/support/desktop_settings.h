// The user settings that Weave mode changes, read as the session sees them
// and set as the user would set them. Wine keeps system parameters per
// process once read, so the parameters are read through a fresh process
// (desktop_probe.exe); registry values are read directly.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace testsupport {

inline constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Corvane\\Corvane Tools\\GuestUtilities";
inline constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
inline constexpr wchar_t kWindowMetricsKey[] = L"Control Panel\\Desktop\\WindowMetrics";
inline constexpr wchar_t kExplorerAdvancedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
inline constexpr wchar_t kDesktopObjectScriptKey[] = L"Software\\MantletTest\\ActiveDesktop";

struct DesktopSettings {
  std::wstring wallpaper;
  DWORD desktopColor = 0;
  UINT screenSaverTimeout = 0;
  int borderWidth = 0;  // the non-client metrics as the system reports them
  int paddedBorderWidth = 0;
  std::wstring borderWidthText;  // what the window metrics keep in the registry
  std::wstring paddedBorderWidthText;
  std::optional<DWORD> autoColorization;
  std::optional<DWORD> taskbarAnimations;

  bool operator==(const DesktopSettings&) const = default;
};

// Empty wallpaper and zero colour when the probe cannot run.
DesktopSettings ReadDesktopSettings();
// Puts every field in force (absent optionals delete their values).
void WriteDesktopSettings(const DesktopSettings& settings);
std::string Describe(const DesktopSettings& settings);

// Names of the values under the settings key, sorted, comma-separated.
std::wstring SavedValueNames();
std::string Narrow(const std::wstring& wide);  // ASCII view for messages

}  // namespace testsupport
