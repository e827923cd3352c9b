// The three save-and-restore operations of the controller: the desktop look
// (wallpaper, background colour, icon view, automatic colorization), the
// screen saver timeout and the taskbar animations. Every one saves the user's
// value under the settings key before it changes anything, and deletes the
// saved value only once it is back in force, so a process that dies at any
// point, or a restore that fails, leaves either the user's value in force or
// a saved value that a later restore puts back. A value already saved when
// the Weave look is applied again is the user's (its restore failed) and is
// kept: what is in force then may be the Weave look itself.
#include <windows.h>
#include <wininet.h>  // the desktop object's interface is declared only after it
#include <shlobj.h>
#include <wrl/client.h>

#include <utility>

#include "core/com.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/registry.h"
#include "core/windows_version.h"
#include "shell/shell_windows.h"
#include "weave/weave_state_controller.h"

namespace mantlet {

using Microsoft::WRL::ComPtr;

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
constexpr UINT kWallpaperUnits = 260;  // terminator included, also for the saved copy
constexpr DWORD kApplyFlags = AD_APPLY_SAVE | AD_APPLY_HTMLGEN | AD_APPLY_REFRESH;

unsigned long HrForLog(HRESULT hr) {
  return static_cast<unsigned long>(hr);
}

// The desktop object is made for each use and released right after it, in
// a COM apartment of the caller's own for that span: the host may start and
// stop the tool on a thread that never entered one. A failure is logged here.
HRESULT CreateDesktopObject(ComPtr<IActiveDesktop>* desktop) {
  const HRESULT hr =
      CoCreateInstance(CLSID_ActiveDesktop, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveDesktop,
                       reinterpret_cast<void**>(desktop->ReleaseAndGetAddressOf()));
  if (FAILED(hr)) {
    MLOG(kLogWarning, kWeaveTag, "failed to create ActiveDesktop object, hr=0x%08lx", HrForLog(hr));
  }
  return hr;
}

}  // namespace

