// Weave mode through command 8 as the host sends it: what is saved, what is
// changed, what comes back, and the border thread's time rule.
#include <gtest/gtest.h>

#include <string>

#include "weave_fixture.h"

namespace testsupport {
namespace {

class Weave : public WeaveTest {};

TEST_F(Weave, entering_with_the_desktop_not_shown_saves_every_user_value_then_applies_the_look) {
  EnterWeave();
  // Each setting is saved before it is changed: the desktop object read (O),
  // colour and wallpaper saved (S S), wallpaper and colour applied (O C; no
  // icon view without a shell); the timeout read, saved, zeroed (P S P); the
  // animations saved and zeroed (S S) and both broadcasts (M N); then the
  // border thread's backup (S S) and the metrics read and set (P P).
  EXPECT_EQ(NewCalls(), "OSSOCPSPSSMNSSPP");

  EXPECT_EQ(SavedDword(L"DesktopColor"), 0x336699u);
  std::wstring wallpaper;
  EXPECT_TRUE(GetString(HKEY_CURRENT_USER, kSettingsKey, L"DesktopWallpaper", &wallpaper));
  EXPECT_EQ(wallpaper, user_.wallpaper);
  EXPECT_EQ(SavedDword(L"ScreenSaverInterval"), 600u);
  EXPECT_EQ(SavedDword(L"TaskbarAnimations"), 1u);
  EXPECT_EQ(SavedDword(L"BorderWidth"), 1u);
  EXPECT_EQ(SavedDword(L"BorderWidthSummary"), 5u);
  EXPECT_FALSE(Saved(L"AutoColorization"));  // Windows 6.2 and later only

  const DesktopSettings now = ReadDesktopSettings();
  EXPECT_EQ(now.wallpaper, L"");
  EXPECT_EQ(now.desktopColor, 0xCCCCCCu);
  EXPECT_EQ(now.screenSaverTimeout, 0u);
  EXPECT_EQ(now.taskbarAnimations, 0u);
  EXPECT_EQ(now.autoColorization, 1u);
  // The module set iBorderWidth 5 and iPaddedBorderWidth 0; Wine keeps 5
  // minus the 4-pixel padded border as "BorderWidth".
  EXPECT_EQ(now.borderWidth, 5);
  EXPECT_EQ(now.paddedBorderWidth, 0);
  EXPECT_EQ(now.borderWidthText, L"1");
  EXPECT_EQ(now.paddedBorderWidthText, L"-60");

  EXPECT_EQ(DesktopObjectRecord(L"LastApplyFlags"), 7u);
  EXPECT_EQ(log.Count("error"), 0u) << log.Text();
}

TEST_F(Weave, leaving_puts_every_value_back_exactly_and_forgets_every_saved_value) {
  EnterWeave();
  NewCalls();
  LeaveWeave();
  // Each saved value is deleted only after it is back in force: wallpaper
  // and colour applied (O C), their copies deleted (D D); the timeout set and
  // its copy deleted (P D); the animations written back, the copy deleted
  // (S D), both broadcasts (M N); the metrics read and set, the border
  // backup deleted (P P D D).
  EXPECT_EQ(NewCalls(), "OCDDPDSDMNPPDD");
  const DesktopSettings now = ReadDesktopSettings();
  EXPECT_EQ(now, user_) << Describe(now);
  EXPECT_EQ(SavedValueNames(), L"");
  EXPECT_EQ(DesktopObjectRecord(L"ApplyCount"), 2u);
  EXPECT_EQ(DesktopObjectRecord(L"LastApplyFlags"), 7u);
}

TEST_F(Weave, a_mode_the_tool_is_already_in_changes_nothing) {
  // Leaving while not in Weave mode: a saved value planted now would be
  // restored and deleted by any restore.
  SetDword(HKEY_CURRENT_USER, kSettingsKey, L"ScreenSaverInterval", 42);
  Run(Record(8, 0));
  EXPECT_EQ(SavedDword(L"ScreenSaverInterval"), 42u);
  EXPECT_EQ(ReadDesktopSettings().screenSaverTimeout, 600u);
  EXPECT_EQ(DesktopObjectRecord(L"ApplyCount"), 0u);
  DeleteValue(HKEY_CURRENT_USER, kSettingsKey, L"ScreenSaverInterval");

  // Entering twice: a second save would keep the Weave values as the user's.
  EnterWeave();
  Run(Record(8, 7));
  EXPECT_EQ(SavedDword(L"ScreenSaverInterval"), 600u);
  EXPECT_EQ(SavedDword(L"DesktopColor"), 0x336699u);
  EXPECT_EQ(DesktopObjectRecord(L"ApplyCount"), 1u);
  LeaveWeave();
  EXPECT_EQ(ReadDesktopSettings(), user_);
}

TEST_F(Weave, a_start_puts_back_what_an_earlier_run_left_saved) {
  EnterWeave();
  // The host dies without stopping the tool; a new one starts it again.
  host.Kill();
  ASSERT_NE(ReadDesktopSettings(), user_);
  ASSERT_EQ(host.Launch(), "load=ok");
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitUntil([] { return SavedValueNames().empty(); }, 20000))
      << Narrow(SavedValueNames());
  EXPECT_EQ(ReadDesktopSettings(), user_);
}

// The border thread held up by programs that do not answer the broadcast of
// the new metrics. The desktop look stays out of these tests (its colour
// broadcast would queue behind the stalled listeners and hold up the worker
// for a reason of its own).
class WeaveBorderThread : public WeaveTest {
 protected:
  void SetUp() override {
    WeaveTest::SetUp();
    ScriptDesktopObject(L"CreateResult", kDesktopObjectFailure);
  }

