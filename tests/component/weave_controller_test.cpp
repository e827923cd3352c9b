// The controller's own code under Wine with the desktop object stand-in:
// called from the threads that call it in the tool, from threads without COM,
// with Windows calls that fail, and with a shell whose icon view does not
// answer.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/windows_version.h"
#include "desktop_settings.h"
#include "import_swap.h"
#include "log_tail.h"
#include "scoped_registry.h"
#include "wait_until.h"
#include "weave/borders.h"
#include "weave/weave_state_controller.h"

namespace mantlet {
namespace {

using namespace testenv;
using testsupport::ScopedDeniedKey;
using testsupport::ScopedImportSwap;
using testsupport::ScopedKeyReset;

constexpr wchar_t kAllSaved[] =
    L"AutoColorization,BorderWidth,BorderWidthSummary,DesktopColor,DesktopWallpaper,"
    L"ScreenSaverInterval,TaskbarAnimations";

class WeaveController : public ::testing::Test {
 protected:
  void SetUp() override {
    g_windowsVersion = 0x0602;  // automatic colorization too
    original_ = ReadDesktopSettings();
    // This process read Wine's padded border when it started, before a user
    // could be written, so the user keeps the prefix's window metrics.
    user_ = TypicalUser();
    user_.borderWidth = original_.borderWidth;
    user_.paddedBorderWidth = original_.paddedBorderWidth;
    user_.borderWidthText = original_.borderWidthText;
    user_.paddedBorderWidthText = original_.paddedBorderWidthText;
    WriteDesktopSettings(user_);
    log_.Mark();
  }

  void TearDown() override { WriteDesktopSettings(original_); }

  // The settings in force; Wine may keep the user's border as "1" for "-15".
  DesktopSettings Now() const {
    DesktopSettings now = ReadDesktopSettings();
    now.borderWidthText = user_.borderWidthText;
    return now;
  }

  static void Settle() { ASSERT_TRUE(WaitAdjustingBordersThread(INFINITE)); }

  ScopedKeyReset settings_{HKEY_CURRENT_USER, kSettingsKey};
  ScopedKeyReset script_{HKEY_CURRENT_USER, kDesktopObjectScriptKey};
  DesktopSettings original_;
  DesktopSettings user_;
  LogTail log_;
};

TEST_F(WeaveController, mode_and_desktop_changes_from_two_threads_never_lose_the_users_values) {
  // A slow shell widens the moments in which the two threads could overlap.
  ScriptDesktopObject(L"DelayMs", 15);
  WeaveStateController controller;
  ASSERT_TRUE(controller.Start());
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    for (int i = 0; !done; ++i) {  // the watcher's pace: a change now and then
      controller.OnDesktopStateChanged(i % 2 == 0);
      Sleep(i % 7);
    }
    controller.OnDesktopStateChanged(false);
  });
  for (int i = 0; i < 40; ++i)
    controller.OnWeaveStateChanged(i % 2 == 0);
  done = true;
  watcher.join();

  // Whatever the interleaving: in Weave mode with the desktop hidden, the
  // Weave look with the user's values saved; out of it, the user's values.
  controller.OnWeaveStateChanged(true);
  Settle();
  EXPECT_EQ(GetSysColor(COLOR_DESKTOP), kWeaveDesktopColor);
  EXPECT_EQ(Saved(L"DesktopColor"), user_.desktopColor);
  controller.OnWeaveStateChanged(false);
  controller.Stop();
  EXPECT_EQ(Now(), user_);
  EXPECT_EQ(SavedValueNames(), L"");
}

// The host may start and stop the tool on threads that never entered COM.
TEST_F(WeaveController, works_on_threads_without_com_and_leaves_them_without) {
  WeaveStateController controller;
  const auto onThreadWithoutCom = [](const std::function<void()>& work) {
    std::thread([&] {
      work();
      EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "an apartment was left";
      CoUninitialize();
    }).join();
  };
  onThreadWithoutCom([&] {
    ASSERT_TRUE(controller.Start());
    controller.OnWeaveStateChanged(true);
  });
  Settle();
  const DesktopSettings weave = ReadDesktopSettings();
  EXPECT_EQ(weave.wallpaper, L"");
  EXPECT_EQ(weave.desktopColor, kWeaveDesktopColor);
  onThreadWithoutCom([&] { controller.Stop(); });
  EXPECT_EQ(Now(), user_);
  EXPECT_EQ(SavedValueNames(), L"");
}

BOOL WINAPI RefusedSetSysColors(int, const INT*, const COLORREF*) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

