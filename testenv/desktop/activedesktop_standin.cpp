// Stand-in for the shell's desktop object (the ActiveDesktop class) in the
// test prefix. Wine 8 creates the object but answers E_NOTIMPL for reading,
// setting and applying the wallpaper, which is all the module asks of it; this
// in-process server, registered for the same class, does those three through
// the system's wallpaper parameter, as the real object does in the end.
//
// Tests script it through HKCU\Software\MantletTest\ActiveDesktop:
//   CreateResult, GetWallpaperResult, SetWallpaperResult, ApplyChangesResult
//       (REG_DWORD HRESULTs; a failing one is returned instead of doing the work)
//   DelayMs (REG_DWORD: GetWallpaper and ApplyChanges take that long, as a
//       busy shell does)
// and read back what it was asked:
//   ApplyCount, LastApplyFlags (REG_DWORD), LastWallpaper (REG_SZ).
#include <windows.h>
#include <wininet.h>  // the desktop object's interface is declared only after it
#include <shlobj.h>

#include <new>
#include <string>

namespace {

constexpr wchar_t kScriptKey[] = L"Software\\MantletTest\\ActiveDesktop";

HRESULT Scripted(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, kScriptKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS) {
    return S_OK;
  }
  return static_cast<HRESULT>(value);
}

void Delay() {
  DWORD ms = 0;
  DWORD size = sizeof(ms);
  if (RegGetValueW(HKEY_CURRENT_USER, kScriptKey, L"DelayMs", RRF_RT_REG_DWORD, nullptr, &ms,
                   &size) == ERROR_SUCCESS) {
    Sleep(ms);
  }
}

void Record(const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kScriptKey, name, REG_DWORD, &value, sizeof(value));
}

void Record(const wchar_t* name, const std::wstring& value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kScriptKey, name, REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

DWORD Recorded(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  RegGetValueW(HKEY_CURRENT_USER, kScriptKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

class DesktopObject final : public IActiveDesktop {
 public:
  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr)
      return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IActiveDesktop)) {
      *ppv = static_cast<IActiveDesktop*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
      delete this;
    return left;
  }

  // What the module uses.
  STDMETHODIMP ApplyChanges(DWORD flags) override {
    Delay();
    Record(L"ApplyCount", Recorded(L"ApplyCount") + 1);
    Record(L"LastApplyFlags", flags);
    const HRESULT scripted = Scripted(L"ApplyChangesResult");
    if (FAILED(scripted))
      return scripted;
    if (pending_) {
      UINT update = 0;
      if (flags & AD_APPLY_SAVE)
        update |= SPIF_UPDATEINIFILE;
      if (flags & AD_APPLY_REFRESH)
        update |= SPIF_SENDCHANGE;
      if (!SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(wallpaper_.c_str()),
                                 update)) {
        return HRESULT_FROM_WIN32(GetLastError());
      }
      pending_ = false;
    }
    return S_OK;
  }
  STDMETHODIMP GetWallpaper(PWSTR wallpaper, UINT units, DWORD) override {
    Delay();
    const HRESULT scripted = Scripted(L"GetWallpaperResult");
    if (FAILED(scripted))
      return scripted;
    if (wallpaper == nullptr || units == 0)
      return E_INVALIDARG;
    if (pending_) {
      lstrcpynW(wallpaper, wallpaper_.c_str(), static_cast<int>(units));
      return S_OK;
    }
    wallpaper[0] = 0;
    return SystemParametersInfoW(SPI_GETDESKWALLPAPER, units, wallpaper, 0)
               ? S_OK
               : HRESULT_FROM_WIN32(GetLastError());
  }
  STDMETHODIMP SetWallpaper(PCWSTR wallpaper, DWORD) override {
    const HRESULT scripted = Scripted(L"SetWallpaperResult");
    if (FAILED(scripted))
      return scripted;
    if (wallpaper == nullptr)
      return E_INVALIDARG;
    wallpaper_ = wallpaper;
    pending_ = true;
    Record(L"LastWallpaper", wallpaper_);
    return S_OK;
  }

  // The rest of the desktop object is not used by the module.
  STDMETHODIMP GetWallpaperOptions(LPWALLPAPEROPT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetWallpaperOptions(LPCWALLPAPEROPT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetPattern(PWSTR, UINT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetPattern(PCWSTR, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetDesktopItemOptions(LPCOMPONENTSOPT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetDesktopItemOptions(LPCCOMPONENTSOPT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddDesktopItem(LPCCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddDesktopItemWithUI(HWND, LPCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP ModifyDesktopItem(LPCCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveDesktopItem(LPCCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetDesktopItemCount(int*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetDesktopItem(int, LPCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetDesktopItemByID(ULONG_PTR, LPCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GenerateDesktopItemHtml(PCWSTR, LPCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP AddUrl(HWND, PCWSTR, LPCOMPONENT, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetDesktopItemBySource(PCWSTR, LPCOMPONENT, DWORD) override { return E_NOTIMPL; }

 private:
  ~DesktopObject() = default;
  LONG refs_ = 1;
  std::wstring wallpaper_;
  bool pending_ = false;
};

class Factory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr)
      return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static object
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr)
      return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    const HRESULT scripted = Scripted(L"CreateResult");
    if (FAILED(scripted))
      return scripted;
    DesktopObject* object = new (std::nothrow) DesktopObject();
    if (object == nullptr)
      return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!IsEqualCLSID(clsid, CLSID_ActiveDesktop))
    return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

// Stays loaded: the factory is a static object.
extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return S_FALSE;
}
