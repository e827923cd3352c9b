// The three save-and-restore operations of the controller: the desktop look
// (wallpaper, background colour, icon view, automatic colorization), the
// screen saver timeout and the taskbar animations. Every one saves the user's
// value under the settings key before it changes anything, and deletes the
// saved value only after putting it back, so a process that dies at any
// point leaves either the user's value in force or a saved value that the
// next start puts back.
#include <windows.h>
#include <wininet.h>  // the desktop object's interface is declared only after it
#include <shlobj.h>

#include <cwchar>
#include <utility>

#include "core/log.h"
#include "core/windows_version.h"
#include "taskbar/show_hide_taskbar.h"
#include "weave/registry_values.h"
#include "weave/weave_state_controller.h"

namespace mantlet {
namespace {

constexpr wchar_t kDesktopColor[] = L"DesktopColor";
constexpr wchar_t kDesktopWallpaper[] = L"DesktopWallpaper";
constexpr wchar_t kAutoColorization[] = L"AutoColorization";
constexpr wchar_t kScreenSaverInterval[] = L"ScreenSaverInterval";
constexpr wchar_t kTaskbarAnimations[] = L"TaskbarAnimations";
constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
constexpr wchar_t kExplorerAdvancedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
constexpr wchar_t kVisualEffects[] = L"VisualEffects";
constexpr UINT kWallpaperUnits = 260;
constexpr DWORD kApplyFlags = AD_APPLY_SAVE | AD_APPLY_HTMLGEN | AD_APPLY_REFRESH;

// The desktop object is made for each use and released right after it.
HRESULT CreateDesktopObject(IActiveDesktop** desktop) {
  return CoCreateInstance(CLSID_ActiveDesktop, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveDesktop,
                          reinterpret_cast<void**>(desktop));
}

int HrForLog(HRESULT hr) {
  return static_cast<int>(hr);
}

}  // namespace

bool WeaveStateController::GetAutoColorization(DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  const bool read = ReadDword(key, kAutoColorization, value) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read;
}

bool WeaveStateController::SetAutoColorization(DWORD value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
    return false;
  const bool written = WriteDword(key, kAutoColorization, value) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

void WeaveStateController::ChangeDesktopState(bool bEnabled) {
  const bool enabled = bEnabled || m_desktopShown;
  if (g_windowsVersion < kWindowsVista || enabled == m_desktopEnabled)
    return;
  // Recorded before the work, whether it succeeds or not: a half-applied
  // look is restored like a whole one.
  m_desktopEnabled = enabled;
  MLOG(kLogDebug, kWeaveTag, "Change desktop state bEnabled=%d m_desktopShown=%d", bEnabled ? 1 : 0,
       m_desktopShown ? 1 : 0);
  if (enabled) {
    RestoreDesktop();
  } else {
    ApplyWeaveLook();
  }
}

void WeaveStateController::RestoreDesktop() {
  const bool windows8 = g_windowsVersion >= kWindows8;
  DWORD color = 0;
  LSTATUS status = ReadDword(m_key, kDesktopColor, &color);
  if (status != ERROR_SUCCESS) {
    MLOG(kLogWarning, kWeaveTag, "can't query saved desktop background color, err=%d",
         static_cast<int>(status));
  } else {
    // One unit beyond the 520 bytes read keeps a saved text without its
    // terminator terminated.
    wchar_t wallpaper[kWallpaperUnits + 1] = {};
    DWORD size = kWallpaperUnits * sizeof(wchar_t);
    status = RegQueryValueExW(m_key, kDesktopWallpaper, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(wallpaper), &size);
    if (status != ERROR_SUCCESS) {
      MLOG(kLogWarning, kWeaveTag, "can't query saved desktop wallpaper, err=%d",
           static_cast<int>(status));
    } else {
      DWORD autoColorization = 0;
      if (windows8 && ReadDword(m_key, kAutoColorization, &autoColorization) == ERROR_SUCCESS)
        SetAutoColorization(autoColorization);
      ApplyDesktopAppearance(color, wallpaper, true);
    }
  }
  // Only now that the values are back in force may their copies go.
  status = RegDeleteValueW(m_key, kDesktopWallpaper);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    MLOG(kLogWarning, kWeaveTag, "failed to delete saved desktop wallpaper, err=%d",
         static_cast<int>(status));
  }
  status = RegDeleteValueW(m_key, kDesktopColor);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    MLOG(kLogWarning, kWeaveTag, "failed to delete saved desktop background color, err=%d",
         static_cast<int>(status));
  }
  if (windows8)
    RegDeleteValueW(m_key, kAutoColorization);
}

