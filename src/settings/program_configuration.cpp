#include "settings/program_configuration.h"

#include <windows.h>

#include "core/log.h"
#include "core/registry.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "PROGCONF";
constexpr wchar_t kRecordValue[] = L"MSODisableHardwareAcceleration";
constexpr wchar_t kSuiteCommonKey[] = L"Software\\Microsoft\\Office\\15.0\\Common";

constexpr uint32_t kSwitchSet = 1;
constexpr uint32_t kSwitchNotSet = 2;

}  // namespace

uint32_t DisableOfficeHardwareAcceleration(uint32_t previous) {
  UniqueRegKey common;
  const LSTATUS result = OpenKey(HKEY_CURRENT_USER, kSuiteCommonKey, KEY_READ | KEY_WRITE, &common);
  if (result != ERROR_SUCCESS) {
    // A missing suite is the usual case, not worth a line.
    if (result != ERROR_FILE_NOT_FOUND)
      MLOG_FAILURE(kLogWarning, kTag, result, "Can't open Office 15.0 Common key");
    return kSwitchNotSet;
  }
  UniqueRegKey graphics;
  if (CreateKey(common.get(), L"Graphics", KEY_READ | KEY_WRITE, &graphics) != ERROR_SUCCESS)
    return kSwitchNotSet;
  if (previous != kSwitchSet &&
      WriteDwordValue(graphics.get(), L"DisableHardwareAcceleration", 1) == ERROR_SUCCESS) {
    return kSwitchSet;
  }
  return previous;
}

void ApplyProgramConfiguration() {
  UniqueRegKey settings;
  const LSTATUS result =
      CreateKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ | KEY_WRITE, &settings);
  if (result != ERROR_SUCCESS) {
    MLOG_FAILURE(kLogError, kTag, result, "Can't create %ls key", kSettingsKeyPath);
    return;
  }
  // A record shorter than four bytes reads zero-extended; a longer one
  // cannot be read and counts as "not set".
  DWORD previous = 0;
  if (!ReadRawValue(settings.get(), kRecordValue, &previous, sizeof(previous)).found())
    previous = kSwitchNotSet;
  WriteDwordValue(settings.get(), kRecordValue, DisableOfficeHardwareAcceleration(previous));
}

}  // namespace mantlet
