#include "settings/browser_search_info.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "core/device.h"
#include "core/device_request.h"
#include "core/log.h"
#include "settings/browser_flags.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "";
constexpr wchar_t kInstallKeyPath[] = L"SOFTWARE\\Corvane\\Corvane Tools";
constexpr wchar_t kLibraryPath[] = L"\\External\\Didirad\\Distributor.dll";
constexpr DWORD kInstallLocationFirstRead = 128;
constexpr DWORD kVersionPreviousBytes = 160;

enum Command : uint32_t { kApplySearches = 3, kReportBrowsers = 4 };

// The default view of this process, then the 64-bit one (a 32-bit build
// finds the tools' 64-bit installation there).
constexpr REGSAM kViews[] = {0, KEY_WOW64_64KEY};

HKEY OpenInstallKey(REGSAM view) {
  HKEY key = nullptr;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKeyPath, 0, KEY_QUERY_VALUE | view, &key) ==
                 ERROR_SUCCESS
             ? key
             : nullptr;
}

std::optional<std::wstring> ReadInstallLocation(HKEY key) {
  std::vector<uint8_t> data(kInstallLocationFirstRead);
  DWORD size = static_cast<DWORD>(data.size());
  LONG result = RegQueryValueExW(key, L"InstallLocation", nullptr, nullptr, data.data(), &size);
  // The value may grow between two reads; each round asks for what the
  // registry reported last, so a few rounds always settle.
  for (int round = 0; result == ERROR_MORE_DATA && round < 8; ++round) {
    data.resize(size + sizeof(wchar_t));
    size = static_cast<DWORD>(data.size());
    result = RegQueryValueExW(key, L"InstallLocation", nullptr, nullptr, data.data(), &size);
  }
  if (result != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring dir(size / sizeof(wchar_t), L'\0');
  memcpy(dir.data(), data.data(), dir.size() * sizeof(wchar_t));
  dir.resize(wcsnlen(dir.c_str(), dir.size()));
  return dir;
}

std::wstring GetToolsInstallDir() {
  for (REGSAM view : kViews) {
    UniqueRegKey key(OpenInstallKey(view));
    if (!key)
      continue;
    if (std::optional<std::wstring> dir = ReadInstallLocation(key.get()))
      return *dir;
  }
  return {};
}

// Loaded afresh for each call and freed right after: the library is part of
// the installation and may be replaced while the tool runs. nullopt when the
// directory, the library or the export is missing.
std::optional<int32_t> CallSearchLibrary(const char* exportName) {
  const std::wstring dir = GetToolsInstallDir();
  if (dir.empty())
    return std::nullopt;
  UniqueLibrary library(LoadLibraryW((dir + kLibraryPath).c_str()));
  if (!library)
    return std::nullopt;
  using SearchExportFn = int32_t(WINAPI*)();
  const SearchExportFn call = LookUpProc<SearchExportFn>(library.get(), exportName);
  if (call == nullptr)
    return std::nullopt;
  return call();
}

int32_t CallCheckSearches() {
  return CallSearchLibrary("CheckSearches").value_or(0);
}

void CallSetSearches() {
  CallSearchLibrary("SetSearches");
}

std::optional<InstallKind> ReadInstallKind(REGSAM view) {
  UniqueRegKey key(OpenInstallKey(view));
  if (!key)
    return std::nullopt;
  char version[kVersionPreviousBytes] = {};
  DWORD size = sizeof(version);
  if (RegQueryValueExA(key.get(), "VersionPrevious", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(version), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return InstallKindFromSize(size);
}

InstallKind GetInstallKind() {
  for (REGSAM view : kViews) {
    if (std::optional<InstallKind> kind = ReadInstallKind(view))
      return *kind;
  }
  return InstallKind::kUnreadable;
}

}  // namespace

BrowserSearchInfo::BrowserSearchInfo() {
  m_device = OpenToolsDevice();
  if (!m_device) {
    LogWrite(kTag, kModuleName, kLogError, "Can't open cvntg device. err=%d",
             static_cast<int>(GetLastError()));
  }
}

BrowserSearchInfo::~BrowserSearchInfo() = default;

bool BrowserSearchInfo::SendStartNotice() {
  return SendReport(0, 1);
}

void BrowserSearchInfo::HandleBrowsersCommand(uint32_t argument) {
  if (argument == kApplySearches)
    CallSetSearches();
  else if (argument == kReportBrowsers)
    SendBrowsersInformation();
}

void BrowserSearchInfo::SendBrowsersInformation() {
  if (!HasSearchResults(CallCheckSearches()))
    return;
  switch (GetInstallKind()) {
    case InstallKind::kFreshInstall:
      CallSetSearches();
      return;
    case InstallKind::kUnreadable:
      return;
    case InstallKind::kUpgrade:
      break;
  }
  // The library is asked again: its answer may have changed meanwhile.
  const uint32_t flags = ComputeBrowserFlags(CallCheckSearches());
  if (flags == 0)
    return;
  if (!SendReport(flags, 0))
    MLOG(kLogInfo, kTag, "Failed to send browsers information to a host");
}

bool BrowserSearchInfo::SendReport(uint32_t flags, uint32_t startNotice) {
  return SendTwoWordReport(m_device.get(), kBrowserInfoReport, flags, startNotice);
}

}  // namespace mantlet