void WeaveStateController::ApplyWeaveLook() {
  const COLORREF color = GetSysColor(COLOR_DESKTOP);
  wchar_t wallpaper[kWallpaperUnits + 1] = {};
  IActiveDesktop* desktop = nullptr;
  HRESULT hr = CreateDesktopObject(&desktop);
  if (FAILED(hr)) {
    MLOG(kLogWarning, kWeaveTag, "failed to create ActiveDesktop object, hr=0x%08x", HrForLog(hr));
    return;
  }
  hr = desktop->GetWallpaper(wallpaper, kWallpaperUnits, 0);
  if (FAILED(hr))
    MLOG(kLogWarning, kWeaveTag, "failed to get desktop wallpaper, hr=0x%08x", HrForLog(hr));
  desktop->Release();
  if (FAILED(hr))
    return;

  LSTATUS status = WriteDword(m_key, kDesktopColor, color);
  if (status != ERROR_SUCCESS) {
    MLOG(kLogWarning, kWeaveTag, "failed to save desktop background color, err=%d",
         static_cast<int>(status));
    return;
  }
  const DWORD bytes = static_cast<DWORD>((wcslen(wallpaper) + 1) * sizeof(wchar_t));
  status = RegSetValueExW(m_key, kDesktopWallpaper, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(wallpaper), bytes);
  if (status != ERROR_SUCCESS) {
    MLOG(kLogWarning, kWeaveTag, "failed to save desktop wallpaper, err=%d",
         static_cast<int>(status));
    return;
  }
  if (g_windowsVersion >= kWindows8) {
    DWORD autoColorization = 0;
    if (GetAutoColorization(&autoColorization) && autoColorization != 0) {
      if (WriteDword(m_key, kAutoColorization, autoColorization) != ERROR_SUCCESS)
        return;
      SetAutoColorization(0);
    }
  }
  ApplyDesktopAppearance(m_vmColor, L"", false);
}

void WeaveStateController::ApplyDesktopAppearance(COLORREF desktopColor, const wchar_t* wallpaper,
                                                  bool iconsEnabled) {
  MLOG(kLogDebug, kWeaveTag, "desktopColor=0x%08x, wallpaper=%ws, iconsEnabled=%d",
       static_cast<unsigned>(desktopColor), wallpaper, iconsEnabled ? 1 : 0);
  IActiveDesktop* desktop = nullptr;
  HRESULT hr = CreateDesktopObject(&desktop);
  if (FAILED(hr)) {
    MLOG(kLogWarning, kWeaveTag, "failed to create ActiveDesktop object, hr=0x%08x", HrForLog(hr));
  } else {
    hr = desktop->SetWallpaper(wallpaper, 0);
    if (FAILED(hr)) {
      MLOG(kLogWarning, kWeaveTag, "failed to set wallpaper, hr=0x%08x", HrForLog(hr));
    } else {
      hr = desktop->ApplyChanges(kApplyFlags);
      if (FAILED(hr)) {
        MLOG(kLogWarning, kWeaveTag,
             "Setting of the wallpaper: failed to apply the changes, hr=0x%08x", HrForLog(hr));
      }
    }
    desktop->Release();
  }

  const INT element = COLOR_DESKTOP;
  const COLORREF value = desktopColor;
  if (!SetSysColors(1, &element, &value)) {
    MLOG(kLogWarning, kWeaveTag, "failed to set desktop background color, err=%d",
         static_cast<int>(GetLastError()));
  }

  // The window hidden last time is the one shown again, even if the shell
  // no longer reports it as its desktop view. The handle lives only in
  // memory: after a crash the next start finds the view afresh.
  HWND view = std::exchange(m_hiddenDesktopView, nullptr);
  if (view == nullptr)
    view = FindDesktopView();
  if (view != nullptr)
    ShowWindow(view, iconsEnabled ? SW_SHOW : SW_HIDE);
  if (!iconsEnabled)
    m_hiddenDesktopView = view;
}