bool WeaveStateController::GetAutoColorization(DWORD* value) {
  UniqueRegKey key;
  if (OpenKey(HKEY_CURRENT_USER, kDesktopKey, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  // A value of another type or size cannot be kept as it is, so it is left.
  return ReadDwordValue(key.get(), kAutoColorization, value).found();
}

LSTATUS WeaveStateController::SetAutoColorization(DWORD value) {
  UniqueRegKey key;
  const LSTATUS status = OpenKey(HKEY_CURRENT_USER, kDesktopKey, KEY_WRITE, &key);
  if (status != ERROR_SUCCESS)
    return status;
  return WriteDwordValue(key.get(), kAutoColorization, value);
}

void WeaveStateController::ChangeDesktopState(bool restore) {
  const bool enabled = restore || m_desktopShown;
  if (g_windowsVersion < kWindowsVista || enabled == m_desktopEnabled)
    return;
  // Recorded before the work, whether it succeeds or not: a half-applied
  // look is restored like a whole one.
  m_desktopEnabled = enabled;
  MLOG(kLogDebug, kWeaveTag, "Change desktop state bEnabled=%d m_desktopShown=%d", restore ? 1 : 0,
       m_desktopShown ? 1 : 0);
  if (enabled) {
    RestoreDesktop();
  } else {
    ApplyWeaveLook();
  }
}

void WeaveStateController::RestoreDesktop() {
  const bool windows8 = g_windowsVersion >= kWindows8;
  // Each saved value goes back on its own: an earlier restore may have put
  // some back and kept only those that failed.
  DWORD color = 0;
  const ValueRead savedColor = ReadSavedDword(m_key.get(), kDesktopColor, kWeaveTag, &color);
  if (!savedColor.found()) {
    MLOG_FAILURE(kLogWarning, kWeaveTag, savedColor.status,
                 "can't query saved desktop background color");
  }
  wchar_t wallpaper[kWallpaperUnits] = {};
  const ValueRead savedWallpaper =
      ReadSavedString(m_key.get(), kDesktopWallpaper, kWeaveTag, wallpaper, kWallpaperUnits);
  if (!savedWallpaper.found() && savedColor.found()) {
    MLOG_FAILURE(kLogWarning, kWeaveTag, savedWallpaper.status,
                 "can't query saved desktop wallpaper");
  }
  DWORD autoColorization = 0;
  const bool colorizationSaved =
      windows8 &&
      ReadSavedDword(m_key.get(), kAutoColorization, kWeaveTag, &autoColorization).found();
  bool colorizationBack = false;
  if (colorizationSaved) {
    const LSTATUS status = SetAutoColorization(autoColorization);
    colorizationBack = status == ERROR_SUCCESS;
    if (!colorizationBack) {
      MLOG_FAILURE(kLogWarning, kWeaveTag, status, "failed to restore automatic colorization");
    }
  }

  DesktopApplied applied;
  if (savedColor.found() || savedWallpaper.found() || m_hiddenDesktopView != nullptr) {
    applied = ApplyDesktopAppearance(savedColor.found() ? &color : nullptr,
                                     savedWallpaper.found() ? wallpaper : nullptr, true);
  }

  // Only what is back in force may lose its copy; the rest waits for the
  // next restore (leaving Weave mode, the stop, the next start).
  if (applied.wallpaper) {
    const LSTATUS status = DeleteValue(m_key.get(), kDesktopWallpaper);
    if (status != ERROR_SUCCESS) {
      MLOG_FAILURE(kLogWarning, kWeaveTag, status, "failed to delete saved desktop wallpaper");
    }
  }
  if (applied.color) {
    const LSTATUS status = DeleteValue(m_key.get(), kDesktopColor);
    if (status != ERROR_SUCCESS) {
      MLOG_FAILURE(kLogWarning, kWeaveTag, status,
                   "failed to delete saved desktop background color");
    }
  }
  if (colorizationBack)
    DeleteValue(m_key.get(), kAutoColorization);
}

void WeaveStateController::ApplyWeaveLook() {
  const COLORREF color = GetSysColor(COLOR_DESKTOP);
  wchar_t wallpaper[kWallpaperUnits + 1] = {};
  {
    ComScope com;
    ComPtr<IActiveDesktop> desktop;
    HRESULT hr = CreateDesktopObject(&desktop);
    if (FAILED(hr))
      return;
    hr = desktop->GetWallpaper(wallpaper, kWallpaperUnits, 0);
    if (FAILED(hr))
      MLOG(kLogWarning, kWeaveTag, "failed to get desktop wallpaper, hr=0x%08lx", HrForLog(hr));
    if (FAILED(hr))
      return;
  }

  DWORD savedColor = 0;
  ValueRead saved = ReadSavedDword(m_key.get(), kDesktopColor, kWeaveTag, &savedColor);
  LSTATUS status = saved.state == ValueState::kFailed ? saved.status : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS && !saved.found())
    status = WriteDwordValue(m_key.get(), kDesktopColor, color);
  if (status != ERROR_SUCCESS) {
    MLOG_FAILURE(kLogWarning, kWeaveTag, status, "failed to save desktop background color");
    return;
  }
  wchar_t savedWallpaper[kWallpaperUnits] = {};
  saved =
      ReadSavedString(m_key.get(), kDesktopWallpaper, kWeaveTag, savedWallpaper, kWallpaperUnits);
  status = saved.state == ValueState::kFailed ? saved.status : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS && !saved.found())
    status = WriteStringValue(m_key.get(), kDesktopWallpaper, wallpaper);
  if (status != ERROR_SUCCESS) {
    MLOG_FAILURE(kLogWarning, kWeaveTag, status, "failed to save desktop wallpaper");
    return;
  }
  if (g_windowsVersion >= kWindows8) {
    DWORD autoColorization = 0;
    if (GetAutoColorization(&autoColorization) && autoColorization != 0) {
      DWORD savedColorization = 0;
      saved = ReadSavedDword(m_key.get(), kAutoColorization, kWeaveTag, &savedColorization);
      if (saved.state == ValueState::kFailed)
        return;
      if (!saved.found() &&
          WriteDwordValue(m_key.get(), kAutoColorization, autoColorization) != ERROR_SUCCESS)
        return;
      SetAutoColorization(0);
    }
  }
  ApplyDesktopAppearance(&m_vmColor, L"", false);
}