BOOL WINAPI RefusedSystemParameters(UINT, UINT, PVOID, UINT) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

// A fault lasts as long as what starting it returned.
using Fault = std::function<std::shared_ptr<void>()>;

Fault DesktopObjectFails(const wchar_t* step) {
  return [step] {
    ScriptDesktopObject(step, kFailure);
    return std::shared_ptr<void>(nullptr, [step](void*) { ScriptDesktopObject(step, 0); });
  };
}

Fault ImportRefused(const char* function, const void* replacement) {
  return [=] { return std::make_shared<ScopedImportSwap>(function, replacement); };
}

Fault KeyDenied(const wchar_t* path) {
  return [=] { return std::make_shared<ScopedDeniedKey>(HKEY_CURRENT_USER, path); };
}

// A value that cannot be put back stays saved through leaving Weave mode,
// entering and leaving it again, entering once the fault is gone and a stop
// that meets the fault again; the next start without it gives everything
// back.
TEST_F(WeaveController, a_value_that_cannot_be_put_back_stays_saved_until_a_restore_succeeds) {
  const struct {
    const char* what;
    Fault fault;
    const char* kept;
    const char* line;
  } cases[] = {
      {"desktop object not created", DesktopObjectFails(L"CreateResult"), "DesktopWallpaper",
       "failed to create ActiveDesktop object, hr=0x80004005"},
      {"wallpaper refused", DesktopObjectFails(L"SetWallpaperResult"), "DesktopWallpaper",
       "failed to set wallpaper, hr=0x80004005"},
      {"wallpaper not applied", DesktopObjectFails(L"ApplyChangesResult"), "DesktopWallpaper",
       "failed to apply the changes, hr=0x80004005"},
      {"colour refused",
       ImportRefused("SetSysColors", reinterpret_cast<const void*>(&RefusedSetSysColors)),
       "DesktopColor", "failed to set desktop background color, err = 5"},
      {"system parameters refused",
       ImportRefused("SystemParametersInfoW",
                     reinterpret_cast<const void*>(&RefusedSystemParameters)),
       "BorderWidth,BorderWidthSummary,ScreenSaverInterval",
       "failed to restore screen saver timeout, err = 5"},
      {"Explorer's key denied", KeyDenied(kExplorerAdvancedKey), "TaskbarAnimations",
       "Error openning Taskbar Animations registry key for restore it, err = 5"},
      {"desktop key denied", KeyDenied(kDesktopKey), "AutoColorization",
       "failed to restore automatic colorization, err = 5"},
      {"settings key denied", KeyDenied(kSettingsKey), "BorderWidth,BorderWidthSummary",
       "error when restoring borders, err = 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log_.Mark();
    {
      WeaveStateController controller;
      ASSERT_TRUE(controller.Start());
      controller.OnWeaveStateChanged(true);
      Settle();
      ASSERT_EQ(SavedValueNames(), kAllSaved);
      {
        const std::shared_ptr<void> lasting = c.fault();
        controller.OnWeaveStateChanged(false);
        Settle();
        controller.OnWeaveStateChanged(true);  // a change that fails leaves the older copy
        Settle();
        controller.OnWeaveStateChanged(false);
        Settle();
      }
      EXPECT_EQ(Narrow(SavedValueNames()), c.kept);
      // The fault gone, the Weave look may be what is in force; what is kept
      // is still the user's.
      controller.OnWeaveStateChanged(true);
      Settle();
      const std::shared_ptr<void> lasting = c.fault();
      controller.Stop();
    }
    EXPECT_EQ(Narrow(SavedValueNames()), c.kept);
    EXPECT_NE(log_.Count(c.line), 0u) << log_.Text();

    WeaveStateController next;
    ASSERT_TRUE(next.Start());
    Settle();
    EXPECT_EQ(Now(), user_);
    EXPECT_EQ(SavedValueNames(), L"");
    next.Stop();
  }
}

decltype(&SystemParametersInfoW) g_systemParameters = nullptr;

BOOL WINAPI TimeoutUnreadable(UINT action, UINT param, PVOID data, UINT update) {
  if (action == SPI_GETSCREENSAVETIMEOUT) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return g_systemParameters(action, param, data, update);
}

// What cannot be read cannot be kept, and so is left as the user has it.
TEST_F(WeaveController, a_value_that_cannot_be_kept_is_not_changed) {
  ScopedImportSwap timeout("SystemParametersInfoW",
                           reinterpret_cast<const void*>(&TimeoutUnreadable));
  g_systemParameters = timeout.original<decltype(&SystemParametersInfoW)>();
  ASSERT_TRUE(
      testsupport::SetString(HKEY_CURRENT_USER, kExplorerAdvancedKey, L"TaskbarAnimations", L"1"));
  ASSERT_TRUE(testsupport::SetString(HKEY_CURRENT_USER, kWindowMetricsKey, L"PaddedBorderWidth",
                                     L"-99999999999"));
  WeaveStateController controller;
  ASSERT_TRUE(controller.Start());
  controller.OnWeaveStateChanged(true);
  Settle();
  EXPECT_EQ(log_.Count("failed to get screen saver timeout, err = 5"), 1u) << log_.Text();
  EXPECT_EQ(log_.Count("Error when quering current Taskbar Animations value, err = 13"), 1u);
  EXPECT_EQ(log_.Count("can't read the padded border width; borders left as they are"), 1u);
  EXPECT_FALSE(Saved(L"ScreenSaverInterval").has_value());
  EXPECT_FALSE(Saved(L"TaskbarAnimations").has_value());
  EXPECT_FALSE(Saved(L"BorderWidth").has_value());
  const DesktopSettings weave = ReadDesktopSettings();
  EXPECT_EQ(weave.screenSaverTimeout, user_.screenSaverTimeout);
  EXPECT_EQ(weave.borderWidth, user_.borderWidth);
  std::wstring animations;
  EXPECT_TRUE(testsupport::GetString(HKEY_CURRENT_USER, kExplorerAdvancedKey, L"TaskbarAnimations",
                                     &animations));
  EXPECT_EQ(animations, L"1");
  controller.Stop();
}

// The shell's desktop and icon view on a thread that stops answering on
// request, as a hung shell does.
class HungShell {
 public:
  HungShell() {
    for (const wchar_t* name : {L"Progman", L"SHELLDLL_DefView"}) {
      WNDCLASSW windowClass = {};
      windowClass.lpfnWndProc = DefWindowProcW;
      windowClass.hInstance = GetModuleHandleW(nullptr);
      windowClass.lpszClassName = name;
      RegisterClassW(&windowClass);
    }
    thread_ = std::thread([this] {
      const HINSTANCE instance = GetModuleHandleW(nullptr);
      HWND desktop = CreateWindowExW(WS_EX_TOOLWINDOW, L"Progman", L"Program Manager", WS_POPUP, 0,
                                     0, 100, 100, nullptr, nullptr, instance, nullptr);
      view_ = CreateWindowExW(0, L"SHELLDLL_DefView", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100,
                              desktop, nullptr, instance, nullptr);
      const HANDLE waits[] = {quit_, hang_};
      for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
          break;
        if (woken == WAIT_OBJECT_0 + 1) {
          hung_ = true;
          WaitForSingleObject(answer_, INFINITE);
          hung_ = false;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
          DispatchMessageW(&message);
      }
      DestroyWindow(desktop);
    });
    WaitUntil([&] { return view_ != nullptr; }, 10000);
  }
  ~HungShell() {
    SetEvent(answer_);
    SetEvent(quit_);
    thread_.join();
    for (HANDLE event : {quit_, hang_, answer_})
      CloseHandle(event);
  }

  bool Hang() {
    SetEvent(hang_);
    return WaitUntil([&] { return hung_.load(); }, 10000);
  }
  void Answer() { SetEvent(answer_); }
  bool ViewShown() const { return (GetWindowLongW(view_, GWL_STYLE) & WS_VISIBLE) != 0; }

 private:
  HANDLE quit_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE hang_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE answer_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> hung_{false};
  std::atomic<HWND> view_{nullptr};
  std::thread thread_;
};

TEST_F(WeaveController, a_shell_that_does_not_answer_does_not_hold_up_the_weave_look) {
  HungShell shell;
  WeaveStateController controller;
  ASSERT_TRUE(controller.Start());
  ASSERT_TRUE(shell.Hang());
  std::atomic<bool> returned{false};
  std::thread enter([&] {
    controller.OnWeaveStateChanged(true);
    returned = true;
  });
  // Broadcasts wait up to 2 s for the shell's thread each, as Windows' do for
  // a hung window; a call into the icon view itself would wait for ever.
  EXPECT_TRUE(WaitUntil([&] { return returned.load(); }, 20000)) << "held up by the shell";
  shell.Answer();
  enter.join();
  EXPECT_TRUE(WaitUntil([&] { return !shell.ViewShown(); }, 10000)) << "hidden once it answers";
  Settle();
  controller.Stop();
  EXPECT_TRUE(WaitUntil([&] { return shell.ViewShown(); }, 10000));
}

}  // namespace
}  // namespace mantlet
