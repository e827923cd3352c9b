// Weave mode with the shell stand-in's desktop: its icon view, and the
// desktop shown in the middle of Weave mode as the taskbar watcher reports it.
#include <gtest/gtest.h>

#include "weave_fixture.h"

namespace testsupport {
namespace {

class WeaveDesktop : public WeaveTest {
 protected:
  bool WithShell() override { return true; }

  // The icon view is shown and hidden without waiting for the shell, which
  // takes the change when its thread next pumps.
  static bool IconsBecome(bool visible) {
    return WaitUntil([&] { return IconsVisible() == visible; }, 5000);
  }

  // Show-desktop through the taskbar (command 5); true once the watcher has
  // reported the new state, which it hands the controller first.
  bool ToggleDesktop(bool shown) {
    if (!SendRecord(Record(5, 0)))
      return false;
    const auto report = NextDesktopReport();
    return report && report->PayloadWord(0) == (shown ? 1u : 0u);
  }

  DesktopSettings WeaveLook() const {
    DesktopSettings look = user_;
    look.wallpaper = L"";
    look.desktopColor = 0xCCCCCC;
    return look;
  }
};

TEST_F(WeaveDesktop, icons_hide_in_weave_mode_and_a_shown_desktop_brings_the_users_look_back) {
  ASSERT_TRUE(IconsVisible());
  EnterWeave();
  EXPECT_TRUE(IconsBecome(false));
  const auto desktop = [](const DesktopSettings& s) {
    return std::pair(s.wallpaper, s.desktopColor);
  };
  EXPECT_EQ(desktop(ReadDesktopSettings()), desktop(WeaveLook()));

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(ToggleDesktop(true));
    EXPECT_TRUE(IconsBecome(true));
    EXPECT_EQ(desktop(ReadDesktopSettings()), desktop(user_));
    EXPECT_EQ(SavedValueNames(),
              L"BorderWidth,BorderWidthSummary,ScreenSaverInterval,TaskbarAnimations");
    ASSERT_TRUE(ToggleDesktop(false));  // saved afresh and applied again
    EXPECT_TRUE(IconsBecome(false));
    EXPECT_EQ(Saved(L"DesktopColor"), user_.desktopColor);
    EXPECT_EQ(desktop(ReadDesktopSettings()), desktop(WeaveLook()));
  }
  LeaveWeave();
  EXPECT_TRUE(IconsBecome(true));
  EXPECT_EQ(ReadDesktopSettings(), user_);
}

TEST_F(WeaveDesktop, entering_while_the_desktop_is_shown_leaves_wallpaper_colour_and_icons_alone) {
  ASSERT_TRUE(ToggleDesktop(true));
  EnterWeave();
  EXPECT_TRUE(IconsBecome(true));
  EXPECT_EQ(SavedValueNames(),
            L"BorderWidth,BorderWidthSummary,ScreenSaverInterval,TaskbarAnimations");
  DesktopSettings expected = user_;
  expected.screenSaverTimeout = 0;
  expected.taskbarAnimations = 0;
  expected.borderWidth = 5;
  expected.borderWidthText = L"1";
  EXPECT_EQ(ReadDesktopSettings(), expected);
  LeaveWeave();
  EXPECT_EQ(ReadDesktopSettings(), user_);
  ASSERT_TRUE(ToggleDesktop(false));
  EXPECT_TRUE(IconsBecome(true));
}

}  // namespace
}  // namespace testsupport
