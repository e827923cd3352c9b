// The controller's own code linked in and called from the threads that call
// it in the tool: the command worker and the taskbar watcher at once.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <thread>

#include "core/windows_version.h"
#include "desktop_settings.h"
#include "log_tail.h"
#include "scoped_registry.h"
#include "weave/borders.h"
#include "weave/weave_state_controller.h"

namespace mantlet {
namespace {

using namespace testsupport;

class WeaveController : public ::testing::Test {
 protected:
  void SetUp() override {
    g_windowsVersion = 0x0601;
    CoInitialize(nullptr);
    original_ = ReadDesktopSettings();
    // This process read Wine's padded border when it started, before any
    // user could be written: the user keeps the prefix's window metrics, so
    // that what this process computes and what Wine keeps agree. (The border
    // round trip from the user's own metrics is checked end to end, where the
    // host starts after them.)
    user_.borderWidth = original_.borderWidth;
    user_.paddedBorderWidth = original_.paddedBorderWidth;
    user_.borderWidthText = original_.borderWidthText;
    user_.paddedBorderWidthText = original_.paddedBorderWidthText;
    WriteDesktopSettings(user_);
  }
  void TearDown() override {
    WriteDesktopSettings(original_);
    CoUninitialize();
  }

  DesktopSettings user_ = TypicalUser();
  ScopedKeyReset settings_{HKEY_CURRENT_USER, kSettingsKey};

 private:
  DesktopSettings original_;
};

TEST_F(WeaveController, mode_and_desktop_changes_from_two_threads_never_lose_the_users_values) {
  // A slow shell widens the moments in which the two threads could overlap.
  ScopedKeyReset script(HKEY_CURRENT_USER, kDesktopObjectScriptKey);
  SetDword(HKEY_CURRENT_USER, kDesktopObjectScriptKey, L"DelayMs", 15);
  WeaveStateController controller;
  ASSERT_TRUE(controller.Start());
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    CoInitialize(nullptr);
    // The watcher's pace: a change now and then for as long as the worker works.
    for (int i = 0; !done; ++i) {
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

  // Whatever the interleaving, the state is one of the table's: in Weave
  // mode with the desktop hidden, the Weave look with the user's values saved.
  controller.OnWeaveStateChanged(true);
  ASSERT_TRUE(WaitAdjustingBordersThread(INFINITE));
  EXPECT_EQ(GetSysColor(COLOR_DESKTOP), 0xCCCCCCu);
  DWORD saved = 0;
  EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kSettingsKey, L"DesktopColor", &saved));
  EXPECT_EQ(saved, user_.desktopColor);

  controller.OnWeaveStateChanged(false);
  controller.Stop();
  // Wine may keep the same border in other words ("1" for "-15").
  DesktopSettings now = ReadDesktopSettings();
  EXPECT_EQ(now.borderWidth, user_.borderWidth);
  now.borderWidthText = user_.borderWidthText;
  EXPECT_EQ(now, user_);
  EXPECT_EQ(SavedValueNames(), L"");
}

// The desktop look follows the table of mode and desktop state: the user's
// own unless in Weave mode with the desktop hidden. Read in this process,
// which made the changes itself.
TEST_F(WeaveController, desktop_look_follows_the_mode_and_the_shown_desktop) {
  WeaveStateController controller;
  ASSERT_TRUE(controller.Start());
  auto lookApplied = [] { return GetSysColor(COLOR_DESKTOP) == 0xCCCCCCu; };
  auto lookSaved = [] { return ValueExists(HKEY_CURRENT_USER, kSettingsKey, L"DesktopColor"); };
  const struct {
    const char* step;
    bool weave;
    bool shown;
    bool applied;
  } steps[] = {
      {"desktop shown before Weave mode", false, true, false},
      {"entering while the desktop is shown", true, true, false},
      {"the desktop hidden in Weave mode", true, false, true},
      {"the desktop shown again", true, true, false},
      {"hidden again: saved afresh", true, false, true},
      {"leaving", false, false, false},
      {"shown and hidden outside Weave mode", false, true, false},
      {"entering with the desktop hidden", true, false, true},
  };
  bool weave = false;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    if (s.weave != weave) {
      controller.OnDesktopStateChanged(s.shown);
      controller.OnWeaveStateChanged(s.weave);
      weave = s.weave;
    } else {
      controller.OnDesktopStateChanged(!s.shown);
      controller.OnDesktopStateChanged(s.shown);
    }
    EXPECT_EQ(lookApplied(), s.applied);
    EXPECT_EQ(lookSaved(), s.applied);
    if (s.applied) {
      DWORD saved = 0;
      EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kSettingsKey, L"DesktopColor", &saved));
      EXPECT_EQ(saved, user_.desktopColor);
    }
    // The timeout follows the mode alone.
    EXPECT_EQ(ValueExists(HKEY_CURRENT_USER, kSettingsKey, L"ScreenSaverInterval"), s.weave);
  }
  controller.Stop();
  EXPECT_EQ(GetSysColor(COLOR_DESKTOP), user_.desktopColor);
  EXPECT_EQ(SavedValueNames(), L"");
}

TEST_F(WeaveController, padded_border_metric_is_read_as_negative_twips_and_bad_text_counts_as_0) {
  const struct {
    const wchar_t* text;  // nullptr: no value
    int32_t expected;
    bool rangeError;
  } cases[] = {
      {L"-60", 4, false},         {L"-75", 5, false},  {L"0", 0, false},
      {L"  -60 twips", 4, false}, {nullptr, 0, false}, {L"-99999999999", 0, true},
      {L"junk", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? Narrow(c.text) : "absent");
    if (c.text != nullptr) {
      SetString(HKEY_CURRENT_USER, kWindowMetricsKey, L"PaddedBorderWidth", c.text);
    } else {
      DeleteValue(HKEY_CURRENT_USER, kWindowMetricsKey, L"PaddedBorderWidth");
    }
    testenv::LogTail log;
    EXPECT_EQ(GetWindowMetric(92), c.expected);
    EXPECT_EQ(GetWindowMetric(5), 0);  // the only metric known is the padded border
    if (c.rangeError) {
      const auto lines = log.Matching("failed to convert");
      ASSERT_EQ(lines.size(), 1u) << log.Text();
      EXPECT_EQ(testenv::LogMessage(lines[0]),
                "34: failed to convert PaddedBorderWidth(\"-99999999999\") to int");
    } else {
      EXPECT_EQ(log.Count("failed to convert"), 0u);
    }
  }
}

}  // namespace
}  // namespace mantlet
