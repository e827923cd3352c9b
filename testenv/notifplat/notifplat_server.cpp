// Stand-in for the notification settings platform: a COM local server that
// the test prefix registers under the platform's class id. Its objects have
// the platform's method layout (method 6 hands out a settings endpoint, whose
// methods 4 and 6 get and set a setting) and keep every setting in the
// registry, where tests read, set and break them (notifplat_control.h).
// COM starts it on demand; it leaves a few seconds after its last object.
#include <windows.h>

#include <string>

#include "notification_platform.h"
#include "notifplat_control.h"

namespace {

using namespace testenv::notifplat;

constexpr CLSID kPlatformClass = {
    0x0C9281F9, 0x6DA1, 0x4006, {0x87, 0x29, 0xDE, 0x6E, 0x6B, 0x61, 0x58, 0x1C}};
constexpr DWORD kIdleExitMs = 5000;

LONG g_objects = 0;
HANDLE g_objectGone = nullptr;

bool ReadDword(const wchar_t* name, DWORD* value) {
  DWORD size = sizeof(*value);
  return RegGetValueW(HKEY_CURRENT_USER, kControlKey, name, RRF_RT_REG_DWORD, nullptr, value,
                      &size) == ERROR_SUCCESS;
}

void WriteDword(const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kControlKey, name, REG_DWORD, &value, sizeof(value));
}

// Counts the call and returns the failure the test asked for, or S_OK.
HRESULT Enter(const wchar_t* counter, const wchar_t* failure) {
  DWORD count = 0;
  ReadDword(counter, &count);
  WriteDword(counter, count + 1);
  DWORD hr = 0;
  return ReadDword(failure, &hr) ? static_cast<HRESULT>(hr) : S_OK;
}

std::wstring SettingName(unsigned int id) {
  return L"Setting" + std::to_wstring(id);
}

// Reference counting shared by both objects; the server stays while any lives.
template <typename Interface>
class Object : public Interface {
 public:
  Object() { InterlockedIncrement(&g_objects); }
  virtual ~Object() {
    InterlockedDecrement(&g_objects);
    SetEvent(g_objectGone);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, InterfaceId())) {
      AddRef();
      *out = static_cast<Interface*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
      delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }

 protected:
  virtual const IID& InterfaceId() const = 0;

 private:
  LONG refs_ = 1;
};

class SettingsEndpoint : public Object<INotifSettingsEndpoint> {
 public:
  HRESULT STDMETHODCALLTYPE GetSetting(unsigned int id, int* value, int* second) override {
    const HRESULT hr = Enter(kGetCount, kFailGet);
    if (FAILED(hr))
      return hr;
    DWORD stored = 1;
    ReadDword(SettingName(id).c_str(), &stored);
    *value = static_cast<int>(stored);
    *second = 0x5EC0;  // never looked at by the module
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetSetting(unsigned int id, int value) override {
    const HRESULT hr = Enter(kSetCount, kFailSet);
    if (SUCCEEDED(hr))
      WriteDword(SettingName(id).c_str(), static_cast<DWORD>(value));
    return hr;
  }

 protected:
  const IID& InterfaceId() const override { return IID_INotifSettingsEndpoint; }
};

class Platform : public Object<INotifPlatform> {
 public:
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateSettingsEndpoint(INotifSettingsEndpoint** endpoint) override {
    *endpoint = nullptr;
    DWORD hr = 0;
    if (ReadDword(kFailEndpoint, &hr))
      return static_cast<HRESULT>(hr);
    *endpoint = new SettingsEndpoint;
    return S_OK;
  }

 protected:
  const IID& InterfaceId() const override { return IID_INotifPlatform; }
};

class PlatformFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static lifetime
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    const HRESULT hr = Enter(kCreateCount, kFailCreate);
    if (FAILED(hr))
      return hr;
    Platform* platform = new Platform;
    const HRESULT result = platform->QueryInterface(iid, out);
    platform->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

int main() {
  g_objectGone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
    return 1;
  static PlatformFactory factory;
  DWORD cookie = 0;
  if (FAILED(CoRegisterClassObject(kPlatformClass, &factory, CLSCTX_LOCAL_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie))) {
    CoUninitialize();
    return 1;
  }
  // Leaves once no object has lived for a while. An activation that comes
  // after the revoke starts a new server; objects made just before it are
  // still served until they are released.
  for (;;) {
    const DWORD wait = WaitForSingleObject(g_objectGone, kIdleExitMs);
    if (wait == WAIT_TIMEOUT && InterlockedCompareExchange(&g_objects, 0, 0) == 0)
      break;
  }
  CoRevokeClassObject(cookie);
  while (InterlockedCompareExchange(&g_objects, 0, 0) != 0)
    WaitForSingleObject(g_objectGone, 1000);
  CoUninitialize();
  return 0;
}