WeaveStateController::DesktopApplied WeaveStateController::ApplyDesktopAppearance(
    const COLORREF* desktopColor, const wchar_t* wallpaper, bool iconsEnabled) {
  DesktopApplied applied;
  if (desktopColor != nullptr && wallpaper != nullptr) {
    MLOG(kLogDebug, kWeaveTag, "desktopColor=0x%08x, wallpaper=%ls, iconsEnabled=%d",
         static_cast<unsigned>(*desktopColor), wallpaper, iconsEnabled ? 1 : 0);
  }
  if (wallpaper != nullptr) {
    ComScope com;
    ComPtr<IActiveDesktop> desktop;
    HRESULT hr = CreateDesktopObject(&desktop);
    if (SUCCEEDED(hr)) {
      hr = desktop->SetWallpaper(wallpaper, 0);
      if (FAILED(hr)) {
        MLOG(kLogWarning, kWeaveTag, "failed to set wallpaper, hr=0x%08lx", HrForLog(hr));
      } else {
        hr = desktop->ApplyChanges(kApplyFlags);
        if (FAILED(hr)) {
          MLOG(kLogWarning, kWeaveTag,
               "Setting of the wallpaper: failed to apply the changes, hr=0x%08lx", HrForLog(hr));
        }
      }
      applied.wallpaper = SUCCEEDED(hr);
    }
  }

  // The colour is set also when the wallpaper failed.
  if (desktopColor != nullptr) {
    const INT element = COLOR_DESKTOP;
    applied.color = SetSysColors(1, &element, desktopColor) != FALSE;
    if (!applied.color) {
      MLOG_FAILURE(kLogWarning, kWeaveTag, GetLastError(),
                   "failed to set desktop background color");
    }
  }

  // The window hidden last time is the one shown again, even if the shell
  // no longer reports it as its desktop view. The handle lives only in
  // memory: after a crash the next start finds the view afresh. The view is
  // a window of the shell's process; a shell that does not answer must not
  // hold us up, so its visibility is changed without waiting for it.
  HWND view = std::exchange(m_hiddenDesktopView, nullptr);
  if (view == nullptr)
    view = FindDesktopView();
  if (view != nullptr)
    ShowWindowAsync(view, iconsEnabled ? SW_SHOW : SW_HIDE);
  if (!iconsEnabled)
    m_hiddenDesktopView = view;
  return applied;
}

void WeaveStateController::ChangeScreenSaverTimeout(bool restore) {
  if (restore) {
    DWORD seconds = 0;
    const ValueRead saved = ReadSavedDword(m_key.get(), kScreenSaverInterval, kWeaveTag, &seconds);
    if (!saved.found()) {
      MLOG_FAILURE(kLogDebug, kWeaveTag, saved.status, "can't query of screen saver timeout");
      return;
    }
    if (!SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, seconds, nullptr, 0)) {
      MLOG_FAILURE(kLogWarning, kWeaveTag, GetLastError(),
                   "failed to restore screen saver timeout");
      return;
    }
    DeleteValue(m_key.get(), kScreenSaverInterval);
    return;
  }
  // A timeout that cannot be read cannot be kept, so it is not changed.
  UINT seconds = 0;
  if (!SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0)) {
    MLOG_FAILURE(kLogWarning, kWeaveTag, GetLastError(), "failed to get screen saver timeout");
    return;
  }
  DWORD savedSeconds = 0;
  const ValueRead saved =
      ReadSavedDword(m_key.get(), kScreenSaverInterval, kWeaveTag, &savedSeconds);
  LSTATUS status = saved.state == ValueState::kFailed ? saved.status : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS && !saved.found())
    status = WriteDwordValue(m_key.get(), kScreenSaverInterval, seconds);
  if (status != ERROR_SUCCESS) {
    MLOG_FAILURE(kLogDebug, kWeaveTag, status, "Error in saving of screen saver timeout");
    return;
  }
  if (seconds != 0)
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, 0, nullptr, 0);
}

