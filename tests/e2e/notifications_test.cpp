// Host option 3 switches the guest's notifications through the platform
// stand-in (a COM local server) on Windows 6.2 and later.
#include <gtest/gtest.h>

#include <string>

#include "notifplat_control.h"
#include "scoped_registry.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

namespace np = testenv::notifplat;
const std::wstring& kSettings = kToolSettingsKey;
constexpr wchar_t kSaved[] = L"NotificationsState";

class Notifications : public ToolTestWithoutSetting {
 protected:
  Notifications() : ToolTestWithoutSetting(kSaved) {}
  int Option(uint32_t value) {
    host.Call("option 3 " + std::to_string(value));
    return host.CallForInt("vconfig");
  }
  static DWORD Platform(const wchar_t* name, DWORD absent = 0) {
    DWORD value = absent;
    GetDword(HKEY_CURRENT_USER, np::kControlKey, name, &value);
    return value;
  }
  static void SetPlatform(const wchar_t* name, DWORD value) {
    SetDword(HKEY_CURRENT_USER, np::kControlKey, name, value);
  }
  static DWORD Saved(DWORD absent = 0xDEAD) {
    DWORD value = absent;
    GetDword(HKEY_CURRENT_USER, kSettings, kSaved, &value);
    return value;
  }

  ScopedKeyReset platform_{HKEY_CURRENT_USER, np::kControlKey};
};

class NotificationsWindows8 : public Notifications {
 protected:
  // A new host whose option 3 reads `option`, with the tool started.
  void Relaunch(uint32_t option) {
    host.Close(0);
    ASSERT_EQ(host.Launch(), "load=ok");
    host.Call("option 3 " + std::to_string(option));
    ASSERT_EQ(StartTool(), 0);
  }
  // Off and back on; the tripwire ends the host before its n-th call.
  std::string OffAndOn(long n) {
    Relaunch(0);
    host.Call("tripwire arm " + std::to_string(n));
    Option(1);
    if (host.Running())
      Option(2);
    return host.Running() ? host.Call("tripwire calls") : "";
  }
  // After a crash: the host still wants notifications off, then gives them back.
  void RecoverAndCheck(const std::string& moment) {
    Relaunch(1);
    EXPECT_EQ(Platform(np::kNotificationsSetting, 1), 0u) << moment;
    Option(2);
    EXPECT_EQ(StopTool(), 0);
    EXPECT_EQ(Platform(np::kNotificationsSetting, 1), 1u)
        << "the user's choice is lost after a crash " << moment;
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kSettings, kSaved)) << moment;
    SetPlatform(np::kNotificationsSetting, 1);
  }

  ScopedWineVersion win8_{L"mantlet_host.exe", L"win8"};
};

TEST_F(NotificationsWindows8, suppress_keeps_the_users_choice_and_restore_gives_it_back) {
  for (DWORD choice : {1u, 0u}) {
    SetPlatform(np::kNotificationsSetting, choice);
    EXPECT_EQ(Option(1), 0);
    EXPECT_EQ(Saved(), choice);
    EXPECT_EQ(Platform(np::kNotificationsSetting), 0u);
    EXPECT_EQ(Option(2), 0);
    EXPECT_EQ(Platform(np::kNotificationsSetting), choice);
    EXPECT_EQ(Saved(), 0xDEADu) << "the saved choice is forgotten";
  }
  EXPECT_EQ(log.Count("W8NOTIF"), 0u);
}

TEST_F(NotificationsWindows8, option_read_at_start_and_the_same_value_again_calls_once) {
  host.Call("option 3 1");
  EXPECT_EQ(StartTool(), 0);
  EXPECT_EQ(Option(1), 0);
  EXPECT_EQ(Platform(np::kGetCount), 1u);
  EXPECT_EQ(Platform(np::kSetCount), 1u);
  EXPECT_EQ(Saved(), 1u);
}

TEST_F(NotificationsWindows8, suppress_with_a_choice_already_saved_keeps_it) {
  SetDword(HKEY_CURRENT_USER, kSettings, kSaved, 0);
  EXPECT_EQ(Option(1), 0);
  EXPECT_EQ(Platform(np::kGetCount), 0u);
  EXPECT_EQ(Platform(np::kNotificationsSetting), 0u);
  EXPECT_EQ(Saved(), 0u);
}

TEST_F(NotificationsWindows8, restore_with_nothing_saved_does_nothing) {
  EXPECT_EQ(Option(2), 0);
  EXPECT_EQ(Platform(np::kCreateCount), 0u);
  EXPECT_EQ(log.Count("W8NOTIF"), 0u);
}

