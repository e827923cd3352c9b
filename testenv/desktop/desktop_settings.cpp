#include "desktop_settings.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "test_paths.h"

namespace testenv {
namespace {

std::string RunProbe() {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0))
    return {};
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  const std::wstring exe = BinPath(L"desktop_probe.exe");
  std::wstring command = L"\"" + exe + L"\"";
  const BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &info);
  CloseHandle(write);
  std::string output;
  if (started) {
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(read, chunk, sizeof(chunk), &got, nullptr) && got > 0)
      output.append(chunk, got);
    WaitForSingleObject(info.hProcess, 30000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  CloseHandle(read);
  return output;
}

std::wstring Widen(const std::string& utf8) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
  if (units > 1)
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), units);
  return wide;
}

bool GetDword(const wchar_t* path, const wchar_t* name, DWORD* value) {
  DWORD size = sizeof(*value);
  return RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_REG_DWORD, nullptr, value, &size) ==
         ERROR_SUCCESS;
}

bool GetText(const wchar_t* path, const wchar_t* name, std::wstring* value) {
  wchar_t text[1024] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  *value = text;
  return true;
}

void SetText(const wchar_t* path, const wchar_t* name, const std::wstring& value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, path, name, REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::optional<DWORD> OptionalDword(const wchar_t* path, const wchar_t* name) {
  DWORD value = 0;
  if (GetDword(path, name, &value))
    return value;
  return std::nullopt;
}

void PutOptionalDword(const wchar_t* path, const wchar_t* name, std::optional<DWORD> value) {
  if (value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, path, name, REG_DWORD, &*value, sizeof(DWORD));
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, path, name);
  }
}

}  // namespace

std::string Narrow(const std::wstring& wide) {
  std::string narrow;
  for (wchar_t c : wide)
    narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

DesktopSettings ReadDesktopSettings() {
  std::map<std::string, std::string> fields;
  std::istringstream lines(RunProbe());
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
      fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  DesktopSettings s;
  s.wallpaper = Widen(fields["wallpaper"]);
  s.desktopColor = strtoul(fields["desktopcolor"].c_str(), nullptr, 16);
  s.screenSaverTimeout = strtoul(fields["screensavetimeout"].c_str(), nullptr, 10);
  s.borderWidth = atoi(fields["borderwidth"].c_str());
  s.paddedBorderWidth = atoi(fields["paddedborderwidth"].c_str());
  GetText(kWindowMetricsKey, L"BorderWidth", &s.borderWidthText);
  GetText(kWindowMetricsKey, L"PaddedBorderWidth", &s.paddedBorderWidthText);
  s.autoColorization = OptionalDword(kDesktopKey, L"AutoColorization");
  s.taskbarAnimations = OptionalDword(kExplorerAdvancedKey, L"TaskbarAnimations");
  return s;
}

void WriteDesktopSettings(const DesktopSettings& s) {
  std::wstring wallpaper = s.wallpaper;
  SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, wallpaper.data(), SPIF_UPDATEINIFILE);
  const INT element = COLOR_DESKTOP;
  const COLORREF color = s.desktopColor;
  SetSysColors(1, &element, &color);
  SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, s.screenSaverTimeout, nullptr,
                        SPIF_UPDATEINIFILE);
  SetText(kWindowMetricsKey, L"BorderWidth", s.borderWidthText);
  SetText(kWindowMetricsKey, L"PaddedBorderWidth", s.paddedBorderWidthText);
  PutOptionalDword(kDesktopKey, L"AutoColorization", s.autoColorization);
  PutOptionalDword(kExplorerAdvancedKey, L"TaskbarAnimations", s.taskbarAnimations);
}

std::string Describe(const DesktopSettings& s) {
  char text[512];
  auto optional = [](std::optional<DWORD> v) { return v ? std::to_string(*v) : "absent"; };
  snprintf(text, sizeof(text),
           "wallpaper '%s', colour 0x%06lX, screen saver %u s, border %d/%d (registry '%s'/'%s'), "
           "autocolorization %s, taskbar animations %s",
           Narrow(s.wallpaper).c_str(), static_cast<unsigned long>(s.desktopColor),
           s.screenSaverTimeout, s.borderWidth, s.paddedBorderWidth,
           Narrow(s.borderWidthText).c_str(), Narrow(s.paddedBorderWidthText).c_str(),
           optional(s.autoColorization).c_str(), optional(s.taskbarAnimations).c_str());
  return text;
}

std::wstring SavedValueNames() {
  // Other components keep values of their own under the same key.
  static const wchar_t* const kWeaveValues[] = {
      L"AutoColorization", L"BorderWidth",         L"BorderWidthSummary", L"DesktopColor",
      L"DesktopWallpaper", L"ScreenSaverInterval", L"TaskbarAnimations"};
  std::wstring names;
  for (const wchar_t* name : kWeaveValues) {
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY, nullptr, nullptr,
                     nullptr) == ERROR_SUCCESS) {
      names += (names.empty() ? L"" : L",") + std::wstring(name);
    }
  }
  return names;
}

}  // namespace testenv
