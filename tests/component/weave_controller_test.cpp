// The controller's own code, called from the two threads that call it in the
// tool: the command worker and the taskbar watcher, at once.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <thread>

#include "core/windows_version.h"
#include "desktop_settings.h"
#include "scoped_registry.h"
#include "weave/borders.h"
#include "weave/weave_state_controller.h"

namespace mantlet {
namespace {

using namespace testenv;
using testsupport::ScopedKeyReset;

TEST(WeaveController, mode_and_desktop_changes_from_two_threads_never_lose_the_users_values) {
  g_windowsVersion = 0x0601;
  CoInitialize(nullptr);
  ScopedKeyReset settings(HKEY_CURRENT_USER, kSettingsKey);
  ScopedKeyReset script(HKEY_CURRENT_USER, kDesktopObjectScriptKey);
  // A slow shell widens the moments in which the two threads could overlap.
  ScriptDesktopObject(L"DelayMs", 15);
  // This process read Wine's padded border when it started, before a user
  // could be written, so the user keeps the prefix's window metrics.
  const DesktopSettings original = ReadDesktopSettings();
  DesktopSettings user = TypicalUser();
  user.borderWidth = original.borderWidth;
  user.paddedBorderWidth = original.paddedBorderWidth;
  user.borderWidthText = original.borderWidthText;
  user.paddedBorderWidthText = original.paddedBorderWidthText;
  WriteDesktopSettings(user);

  WeaveStateController controller;
  ASSERT_TRUE(controller.Start());
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    CoInitialize(nullptr);
    for (int i = 0; !done; ++i) {  // the watcher's pace: a change now and then
      controller.OnDesktopStateChanged(i % 2 == 0);
      Sleep(i % 7);
    }
    controller.OnDesktopStateChanged(false);
    CoUninitialize();
  });
  for (int i = 0; i < 40; ++i)
    controller.OnWeaveStateChanged(i % 2 == 0);
  done = true;
  watcher.join();

  // Whatever the interleaving: in Weave mode with the desktop hidden, the
  // Weave look with the user's values saved; out of it, the user's values.
  controller.OnWeaveStateChanged(true);
  ASSERT_TRUE(WaitAdjustingBordersThread(INFINITE));
  EXPECT_EQ(GetSysColor(COLOR_DESKTOP), 0xCCCCCCu);
  EXPECT_EQ(Saved(L"DesktopColor"), user.desktopColor);
  controller.OnWeaveStateChanged(false);
  controller.Stop();
  DesktopSettings now = ReadDesktopSettings();
  EXPECT_EQ(now.borderWidth, user.borderWidth);
  now.borderWidthText = user.borderWidthText;  // Wine may say "1" for "-15"
  EXPECT_EQ(now, user);
  EXPECT_EQ(SavedValueNames(), L"");
  WriteDesktopSettings(original);
  CoUninitialize();
}

}  // namespace
}  // namespace mantlet
