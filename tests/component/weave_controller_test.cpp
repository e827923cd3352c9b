// The controller's own code under Wine with the desktop object stand-in and
// Windows calls that fail: what it saved stays saved until it is back.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "core/windows_version.h"
#include "desktop_settings.h"
#include "import_swap.h"
#include "log_tail.h"
#include "scoped_registry.h"
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

}  // namespace
}  // namespace mantlet
