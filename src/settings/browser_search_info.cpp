#include "settings/browser_search_info.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "core/device.h"
#include "core/device_request.h"
#include "core/install_key.h"
#include "core/log.h"
#include "core/registry.h"
#include "settings/browser_flags.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "";
constexpr wchar_t kLibraryPath[] = L"\\External\\Didirad\\Distributor.dll";
constexpr DWORD kVersionPreviousBytes = 160;

enum Command : uint32_t { kApplySearches = 3, kReportBrowsers = 4 };

std::wstring GetToolsInstallDir() {
  return ReadInstallLocation(kAnyInstallLocationLength).value_or(std::wstring());
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

// Only the size tells: the text itself is never looked at. A string counts
// one byte a character, as the installer's narrow view of it does.
std::optional<InstallKind> ReadInstallKind(HKEY key) {
  const ValueRead read = ReadRawValue(key, L"VersionPrevious", nullptr, 0);
  if (!read.found())
    return std::nullopt;
  const bool text = read.type == REG_SZ || read.type == REG_EXPAND_SZ || read.type == REG_MULTI_SZ;
  const DWORD bytes = text ? read.bytes / sizeof(wchar_t) : read.bytes;
  if (bytes > kVersionPreviousBytes)
    return std::nullopt;
  return InstallKindFromSize(bytes);
}

// From the same installation as the library, the module's own view first.
InstallKind GetInstallKind() {
  return ReadFromInstallKey(&ReadInstallKind).value_or(InstallKind::kUnreadable);
}

}  // namespace

BrowserSearchInfo::BrowserSearchInfo() {
  m_device = OpenToolsDevice();
  if (!m_device)
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't open cvntg device");
}

BrowserSearchInfo::~BrowserSearchInfo() = default;

bool BrowserSearchInfo::Start() {
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
