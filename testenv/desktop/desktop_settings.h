// The user settings that Weave mode changes, read as the session sees them
// and set as the user would set them. Wine keeps system parameters per
// process once read, so the parameters are read through a fresh process
// (desktop_probe.exe); registry values are read directly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace testenv {

inline constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Corvane\\Corvane Tools\\GuestUtilities";
inline constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
inline constexpr wchar_t kWindowMetricsKey[] = L"Control Panel\\Desktop\\WindowMetrics";
inline constexpr wchar_t kExplorerAdvancedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";

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

// The user of these tests. Wine folds the padded border into iBorderWidth
// when it reports the non-client metrics and keeps iBorderWidth minus the
// padded border as "BorderWidth", ignoring iPaddedBorderWidth; "-3" is what
// it keeps for a 1-pixel border with a 4-pixel ("-60") padded border, so the
// module's restore of (1, 4) lands exactly on this user's registry text.
inline DesktopSettings TypicalUser() {
  DesktopSettings user;
  user.wallpaper = L"C:\\users\\Public\\Pictures\\meadow.bmp";
  user.desktopColor = 0x336699;
  user.screenSaverTimeout = 600;
  user.borderWidth = 4;
  user.paddedBorderWidth = 0;
  user.borderWidthText = L"-3";
  user.paddedBorderWidthText = L"-60";
  user.autoColorization = 1;
  user.taskbarAnimations = 1;
  return user;
}

// Empty wallpaper and zero colour when the probe cannot run.
DesktopSettings ReadDesktopSettings();
// Puts every field in force (absent optionals delete their values).
void WriteDesktopSettings(const DesktopSettings& settings);
std::string Describe(const DesktopSettings& settings);
// How test failures show it.
inline void PrintTo(const DesktopSettings& settings, std::ostream* out) {
  *out << Describe(settings);
}

// Names of the values Weave mode keeps under the settings key, in name order,
// comma-separated.
std::wstring SavedValueNames();
std::string Narrow(const std::wstring& wide);  // ASCII view for messages

}  // namespace testenv
