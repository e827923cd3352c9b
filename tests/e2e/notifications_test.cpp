// Host option 3 switching notifications while the host dies (the other cases
// are tests/scenarios/notifications.scenario).
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

class NotificationsWindows8 : public ToolTestWithoutSetting {
 protected:
  NotificationsWindows8() : ToolTestWithoutSetting(kSaved) {}
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

  ScopedKeyReset platform_{HKEY_CURRENT_USER, np::kControlKey};
  ScopedWineVersion win8_{L"mantlet_host.exe", L"win8"};
};

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

}  // namespace
}  // namespace testsupport
