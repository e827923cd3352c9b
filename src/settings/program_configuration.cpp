#include "settings/program_configuration.h"

#include <windows.h>

#include "core/handles.h"
#include "core/log.h"
#include "settings/settings_key.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "PROGCONF";
constexpr wchar_t kRecordValue[] = L"MSODisableHardwareAcceleration";
constexpr wchar_t kSuiteCommonKey[] = L"Software\\Microsoft\\Office\\15.0\\Common";

constexpr uint32_t kSwitchSet = 1;
constexpr uint32_t kSwitchNotSet = 2;

bool WriteDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

}  // namespace

uint32_t DisableOfficeHardwareAcceleration(uint32_t previous) {
  UniqueRegKey common;
  const LONG result =
      RegOpenKeyExW(HKEY_CURRENT_USER, kSuiteCommonKey, 0, KEY_READ | KEY_WRITE, common.put());
  if (result != ERROR_SUCCESS) {
    // A missing suite is the usual case, not worth a line.
    if (result != ERROR_FILE_NOT_FOUND)
      MLOG(kLogWarning, kTag, "Can't open Office 15.0 Common key, err = %d", result);
    return kSwitchNotSet;
  }
  UniqueRegKey graphics;
  if (RegCreateKeyExW(common.get(), L"Graphics", 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, graphics.put(), nullptr) != ERROR_SUCCESS) {
    return kSwitchNotSet;
  }
  uint32_t state = previous;
  if (previous != kSwitchSet && WriteDword(graphics.get(), L"DisableHardwareAcceleration", 1))
    state = kSwitchSet;
  return state;
}

void ApplyProgramConfiguration() {
  UniqueRegKey settings;
  const LONG result =
      RegCreateKeyExA(HKEY_CURRENT_USER, kGuestUtilsKeyPathA, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, settings.put(), nullptr);
  if (result != ERROR_SUCCESS) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create %s key, err = %d", kGuestUtilsKeyPathA,
             result);
    return;
  }
  // A record shorter than four bytes reads zero-extended; a longer one
  // cannot be read and counts as "not set".
  DWORD previous = 0, size = sizeof(previous);
  if (RegQueryValueExW(settings.get(), kRecordValue, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&previous), &size) != ERROR_SUCCESS) {
    previous = kSwitchNotSet;
  }
  WriteDword(settings.get(), kRecordValue, DisableOfficeHardwareAcceleration(previous));
}

}  // namespace mantlet