void WeaveStateController::ChangeTaskbarAnimations(bool restore) {
  if (g_windowsVersion < kWindowsVista)
    return;
  bool changed = false;
  UniqueRegKey explorer;
  if (restore) {
    DWORD saved = 0;
    const ValueRead read = ReadSavedDword(m_key.get(), kTaskbarAnimations, kWeaveTag, &saved);
    if (!read.found()) {
      MLOG_FAILURE(kLogDebug, kWeaveTag, read.status,
                   "Error openning saved Taskbar Animations. Nothing to restore");
      return;
    }
    LSTATUS status = OpenKey(HKEY_CURRENT_USER, kExplorerAdvancedKey, KEY_SET_VALUE, &explorer);
    if (status != ERROR_SUCCESS) {
      MLOG_FAILURE(kLogWarning, kWeaveTag, status,
                   "Error openning Taskbar Animations registry key for restore it");
      return;  // the saved value waits for the next restore
    }
    status = WriteDwordValue(explorer.get(), kTaskbarAnimations, saved);
    if (status != ERROR_SUCCESS) {
      MLOG_FAILURE(kLogWarning, kWeaveTag, status,
                   "Error when restoring Taskbar Animations registry key");
      return;
    }
    changed = true;
    DeleteValue(m_key.get(), kTaskbarAnimations);
  } else {
    LSTATUS status = OpenKey(HKEY_CURRENT_USER, kExplorerAdvancedKey,
                             KEY_QUERY_VALUE | KEY_SET_VALUE, &explorer);
    if (status != ERROR_SUCCESS) {
      MLOG_FAILURE(kLogError, kWeaveTag, status,
                   "Error opening Taskbar Animations registry key for replace it");
      return;
    }
    // Switched off only once the user's value is kept: a value that is
    // absent or cannot be read or saved stays as it is.
    DWORD current = 0;
    const ValueRead read = ReadDwordValue(explorer.get(), kTaskbarAnimations, &current);
    if (!read.found()) {
      MLOG_FAILURE(kLogError, kWeaveTag, read.status,
                   "Error when quering current Taskbar Animations value");
      return;
    }
    DWORD kept = 0;
    const ValueRead saved = ReadSavedDword(m_key.get(), kTaskbarAnimations, kWeaveTag, &kept);
    status = saved.state == ValueState::kFailed ? saved.status : ERROR_SUCCESS;
    if (status == ERROR_SUCCESS && !saved.found())
      status = WriteDwordValue(m_key.get(), kTaskbarAnimations, current);
    if (status != ERROR_SUCCESS) {
      MLOG_FAILURE(kLogError, kWeaveTag, status, "Error when saving Taskbar Animations value");
      return;
    }
    status = WriteDwordValue(explorer.get(), kTaskbarAnimations, 0);
    if (status == ERROR_SUCCESS) {
      changed = true;
    } else {
      MLOG_FAILURE(kLogError, kWeaveTag, status,
                   "Error when replacing current Taskbar Animations value");
    }
  }
  if (changed) {
    const LPARAM area = reinterpret_cast<LPARAM>(kVisualEffects);
    PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, area);
    SendNotifyMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, area);
  }
}

}  // namespace mantlet
