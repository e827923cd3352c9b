#include "settings/notifications.h"

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include "core/com.h"
#include "core/log.h"
#include "core/registry.h"

namespace mantlet {
namespace {

using Microsoft::WRL::ComPtr;

constexpr char kTag[] = "W8NOTIF";
constexpr wchar_t kStateValue[] = L"NotificationsState";

// The notification settings platform, a local server outside the module,
// reached only through its class, the interface asked for at creation and
// the slots of the two method tables.
constexpr CLSID kPlatformClass = {
    0x0C9281F9, 0x6DA1, 0x4006, {0x87, 0x29, 0xDE, 0x6E, 0x6B, 0x61, 0x58, 0x1C}};
constexpr IID kPlatformInterface = {
    0x9FA045CB, 0xB9B3, 0x47BA, {0x84, 0x2F, 0xE2, 0xAB, 0x45, 0x8F, 0x2B, 0x0C}};
constexpr size_t kCreateEndpointSlot = 6;  // platform: (out endpoint)
constexpr size_t kGetSettingSlot = 4;      // endpoint: (id, out value, out second value)
constexpr size_t kSetSettingSlot = 6;      // endpoint: (id, value)
constexpr uint32_t kNotificationsSetting = 4;

using CreateEndpointFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, IUnknown**);
using GetSettingFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, uint32_t, int32_t*, int32_t*);
using SetSettingFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, uint32_t, int32_t);

template <typename Fn>
Fn Method(IUnknown* object, size_t slot) {
  return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[slot]);
}

void LogFailedCall(HRESULT hr, const char* what) {
  LogWrite(kTag, kModuleName, kLogError, "%#lx: %s", static_cast<unsigned long>(hr), what);
}

ComPtr<IUnknown> CreateSettingsEndpoint() {
  ComPtr<IUnknown> platform;
  HRESULT hr = CoCreateInstance(kPlatformClass, nullptr, CLSCTX_LOCAL_SERVER, kPlatformInterface,
                                reinterpret_cast<void**>(platform.GetAddressOf()));
  if (FAILED(hr) || !platform) {
    LogFailedCall(hr, "failed to create platform");
    return nullptr;
  }
  ComPtr<IUnknown> endpoint;
  hr = Method<CreateEndpointFn>(platform.Get(), kCreateEndpointSlot)(platform.Get(),
                                                                     endpoint.GetAddressOf());
  if (FAILED(hr) || !endpoint) {
    LogFailedCall(hr, "failed to create settings endpoint");
    return nullptr;
  }
  return endpoint;
}

bool GetNotificationsEnabled(bool* enabled) {
  // The platform needs an apartment on the calling thread, whichever
  // thread of the host that is.
  ComScope com;
  const ComPtr<IUnknown> endpoint = CreateSettingsEndpoint();
  if (!endpoint)
    return false;
  int32_t value = 0, unused = 0;
  const HRESULT hr = Method<GetSettingFn>(endpoint.Get(), kGetSettingSlot)(
      endpoint.Get(), kNotificationsSetting, &value, &unused);
  if (FAILED(hr)) {
    LogFailedCall(hr, "failed to get notifications status");
    return false;
  }
  *enabled = value > 0;
  return true;
}

bool SetNotificationsEnabled(bool enabled) {
  ComScope com;
  const ComPtr<IUnknown> endpoint = CreateSettingsEndpoint();
  if (!endpoint)
    return false;
  const HRESULT hr = Method<SetSettingFn>(endpoint.Get(), kSetSettingSlot)(
      endpoint.Get(), kNotificationsSetting, enabled ? 1 : 0);
  if (FAILED(hr)) {
    LogFailedCall(hr, "failed to change setting");
    return false;
  }
  return true;
}

bool SaveNotificationsState(bool enabled) {
  UniqueRegKey key;
  LSTATUS result = CreateKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ | KEY_WRITE, &key);
  if (result != ERROR_SUCCESS) {
    MLOG(kLogError, kTag, "Can't create TOOL_GUEST_UTILS_REGISTRY_PATH key, error = %ld", result);
    return false;
  }
  result = WriteDwordValue(key.get(), kStateValue, enabled ? 1 : 0);
  if (result != ERROR_SUCCESS) {
    MLOG_FAILURE(kLogError, kTag, result, "RegSetValueEx failed");
    return false;
  }
  return true;
}

enum class SavedStateResult { kFound = 0, kMissing = 1, kFailed = 2 };

// A saved state of another type or size is removed and reads as missing; it
// would otherwise stand in the way of every later suppress and restore.
SavedStateResult LoadNotificationsState(bool* enabled) {
  UniqueRegKey key;
  const LSTATUS result =
      OpenKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ | KEY_SET_VALUE, &key);
  if (result == ERROR_FILE_NOT_FOUND)
    return SavedStateResult::kMissing;
  if (result != ERROR_SUCCESS) {
    MLOG(kLogError, kTag, "Can't create TOOL_GUEST_UTILS_REGISTRY_PATH key, error = %ld", result);
    return SavedStateResult::kFailed;
  }
  DWORD value = 0;
  const ValueRead read = ReadSavedDword(key.get(), kStateValue, kTag, &value);
  if (read.state == ValueState::kFailed) {
    MLOG_FAILURE(kLogError, kTag, read.status, "RegQueryValueExW failed");
    return SavedStateResult::kFailed;
  }
  if (!read.found())
    return SavedStateResult::kMissing;
  if (enabled != nullptr)
    *enabled = value > 0;
  return SavedStateResult::kFound;
}

void DeleteNotificationsState() {
  UniqueRegKey key;
  const LSTATUS result = OpenKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ | KEY_WRITE, &key);
  if (result != ERROR_SUCCESS) {
    MLOG(kLogError, kTag, "Can't create TOOL_GUEST_UTILS_REGISTRY_PATH key, error = %ld", result);
    return;
  }
  DeleteValue(key.get(), kStateValue);
}

bool SuppressNotifications() {
  const SavedStateResult saved = LoadNotificationsState(nullptr);
  if (saved == SavedStateResult::kFailed)
    return false;
  bool savedNow = false;
  if (saved == SavedStateResult::kMissing) {
    bool enabled = false;
    if (!GetNotificationsEnabled(&enabled) || !SaveNotificationsState(enabled))
      return false;
    savedNow = true;
  }
  // A choice saved by an earlier suppress whose restore never came stays:
  // it is still the user's own.
  if (SetNotificationsEnabled(false))
    return true;
  if (savedNow)
    DeleteNotificationsState();
  return false;
}

bool RestoreNotifications() {
  bool saved = false;
  const SavedStateResult found = LoadNotificationsState(&saved);
  if (found != SavedStateResult::kFound)
    return found == SavedStateResult::kMissing;
  if (!SetNotificationsEnabled(saved))
    return false;
  DeleteNotificationsState();
  return true;
}

}  // namespace

bool OnNotificationsOption(uint32_t value) {
  if (value == 1)
    return SuppressNotifications();
  if (value == 2)
    return RestoreNotifications();
  return true;
}

}  // namespace mantlet