  static void SleepUntil(ULONGLONG tick) {
    const ULONGLONG now = GetTickCount64();
    if (tick > now)
      Sleep(static_cast<DWORD>(tick - now));
  }
};

TEST_F(WeaveBorderThread, leaving_two_seconds_after_entering_waits_for_the_border_thread) {
  SettingsListener stalled(4);
  const ULONGLONG entered = GetTickCount64();
  ASSERT_TRUE(SendRecord(Record(8, 1)));
  ASSERT_TRUE(stalled.WaitForMetricsBroadcasts(1, 10000));
  SleepUntil(entered + 2000);
  ASSERT_TRUE(SendRecords({Record(8, 0), Record(7, 0)}));

  // Two seconds into the wait the worker is still waiting for the thread.
  SleepUntil(entered + 4000);
  EXPECT_EQ(log.Count("RelocateTaskBarCommand"), 0u) << "the worker did not wait";
  stalled.Release();
  ASSERT_TRUE(log.WaitFor("RelocateTaskBarCommand", 10000));
  EXPECT_TRUE(WaitUntil([] { return !Saved(L"BorderWidth"); }, 10000))
      << "the restore was not started after the wait";
  EXPECT_EQ(log.Count("AdjustingBordersThread"), 0u) << log.Text();
  EXPECT_EQ(ReadDesktopSettings(), user_);
}

TEST_F(WeaveBorderThread, a_thread_running_five_seconds_drops_the_restore_and_stop_waits_for_it) {
  SettingsListener stalled(6);
  const ULONGLONG entered = GetTickCount64();
  ASSERT_TRUE(SendRecord(Record(8, 1)));
  ASSERT_TRUE(stalled.WaitForMetricsBroadcasts(1, 10000));
  SleepUntil(entered + 2000);
  ASSERT_TRUE(SendRecords({Record(8, 0), Record(7, 0)}));
  ASSERT_TRUE(log.WaitFor("RelocateTaskBarCommand", 10000));
  const ULONGLONG waited = GetTickCount64() - entered;
  EXPECT_GE(waited, 4500u) << "the worker gave up before the thread had run five seconds";
  const auto dropped = log.Matching("AdjustingBordersThread is already running for");
  ASSERT_EQ(dropped.size(), 1u) << log.Text();
  EXPECT_EQ(LogMessage(dropped[0]), "AdjustingBordersThread is already running for 5 secs");
  EXPECT_NE(dropped[0].find(" W WEAVESTATECTL "), std::string::npos) << dropped[0];
  EXPECT_TRUE(Saved(L"BorderWidth")) << "the backup must stay for the stop";

  // The stop finds the thread still running, says so, and waits for it.
  HANDLE release = CreateThread(
      nullptr, 0,
      [](void* listener) -> DWORD {
        Sleep(2500);
        static_cast<SettingsListener*>(listener)->Release();
        return 0;
      },
      &stalled, 0, nullptr);
  EXPECT_EQ(StopTool(), 0);
  WaitForSingleObject(release, INFINITE);
  CloseHandle(release);
  const auto running = log.Matching("AdjustingBordersThread is running for");
  ASSERT_EQ(running.size(), 1u) << log.Text();
  EXPECT_GE(atoi(LogMessage(running[0]).c_str() + strlen("AdjustingBordersThread is running for ")),
            5);
  EXPECT_FALSE(Saved(L"BorderWidth"));
  EXPECT_EQ(ReadDesktopSettings().borderWidthText, user_.borderWidthText);
}

// Windows versions below 6.0 get only the screen saver timeout changed.
class WeaveOnXp : public WeaveTest {
 protected:
  std::wstring WineVersion() override { return L"winxp"; }
};

TEST_F(WeaveOnXp, only_the_screen_saver_timeout_is_touched) {
  EnterWeave();
  EXPECT_EQ(SavedValueNames(), L"ScreenSaverInterval");
  DesktopSettings expected = user_;
  expected.screenSaverTimeout = 0;
  EXPECT_EQ(ReadDesktopSettings(), expected);
  LeaveWeave();
  EXPECT_EQ(ReadDesktopSettings(), user_);
  EXPECT_EQ(SavedValueNames(), L"");
  EXPECT_EQ(DesktopObjectRecord(L"ApplyCount"), 0u);
}

class WeaveOnVista : public WeaveTest {
 protected:
  std::wstring WineVersion() override { return L"vista"; }
};

TEST_F(WeaveOnVista, borders_desktop_and_animations_change_but_not_automatic_colorization) {
  EnterWeave();
  EXPECT_EQ(SavedValueNames(),
            L"BorderWidth,BorderWidthSummary,DesktopColor,DesktopWallpaper,ScreenSaverInterval,"
            L"TaskbarAnimations");
  const DesktopSettings now = ReadDesktopSettings();
  EXPECT_EQ(now.desktopColor, 0xCCCCCCu);
  EXPECT_EQ(now.borderWidthText, L"1");
  EXPECT_EQ(now.taskbarAnimations, 0u);
  EXPECT_EQ(now.autoColorization, 1u);
  LeaveWeave();
  EXPECT_EQ(ReadDesktopSettings(), user_);
}

class WeaveOnWindows8 : public WeaveTest {
 protected:
  std::wstring WineVersion() override { return L"win8"; }
};

TEST_F(WeaveOnWindows8, automatic_colorization_is_saved_and_zeroed_only_when_it_is_on) {
  const struct {
    std::optional<DWORD> user;
    bool saved;
    std::optional<DWORD> inWeave;
  } cases[] = {
      {1, true, 0},
      {7, true, 0},
      {0, false, 0},  // nothing saved, nothing changed, nothing written back
      {std::nullopt, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user ? std::to_string(*c.user) : "absent");
    if (c.user) {
      SetDword(HKEY_CURRENT_USER, kDesktopKey, L"AutoColorization", *c.user);
    } else {
      DeleteValue(HKEY_CURRENT_USER, kDesktopKey, L"AutoColorization");
    }
    EnterWeave();
    EXPECT_EQ(Saved(L"AutoColorization"), c.saved);
    if (c.saved) {
      EXPECT_EQ(SavedDword(L"AutoColorization"), c.user);
    }
    EXPECT_EQ(ReadDesktopSettings().autoColorization, c.inWeave);
    LeaveWeave();
    EXPECT_EQ(ReadDesktopSettings().autoColorization, c.user);
    EXPECT_EQ(SavedValueNames(), L"");
  }
}

class WeaveOddUser : public WeaveTest {
 protected:
  DesktopSettings User() override {
    DesktopSettings user = TypicalUser();
    user.wallpaper = L"";
    user.screenSaverTimeout = 0;
    user.taskbarAnimations = std::nullopt;
    return user;
  }
};

TEST_F(WeaveOddUser, no_wallpaper_no_screen_saver_and_no_animation_setting) {
  EnterWeave();
  std::wstring wallpaper = L"unread";
  EXPECT_TRUE(GetString(HKEY_CURRENT_USER, kSettingsKey, L"DesktopWallpaper", &wallpaper));
  EXPECT_EQ(wallpaper, L"");
  EXPECT_EQ(SavedDword(L"ScreenSaverInterval"), 0u);
  EXPECT_FALSE(Saved(L"TaskbarAnimations"));
  EXPECT_EQ(ReadDesktopSettings().taskbarAnimations, 0u);
  const auto missing = log.Matching("Error when quering current Taskbar Animations value.");
  ASSERT_EQ(missing.size(), 1u) << log.Text();
  EXPECT_EQ(LogMessage(missing[0]), "Error when quering current Taskbar Animations value. err=2");
  EXPECT_NE(missing[0].find(" F WEAVESTATECTL "), std::string::npos) << missing[0];

  LeaveWeave();
  DesktopSettings expected = user_;
  expected.taskbarAnimations = 0;  // nothing was saved, so nothing comes back
  EXPECT_EQ(ReadDesktopSettings(), expected);
  EXPECT_EQ(DesktopObjectRecord(L"ApplyCount"), 2u);
  EXPECT_EQ(SavedValueNames(), L"");
}

TEST_F(Weave, a_desktop_object_that_fails_leaves_the_desktop_as_the_user_has_it) {
  const struct {
    const wchar_t* step;
    const char* line;
    bool saved;
  } cases[] = {
      {L"CreateResult", "failed to create ActiveDesktop object, hr=0x80004005", false},
      {L"GetWallpaperResult", "failed to get desktop wallpaper, hr=0x80004005", false},
      // Saved first, then applied in part: the colour and the rest still change.
      {L"SetWallpaperResult", "failed to set wallpaper, hr=0x80004005", true},
      {L"ApplyChangesResult",
       "Setting of the wallpaper: failed to apply the changes, hr=0x80004005", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ScriptDesktopObject(c.step, kDesktopObjectFailure);
    log.Mark();
    EnterWeave();
    ASSERT_TRUE(log.WaitFor(c.line, 5000)) << log.Text();
    EXPECT_EQ(Saved(L"DesktopColor"), c.saved);
    EXPECT_EQ(ReadDesktopSettings().desktopColor, c.saved ? 0xCCCCCCu : user_.desktopColor);
    EXPECT_EQ(SavedDword(L"ScreenSaverInterval"), 600u);  // the other settings go on
    LeaveWeave();
    if (!c.saved) {
      EXPECT_EQ(log.Count("can't query saved desktop background color, err=2"), 1u) << log.Text();
    }
    DeleteValue(HKEY_CURRENT_USER, kDesktopObjectScriptKey, c.step);
    EXPECT_EQ(ReadDesktopSettings(), user_);
    EXPECT_EQ(SavedValueNames(), L"");
  }
}

// A settings key that cannot be created: a volatile parent refuses a
// non-volatile child (ERROR_CHILD_MUST_BE_VOLATILE).
class WeaveWithoutSettingsKey : public WeaveTest {
 protected:
  void BeforeStart() override {
    parent_.emplace(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane\\Corvane Tools");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane\\Corvane Tools", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  std::optional<ScopedKeyReset> parent_;
};

TEST_F(WeaveWithoutSettingsKey, start_fails_and_weave_mode_changes_only_what_needs_no_saving) {
  const auto failed = log.Matching("Error in opening of TOOL_GUEST_UTILS_REGISTRY_PATH");
  ASSERT_EQ(failed.size(), 1u) << log.Text();
  EXPECT_EQ(LogMessage(failed[0]),
            "Error in opening of TOOL_GUEST_UTILS_REGISTRY_PATH occured. Start is failed.");
  EXPECT_NE(failed[0].find(" F WEAVESTATECTL "), std::string::npos) << failed[0];

  // The controller stays in use. The desktop look counts as the user's own
  // already (no start restored it), the timeout cannot be saved and so is
  // kept, the borders cannot be backed up.
  Run(Record(8, 1));
  ASSERT_TRUE(log.WaitFor("1021: error when adjusting borders", 10000)) << log.Text();
  EXPECT_EQ(log.Count("Error when saving Taskbar Animations value. err=6"), 1u) << log.Text();
  EXPECT_EQ(DesktopObjectRecord(L"ApplyCount"), 0u);
  // Only the taskbar animations are switched off without their value kept:
  // that one is lost, as specified.
  DesktopSettings expected = user_;
  expected.taskbarAnimations = 0;
  EXPECT_EQ(ReadDesktopSettings(), expected);
  Run(Record(8, 0));
  EXPECT_EQ(log.Count("can't query saved desktop background color, err=6"), 1u) << log.Text();
  EXPECT_EQ(log.Count("failed to delete saved desktop wallpaper, err=6"), 1u) << log.Text();
  EXPECT_EQ(log.Count("failed to delete saved desktop background color, err=6"), 1u) << log.Text();
  EXPECT_EQ(ReadDesktopSettings(), expected);
}

}  // namespace
}  // namespace testsupport
