// Nothing the user had is lost when the host process dies in the middle of
// Weave mode. The moments are the module's own settings-changing calls: the
// host's tripwire ends the process right before the n-th one, for every n
// that entering and leaving make and then every n of the restore that the
// next start runs; a kill and an exit while idle in Weave mode come on top.
// After each, a new host starts and stops the tool, as after a reboot.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "core/device_request.h"
#include "desktop_settings.h"
#include "scoped_registry.h"
#include "settings_listener.h"
#include "shell_control.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

// Windows 8 (automatic colorization too), a user with settings of their own
// and the shell stand-in's icon view. The shell answers promptly: this is
// about the host dying, and each of some fifty moments enters Weave mode,
// whose broadcasts would wait for every late shell window.
class WeaveCrash : public ToolTest {
 protected:
  void SetUp() override {
    original_ = ReadDesktopSettings();
    user_ = TypicalUser();
    WriteDesktopSettings(user_);
    ASSERT_EQ(ReadDesktopSettings(), user_) << "the session did not take the user's settings";
    ASSERT_TRUE(shell_.Launch(std::nullopt, ShellAnswers::Prompt()));
    ToolTest::SetUp();
    ASSERT_EQ(host.Call("tripwire arm 0").rfind("tripwire=armed", 0), 0u);
    ASSERT_EQ(StartTool(), 0);
    ASSERT_TRUE(device.WaitForRecord(mantlet::kTaskbarStateReport, 0, 10000))
        << "the watcher did not report";
    NewCalls();
  }

  void TearDown() override {
    ToolTest::TearDown();
    shell_.Close();
    WriteDesktopSettings(original_);
  }

  // Entering ends with the border thread's broadcast of new metrics.
  void EnterWeave() {
    const long broadcasts = listener_.MetricsBroadcasts();
    ASSERT_TRUE(SendRecord(Record(8, 1)));
    ASSERT_TRUE(listener_.WaitForMetricsBroadcasts(broadcasts + 1, 20000));
  }

  // The module's settings-changing calls since the last look, one letter each
  // (testenv/host/call_tripwire.h); ForgetCalls() after a new host.
  std::string NewCalls() {
    const std::string answer = host.Call("tripwire calls");
    const std::string all = answer.substr(std::min(answer.size(), answer.find(' ') + 1));
    const std::string fresh = all.substr(std::min(all.size(), seen_));
    seen_ = all.size();
    return fresh;
  }
  void ForgetCalls() { seen_ = 0; }

  // A new host with the tool started; its tripwire ends it before the n-th
  // call from now (0: never), counting the start's own calls if `inStart`.
  void Launch(long n, bool inStart = false) {
    host.Close(0);
    ForgetCalls();
    const std::string loaded = host.Launch();
    DWORD code = 0;
    GetExitCodeProcess(host.Handle(), &code);
    ASSERT_EQ(loaded, "load=ok") << "the host's exit code " << code;
    const std::string arm = "tripwire arm " + std::to_string(n);
    if (inStart)
      host.Call(arm);
    host.Call("start");
    if (!inStart)
      host.Call(arm);
  }

  bool DiedBefore(const std::function<bool()>& done) {
    WaitUntil([&] { return !host.Running() || done(); }, 20000);
    return !host.Running();
  }

  // True when the host died on the way in or out.
  bool EnterAndLeave() {
    const long broadcasts = listener_.MetricsBroadcasts();
    if (!SendRecord(Record(8, 1)) ||
        DiedBefore([&] { return listener_.MetricsBroadcasts() > broadcasts; })) {
      return true;
    }
    return !SendRecord(Record(8, 0)) || DiedBefore([] { return SavedValueNames().empty(); });
  }

  // Every user value as before Weave mode was first entered. A lone half of
  // the border backup may stay: a crash between its two writes or deletions
  // leaves one, which every reader takes for no backup.
  void RecoverAndCheck(const std::string& moment) {
    host.Close(0);
    ASSERT_EQ(host.Launch(), "load=ok");
    ASSERT_EQ(StartTool(), 0);
    ASSERT_EQ(StopTool(), 0);
    host.Close();
    ++moments_;
    const DesktopSettings now = ReadDesktopSettings();
    EXPECT_EQ(now, user_) << "after a crash " << moment;
    // The hidden view's handle lived in the dead process; the start found
    // the view again and showed it.
    EXPECT_TRUE(shell_.State().value_or(ShellState{}).icons) << "after a crash " << moment;
    if (now != user_)
      WriteDesktopSettings(user_);
    const std::wstring left = SavedValueNames();
    EXPECT_TRUE(left.empty() || left == L"BorderWidth" || left == L"BorderWidthSummary")
        << moment << " left " << Narrow(left);
    if (!left.empty())
      printf("%s left %s saved\n", moment.c_str(), Narrow(left).c_str());
  }

  void CrashBeforeEachCall(const std::string& calls, bool inStart) {
    for (size_t n = 1; n <= calls.size(); ++n) {
      const std::string moment = "before call " + std::to_string(n) + " (" +
                                 calls.substr(n - 1, 1) + ") of " + calls +
                                 (inStart ? " (the restore)" : "");
      if (inStart) {  // in Weave mode first, then a start that restores
        Launch(0);
        EnterWeave();
        host.Kill();
      }
      Launch(static_cast<long>(n), inStart);
      EXPECT_TRUE(inStart ? DiedBefore([] { return SavedValueNames().empty(); }) : EnterAndLeave())
          << "survived " << moment;
      RecoverAndCheck(moment);
    }
  }

  int moments_ = 0;
  size_t seen_ = 0;
  DesktopSettings user_, original_;
  SettingsListener listener_;
  ShellStandIn shell_;
  ScopedWineVersion version_{L"mantlet_host.exe", L"win8"};
  ScopedKeyReset settingsKey_{HKEY_CURRENT_USER, kSettingsKey};
};

TEST_F(WeaveCrash, the_host_dying_at_any_moment_loses_none_of_the_users_values) {
  // Undisturbed runs count the moments: entering and leaving, then the
  // restore of a start after a crash in Weave mode.
  ASSERT_FALSE(EnterAndLeave());
  const std::string calls = NewCalls();
  EnterWeave();
  host.Kill();
  Launch(0, true);
  ASSERT_TRUE(WaitUntil([] { return SavedValueNames().empty(); }, 20000));
  const std::string restore = NewCalls();
  host.Call("stop");
  ASSERT_EQ(ReadDesktopSettings(), user_);
  ASSERT_GE(calls.size() + restore.size(), 40u) << calls << " " << restore;

  CrashBeforeEachCall(calls, false);
  CrashBeforeEachCall(restore, true);

  Launch(0);
  EnterWeave();
  host.Kill();
  RecoverAndCheck("killed while idle in Weave mode");
  Launch(0);
  EnterWeave();
  host.Call("exit");  // the host ends without stopping the tool
  ASSERT_TRUE(WaitUntil([&] { return !host.Running(); }, 10000));
  RecoverAndCheck("exited while idle in Weave mode");
  printf("%d moments\n", moments_);
}

}  // namespace
}  // namespace testsupport