// Each failure is logged once and leaves the user's setting and the saved
// state as they were, whoever saved it.
TEST_F(NotificationsWindows8, platform_failures_change_nothing) {
  const struct {
    const wchar_t* failure;
    DWORD hr;
    const char* line;
    bool savedBefore;
  } cases[] = {
      // clang-format off
      {np::kFailCreate,   0x80070005, "0x80070005: failed to create platform",           false},
      {np::kFailEndpoint, 0x8000FFFF, "0x8000ffff: failed to create settings endpoint",  false},
      {np::kFailGet,      0x80004005, "0x80004005: failed to get notifications status",  false},
      {np::kFailSet,      0x80040154, "0x80040154: failed to change setting",            false},
      {np::kFailSet,      0x80040154, "0x80040154: failed to change setting",            true},
      // clang-format on
  };
  for (const auto& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, np::kControlKey);
    DeleteValue(HKEY_CURRENT_USER, kSettings, kSaved);
    if (c.savedBefore)
      SetDword(HKEY_CURRENT_USER, kSettings, kSaved, 1);
    SetPlatform(c.failure, c.hr);
    EXPECT_EQ(Option(0), 0);  // so that the suppress below is a change
    log.Mark();
    EXPECT_EQ(Option(1), 0);
    const auto lines = log.Matching(c.line);
    ASSERT_EQ(lines.size(), 1u) << c.line << "\n" << log.Text();
    EXPECT_NE(lines[0].find(" F W8NOTIF "), std::string::npos);
    EXPECT_EQ(Platform(np::kNotificationsSetting, 0xBEEF), 0xBEEFu);
    EXPECT_EQ(Saved(), c.savedBefore ? 1u : 0xDEADu);
  }
}

// A restore the platform refuses keeps the user's choice saved, and the same
// option at the host's next call (or the next start) tries again.
TEST_F(NotificationsWindows8, a_refused_restore_is_tried_again_at_the_next_call) {
  SetPlatform(np::kNotificationsSetting, 1);
  EXPECT_EQ(Option(1), 0);
  SetPlatform(np::kFailSet, 0x80004005);
  EXPECT_EQ(Option(2), 0);
  EXPECT_EQ(Saved(), 1u) << "a choice not put back is kept";
  SetPlatform(np::kFailSet, 0);
  EXPECT_EQ(Option(2), 0);
  EXPECT_EQ(Platform(np::kNotificationsSetting), 1u);
  EXPECT_EQ(Saved(), 0xDEADu);
}

// The host dying in the middle of switching notifications off or back on.
// The user's choice is saved before notifications go off and forgotten only
// once it is back, so whatever the moment, a new host that still asks for
// them off and later gives them back leaves the user's choice in force. The
// moments are the module's settings-changing calls (the host's tripwire
// ends the process right before the n-th), plus a kill while they are off.
TEST_F(NotificationsWindows8, the_users_choice_comes_back_after_the_host_dies_at_any_moment) {
  // An undisturbed run counts the moments: "tripwire=<count> <calls>".
  const std::string calls = OffAndOn(0);
  const std::string trace = calls.substr(calls.rfind(' ') + 1);
  ASSERT_GE(trace.size(), 4u) << calls;  // platform, save, platform; platform, forget
  ASSERT_EQ(Platform(np::kNotificationsSetting, 1), 1u);  // absent reads as enabled
  for (size_t n = 1; n <= trace.size(); ++n) {
    const std::string moment = "before call " + std::to_string(n) + " of " + trace;
    EXPECT_EQ(OffAndOn(static_cast<long>(n)), "") << "survived " << moment;
    EXPECT_TRUE(WaitUntil([&] { return !host.Running(); }, 10000)) << moment;
    RecoverAndCheck(moment);
  }
  Relaunch(0);
  Option(1);
  ASSERT_EQ(Platform(np::kNotificationsSetting, 1), 0u);
  host.Kill();
  RecoverAndCheck("killed while notifications were off");
}

TEST_F(Notifications, below_windows_8_neither_the_host_nor_the_platform_is_asked) {
  EXPECT_EQ(Option(1), 0);
  EXPECT_EQ(StartTool(), 0);
  EXPECT_EQ(host.Call("optioncalls"), "optioncalls=0");
  EXPECT_EQ(Platform(np::kCreateCount), 0u);
}

}  // namespace
}  // namespace testsupport
