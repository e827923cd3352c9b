// Weave mode through command 8 as the host sends it: what is saved, what is
// changed, what comes back, the border thread's time rule, version gates and
// the user settings and failures that take other roads.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "weave_fixture.h"

namespace testsupport {
namespace {

class Weave : public WeaveTest {};

void SleepUntil(ULONGLONG tick) {
  const ULONGLONG now = GetTickCount64();
  if (tick > now)
    Sleep(static_cast<DWORD>(tick - now));
}

TEST_F(Weave, entering_saves_each_value_before_changing_it_and_leaving_gives_all_back) {
  EnterWeave();
  // Desktop object read (O), colour and wallpaper saved (S S), applied (O C);
  // timeout read, saved, zeroed (P S P); animations saved, zeroed (S S), both
  // broadcasts (M N); the border thread's backup (S S), metrics read, set (P P).
  EXPECT_EQ(NewCalls(), "OSSOCPSPSSMNSSPP");
  EXPECT_EQ(SavedValueNames(),
            L"BorderWidth,BorderWidthSummary,DesktopColor,DesktopWallpaper,ScreenSaverInterval,"
            L"TaskbarAnimations");
  std::wstring wallpaper;
  EXPECT_TRUE(SavedString(L"DesktopWallpaper", &wallpaper));
  EXPECT_EQ(wallpaper, user_.wallpaper);
  EXPECT_EQ(Saved(L"DesktopColor"), user_.desktopColor);
  EXPECT_EQ(Saved(L"ScreenSaverInterval"), 600u);
  EXPECT_EQ(Saved(L"TaskbarAnimations"), 1u);
  EXPECT_EQ(Saved(L"BorderWidth"), 1u);
  EXPECT_EQ(Saved(L"BorderWidthSummary"), 5u);

  DesktopSettings weave = user_;
  weave.wallpaper = L"";
  weave.desktopColor = 0xCCCCCC;
  weave.screenSaverTimeout = 0;
  weave.taskbarAnimations = 0;
  // iBorderWidth 5 with no padded border: Wine keeps 5 minus its 4 as "1".
  weave.borderWidth = 5;
  weave.borderWidthText = L"1";
  EXPECT_EQ(ReadDesktopSettings(), weave);
  EXPECT_EQ(DesktopObjectRecord(L"LastApplyFlags"), 7u);

  LeaveWeave();
  // Each copy is deleted only once its value is back: applied, deleted
  // (O C D D); set, deleted (P D); written back, deleted (S D), broadcasts
  // (M N); metrics read and set, backup deleted (P P D D).
  EXPECT_EQ(WithoutShowWindow(NewCalls()), "OCDDPDSDMNPPDD");
  EXPECT_EQ(ReadDesktopSettings(), user_);
  EXPECT_EQ(SavedValueNames(), L"");
  EXPECT_EQ(log.Count("error"), 0u) << log.Text();
}

TEST_F(Weave, a_mode_the_tool_is_already_in_changes_nothing) {
  Run(Record(8, 0));
  EXPECT_EQ(WithoutShowWindow(NewCalls()), "");
  EnterWeave();
  NewCalls();
  Run(Record(8, 7));  // a second save would keep the Weave values as the user's
  EXPECT_EQ(NewCalls(), "");
  LeaveWeave();
  Run(Record(8, 0));
  EXPECT_EQ(WithoutShowWindow(NewCalls()), "OCDDPDSDMNPPDD");
  EXPECT_EQ(ReadDesktopSettings(), user_);
}

// The border thread held up by programs that do not answer the broadcast of
// new metrics. The desktop look stays out (its colour broadcast would queue
// behind the stalled windows and hold the worker up for a reason of its own).
TEST_F(Weave, leaving_waits_for_the_border_thread_until_5_s_after_its_start_then_drops_it) {
  ScriptDesktopObject(L"CreateResult", kFailure);
  for (const DWORD releaseMs : {4000u, 8000u}) {
    SCOPED_TRACE(releaseMs);
    SettingsListener stalled(6);
    const ULONGLONG entered = GetTickCount64();
    ASSERT_TRUE(SendRecord(Record(8, 1)));
    ASSERT_TRUE(stalled.WaitForMetricsBroadcasts(1, 10000));
    SleepUntil(entered + 2000);
    ASSERT_TRUE(SendRecords({Record(8, 0), Record(7, 0)}));
    SleepUntil(entered + 3800);
    EXPECT_EQ(log.Count("RelocateTaskBarCommand"), 0u) << "the worker did not wait";
    if (releaseMs < 5000) {
      stalled.Release();
      ASSERT_TRUE(log.WaitFor("RelocateTaskBarCommand", 10000));
      EXPECT_TRUE(WaitUntil([] { return !Saved(L"BorderWidth"); }, 10000));
      EXPECT_EQ(log.Count("AdjustingBordersThread"), 0u) << log.Text();
      log.Mark();
      continue;
    }
    ASSERT_TRUE(log.WaitFor("RelocateTaskBarCommand", 10000));
    EXPECT_GE(GetTickCount64() - entered, 4500u);
    EXPECT_EQ(log.Count("AdjustingBordersThread is already running for 5 secs"), 1u) << log.Text();
    EXPECT_TRUE(Saved(L"BorderWidth")) << "the backup stays for the stop";
    // The stop finds the thread still running, says so and waits for it.
    std::thread release([&] {
      SleepUntil(entered + releaseMs);
      stalled.Release();
    });
    EXPECT_EQ(StopTool(), 0);
    release.join();
    EXPECT_EQ(log.Count("AdjustingBordersThread is running for "), 1u) << log.Text();
    EXPECT_EQ(SavedValueNames(), L"");
    EXPECT_EQ(ReadDesktopSettings(), user_);
  }
}

// Below 6.0 only the timeout changes; automatic colorization from 6.2, and
// only when it is on.
struct VersionCase {
  const wchar_t* version;
  std::optional<DWORD> autoColorization;
  const wchar_t* saved;
};

class WeaveVersions : public WeaveTest, public ::testing::WithParamInterface<VersionCase> {
 protected:
  std::wstring WineVersion() override { return GetParam().version; }
  DesktopSettings User() override {
    DesktopSettings user = TypicalUser();
    user.autoColorization = GetParam().autoColorization;
    return user;
  }
};

TEST_P(WeaveVersions, gate_what_is_saved_and_changed) {
  EnterWeave();
  EXPECT_EQ(SavedValueNames(), GetParam().saved);
  const DesktopSettings weave = ReadDesktopSettings();
  EXPECT_EQ(weave.screenSaverTimeout, 0u);
  const bool desktop = WineVersion() != L"winxp";
  EXPECT_EQ(weave.desktopColor, desktop ? 0xCCCCCCu : user_.desktopColor);
  EXPECT_EQ(weave.taskbarAnimations, desktop ? 0u : 1u);
  EXPECT_EQ(weave.borderWidthText, desktop ? L"1" : user_.borderWidthText);
  const bool zeroed = WineVersion() == L"win8" && GetParam().autoColorization.has_value();
  EXPECT_EQ(weave.autoColorization, zeroed ? std::optional<DWORD>(0) : user_.autoColorization);
  LeaveWeave();
  EXPECT_EQ(ReadDesktopSettings(), user_);
  EXPECT_EQ(SavedValueNames(), L"");
}

constexpr wchar_t kAllButColorization[] =
    L"BorderWidth,BorderWidthSummary,DesktopColor,DesktopWallpaper,ScreenSaverInterval,"
    L"TaskbarAnimations";
INSTANTIATE_TEST_SUITE_P(
    Windows, WeaveVersions,
    ::testing::Values(VersionCase{L"winxp", 1, L"ScreenSaverInterval"},
                      VersionCase{L"vista", 1, kAllButColorization},
                      VersionCase{L"win8", 1,
                                  L"AutoColorization,BorderWidth,BorderWidthSummary,DesktopColor,"
                                  L"DesktopWallpaper,ScreenSaverInterval,TaskbarAnimations"},
                      VersionCase{L"win8", 0, kAllButColorization},
                      VersionCase{L"win8", std::nullopt, kAllButColorization}));

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
  EXPECT_TRUE(SavedString(L"DesktopWallpaper", &wallpaper));
  EXPECT_EQ(wallpaper, L"");
  EXPECT_EQ(Saved(L"ScreenSaverInterval"), 0u);
  EXPECT_FALSE(Saved(L"TaskbarAnimations"));
  const auto missing = log.Matching("Error when quering current Taskbar Animations value,");
  ASSERT_EQ(missing.size(), 1u) << log.Text();
  EXPECT_EQ(LogMessage(missing[0])
                .rfind("Error when quering current Taskbar Animations value, err = 2", 0),
            0u)
      << missing[0];
  EXPECT_NE(missing[0].find(" F WEAVESTATECTL "), std::string::npos) << missing[0];
  // With nothing to keep, the animations were left alone.
  EXPECT_FALSE(ReadDesktopSettings().taskbarAnimations.has_value());
  LeaveWeave();
  EXPECT_EQ(ReadDesktopSettings(), user_);
  EXPECT_EQ(DesktopObjectRecord(L"ApplyCount"), 2u);
}

TEST_F(Weave, a_desktop_object_that_fails_leaves_the_desktop_as_the_user_has_it) {
  const struct {
    const wchar_t* step;
    const char* line;
    bool saved;  // and the colour changed; the wallpaper stays either way
  } cases[] = {
      {L"CreateResult", "failed to create ActiveDesktop object, hr=0x80004005", false},
      {L"GetWallpaperResult", "failed to get desktop wallpaper, hr=0x80004005", false},
      {L"SetWallpaperResult", "failed to set wallpaper, hr=0x80004005", true},
      {L"ApplyChangesResult",
       "Setting of the wallpaper: failed to apply the changes, hr=0x80004005", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ScriptDesktopObject(c.step, kFailure);
    log.Mark();
    EnterWeave();
    EXPECT_EQ(log.Count(c.line), 1u) << log.Text();
    EXPECT_EQ(Saved(L"DesktopColor").has_value(), c.saved);
    EXPECT_EQ(ReadDesktopSettings().desktopColor, c.saved ? 0xCCCCCCu : user_.desktopColor);
    EXPECT_EQ(Saved(L"ScreenSaverInterval"), 600u);  // the other settings go on
    LeaveWeave();
    EXPECT_EQ(log.Count("can't query saved desktop background color, err = 2"), c.saved ? 0u : 1u);
    ScriptDesktopObject(c.step, 0);
    EXPECT_EQ(ReadDesktopSettings(), user_);
  }
}

}  // namespace
}  // namespace testsupport