void WeaveStateController::ChangeScreenSaverTimeout(bool restore) {
  if (restore) {
    DWORD seconds = 0;
    const LSTATUS status = ReadDword(m_key, kScreenSaverInterval, &seconds);
    if (status == ERROR_SUCCESS) {
      SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, seconds, nullptr, 0);
    } else {
      MLOG(kLogDebug, kWeaveTag, "can't query of screen saver timeout. err=%d",
           static_cast<int>(status));
    }
    RegDeleteValueW(m_key, kScreenSaverInterval);
    return;
  }
  UINT seconds = 0;
  SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0);
  const LSTATUS status = WriteDword(m_key, kScreenSaverInterval, seconds);
  if (status != ERROR_SUCCESS) {
    MLOG(kLogDebug, kWeaveTag, "Error in saving of screen saver timeout. err=%d",
         static_cast<int>(status));
    return;
  }
  if (seconds != 0)
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, 0, nullptr, 0);
}

void WeaveStateController::ChangeTaskbarAnimations(bool restore) {
  if (g_windowsVersion < kWindowsVista)
    return;
  bool changed = false;
  HKEY explorer = nullptr;
  if (restore) {
    DWORD saved = 0;
    LSTATUS status = ReadDword(m_key, kTaskbarAnimations, &saved);
    if (status != ERROR_SUCCESS) {
      MLOG(kLogDebug, kWeaveTag,
           "Error openning saved Taskbar Animations. Nothing to restore. err=%d",
           static_cast<int>(status));
      return;
    }
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kExplorerAdvancedKey, 0, KEY_SET_VALUE, &explorer);
    if (status != ERROR_SUCCESS) {
      MLOG(kLogDebug, kWeaveTag,
           "Error openning Taskbar Animations registry key for restore it. err=%d",
           static_cast<int>(status));
    } else {
      status = WriteDword(explorer, kTaskbarAnimations, saved);
      if (status == ERROR_SUCCESS) {
        changed = true;
      } else {
        MLOG(kLogDebug, kWeaveTag, "Error when restoring Taskbar Animations registry key. err=%d",
             static_cast<int>(status));
      }
      RegCloseKey(explorer);
    }
    RegDeleteValueW(m_key, kTaskbarAnimations);
  } else {
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kExplorerAdvancedKey, 0,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE, &explorer);
    if (status != ERROR_SUCCESS) {
      LogWrite(kWeaveTag, kModuleName, kLogError,
               "Error opening Taskbar Animations registry key for replace it err=%d",
               static_cast<int>(status));
      return;
    }
    DWORD current = 0;
    status = ReadDword(explorer, kTaskbarAnimations, &current);
    if (status == ERROR_SUCCESS) {
      status = WriteDword(m_key, kTaskbarAnimations, current);
      if (status != ERROR_SUCCESS) {
        LogWrite(kWeaveTag, kModuleName, kLogError,
                 "Error when saving Taskbar Animations value. err=%d", static_cast<int>(status));
      }
    } else {
      LogWrite(kWeaveTag, kModuleName, kLogError,
               "Error when quering current Taskbar Animations value. err=%d",
               static_cast<int>(status));
    }
    // Switched off even when the user's value could not be kept.
    status = WriteDword(explorer, kTaskbarAnimations, 0);
    if (status == ERROR_SUCCESS) {
      changed = true;
    } else {
      LogWrite(kWeaveTag, kModuleName, kLogError,
               "Error when replacing current Taskbar Animations value. err=%d",
               static_cast<int>(status));
    }
    RegCloseKey(explorer);
  }
  if (changed) {
    const LPARAM area = reinterpret_cast<LPARAM>(kVisualEffects);
    PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, area);
    SendNotifyMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, area);
  }
}

}  // namespace mantlet
