// Nothing the user had is lost when the host process dies in the middle of
// Weave mode: wherever it dies, the next start of the tool puts every value
// back. The moments are the module's own calls that change something: the
// tripwire in the host stand-in ends the process right before the N-th one,
// for every N that entering and leaving make, and then before each call of
// the restore that the next start runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "weave_fixture.h"

namespace testsupport {
namespace {

class WeaveCrash : public WeaveTest {
 protected:
  // Windows 6.2, so that automatic colorization is in play too.
  std::wstring WineVersion() override { return L"win8"; }

  void TearDown() override {
    printf("%d crash moments\n", moments_);
    for (const std::string& leftover : leftovers_)
      printf("left saved after recovery, %s\n", leftover.c_str());
    WeaveTest::TearDown();
    if (!lost_.empty()) {
      std::string all;
      for (const std::string& moment : lost_)
        all += "\n  " + moment;
      ADD_FAILURE() << "values lost after a crash at:" << all;
    }
  }

  // A host with the tool started; its tripwire ends it before the `tripAt`-th
  // call from now (0: never). With `duringStart` the count includes the
  // start's own restore.
  void LaunchStarted(long tripAt, bool duringStart = false) {
    host.Close(0);
    const std::string loaded = host.Launch();
    DWORD exitCode = 0;
    GetExitCodeProcess(host.Handle(), &exitCode);
    ASSERT_EQ(loaded, "load=ok") << "the host's exit code: " << exitCode;
    const std::string arm = "tripwire arm " + std::to_string(tripAt);
    if (duringStart) {
      ASSERT_EQ(host.Call(arm).rfind("tripwire=armed", 0), 0u);
    }
    host.Call("start");
    if (!duringStart && host.Running()) {
      ASSERT_EQ(host.Call(arm).rfind("tripwire=armed", 0), 0u);
    }
  }

  // True when the host died before `done` held.
  template <typename Pred>
  bool DiedBefore(Pred done) {
    WaitUntil([&] { return !host.Running() || done(); }, 20000);
    return !host.Running();
  }

  // Enters and leaves Weave mode, each step waited for; true when the host
  // died on the way.
  bool EnterAndLeave() {
    const long broadcasts = listener_.MetricsBroadcasts();
    if (!SendRecord(Record(8, 1)) ||
        DiedBefore([&] { return listener_.MetricsBroadcasts() > broadcasts; })) {
      return true;
    }
    return !SendRecord(Record(8, 0)) || DiedBefore([] { return SavedValueNames().empty(); });
  }

  // A host that starts and stops the tool, as after a reboot of the guest.
  void Recover() {
    host.Close(0);
    ASSERT_EQ(host.Launch(), "load=ok");
    ASSERT_EQ(StartTool(), 0);
    ASSERT_EQ(StopTool(), 0);
    host.Close();
  }

  // Every user value as before Weave mode was first entered; saved values
  // may only be a lone half of the border backup (see the report below).
  void CheckNothingLost(const std::string& moment) {
    ++moments_;
    const DesktopSettings now = ReadDesktopSettings();
    const std::wstring saved = SavedValueNames();
    if (now != user_) {
      lost_.push_back(moment + ": " + Describe(now));
      WriteDesktopSettings(user_);
    }
    if (!saved.empty()) {
      leftovers_.push_back(moment + ": " + Narrow(saved));
      EXPECT_TRUE(saved == L"BorderWidth" || saved == L"BorderWidthSummary")
          << moment << " left " << Narrow(saved);
    }
  }

  int moments_ = 0;
  std::vector<std::string> lost_;
  std::vector<std::string> leftovers_;
};

TEST_F(WeaveCrash, a_crash_at_any_moment_of_entering_or_leaving_loses_nothing) {
  // One undisturbed run counts the moments.
  ASSERT_FALSE(EnterAndLeave());
  const std::string calls = NewCalls();
  host.Call("stop");
  ASSERT_EQ(ReadDesktopSettings(), user_);
  ASSERT_GE(calls.size(), 30u) << calls;

  int crashes = 0;
  for (size_t n = 1; n <= calls.size(); ++n) {
    const std::string moment =
        "before call " + std::to_string(n) + " (" + calls.substr(n - 1, 1) + ") of " + calls;
    LaunchStarted(static_cast<long>(n));
    const bool died = EnterAndLeave();
    EXPECT_TRUE(died) << moment;
    crashes += died ? 1 : 0;
    Recover();
    CheckNothingLost(moment);
  }
  EXPECT_EQ(crashes, static_cast<int>(calls.size()));
}

TEST_F(WeaveCrash, a_crash_in_weave_mode_and_another_while_the_next_start_restores_lose_nothing) {
  // In Weave mode with nothing going on: killed from outside, and ended by
  // the host itself without a stop.
  EnterWeave();
  host.Kill();
  Recover();
  CheckNothingLost("killed while in Weave mode");

  LaunchStarted(0);
  EnterWeave();
  host.Call("exit");
  ASSERT_TRUE(WaitUntil([&] { return !host.Running(); }, 10000));
  Recover();
  CheckNothingLost("host exited while in Weave mode");

  // The start after a crash restores; a crash in the middle of that restore
  // is put right by the start after it.
  LaunchStarted(0);
  EnterWeave();
  host.Kill();
  LaunchStarted(0, true);
  ASSERT_TRUE(WaitUntil([] { return SavedValueNames().empty(); }, 20000));
  ForgetCalls();
  const std::string restore = NewCalls();
  host.Call("stop");
  ASSERT_GE(restore.size(), 10u) << restore;
  for (size_t n = 1; n <= restore.size(); ++n) {
    const std::string moment = "before call " + std::to_string(n) + " (" +
                               restore.substr(n - 1, 1) + ") of the restore " + restore;
    LaunchStarted(0);
    EnterWeave();
    host.Kill();
    LaunchStarted(static_cast<long>(n), true);
    EXPECT_TRUE(DiedBefore([] { return SavedValueNames().empty(); })) << moment;
    Recover();
    CheckNothingLost(moment);
  }
}

}  // namespace
}  // namespace testsupport
