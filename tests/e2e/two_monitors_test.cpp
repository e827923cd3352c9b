// Two monitors end to end: the real module in the host stand-in, the shell
// stand-in with a secondary taskbar on the second monitor, which lies right
// of the primary (1920,0 - 3200,1024; this suite's prefix is brought up so).
//
// Under Wine each monitor's rcWork is the whole monitor and the work area the
// module sets is kept per process as one rectangle, so the work area it gives
// each monitor is read from its "Workarea set to" lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/device_request.h"
#include "scoped_registry.h"
#include "shell_control.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr RECT kPrimaryTaskbar = {0, 1040, 1920, 1080};
constexpr DWORD kEnforcedWithinMs = 3000;

class TwoMonitorTest : public ToolTest {
 protected:
  void SetUpWith(const wchar_t* wineVersion) {
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), 2) << "not run in the two-monitor prefix";
    version_ = std::make_unique<ScopedWineVersion>(L"mantlet_host.exe", wineVersion);
    ASSERT_TRUE(shell.Launch(kPrimaryTaskbar, ShellAnswers::Prompt()));
    ASSERT_EQ(shell.Call("secondary monitors"), "secondary=1 1920,984,3200,1024");
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }
  void TearDown() override {
    ToolTest::TearDown();
    shell.Close();
    version_.reset();
  }

  bool SendTaskbar(bool show) { return SendRecord(Record(4, show ? 1 : 0)); }
  bool WaitShell(const std::function<bool(const ShellState&)>& pred) {
    return WaitUntil([&] { return pred(shell.State().value_or(ShellState{})); }, kEnforcedWithinMs,
                     50);
  }
  int SecondariesVisible() { return shell.State().value_or(ShellState{}).secondariesVisible; }
  // Commands run one at a time: once this one is logged, those before it are
  // done.
  void WorkerCaughtUp() {
    static constexpr char kSync[] = "Unsupported command 'RelocateTaskBarCommand'";
    const size_t before = log.Count(kSync);
    ASSERT_TRUE(SendRecord(Record(7, 0)));
    ASSERT_TRUE(log.WaitFor(kSync, 30000, before + 1));
  }

  ShellStandIn shell;

 private:
  std::unique_ptr<ScopedWineVersion> version_;
};

struct VersionCase {
  const char* name;
  const wchar_t* wineVersion;
  bool secondariesFollow;  // 6.2 and later
};

class TwoMonitorTaskbars : public TwoMonitorTest,
                           public ::testing::WithParamInterface<VersionCase> {
  void SetUp() override { SetUpWith(GetParam().wineVersion); }
};

TEST_P(TwoMonitorTaskbars, secondary_taskbars_and_their_work_areas_follow_the_primary_from_6_2) {
  const bool follow = GetParam().secondariesFollow;
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }));
  if (follow) {
    EXPECT_TRUE(WaitShell([](const ShellState& s) { return s.secondariesVisible == 0; }));
    // Shown behind the tool's back, it is hidden again by the watcher.
    ASSERT_EQ(shell.Call("show secondaries"), "show=ok");
    EXPECT_TRUE(WaitShell([](const ShellState& s) { return s.secondariesVisible == 0; }));
  } else {
    // The watcher has seen the hidden taskbar: a hide of the secondary would
    // have come with the primary's, long before.
    ASSERT_TRUE(WaitUntil(
        [&] {
          const auto r = device.Records(0, mantlet::kTaskbarStateReport);
          return !r.empty() && r.back().PayloadWord(1) == 0;
        },
        kEnforcedWithinMs, 25));
    EXPECT_EQ(SecondariesVisible(), 1);
  }

  log.Mark();
  ASSERT_TRUE(SendTaskbar(true));
  WorkerCaughtUp();
  EXPECT_TRUE(
      WaitShell([](const ShellState& s) { return s.taskbar && s.secondariesVisible == 1; }));
  // A watcher pass that saw the show half done applies it once more.
  EXPECT_GE(log.Count("Workarea set to (0,0,1920,1040)"), 1u);
  EXPECT_EQ(log.Count("Workarea set to (1920,0,3200,984)") > 0, follow);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Versions, TwoMonitorTaskbars, ::testing::Values(
    VersionCase{"win7", L"win7", false},
    VersionCase{"win8", L"win8", true},
    VersionCase{"win10", L"win10", true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class TwoMonitorAppBars : public TwoMonitorTest {
  void SetUp() override { SetUpWith(L"win10"); }

 protected:
  bool SendIndents(const std::vector<std::vector<int32_t>>& entries) {
    const Bytes payload = IndentsPayload(entries);
    return SendRecord(Record(17, static_cast<uint32_t>(payload.size()), payload));
  }
  // The placed strips as "edge:l,t,r,b", sorted.
  std::vector<std::string> Placed() {
    std::vector<std::string> placed;
    for (const ShellAppBar& bar : shell.AppBars()) {
      if (bar.placed)
        placed.push_back(std::to_string(bar.edge) + ":" + RectText(bar.rect));
    }
    std::sort(placed.begin(), placed.end());
    return placed;
  }
  bool WaitPlaced(const std::vector<std::string>& expected) {
    return WaitUntil([&] { return Placed() == expected; }, 8000, 25);
  }
};

// Each entry's point picks its monitor (a point off every monitor, the
// nearest one); a strip is the monitor's, so one edge can hold a strip on
// each monitor and each goes on its own.
TEST_F(TwoMonitorAppBars, strips_sit_on_the_monitor_of_their_point_and_go_one_by_one) {
  ASSERT_TRUE(SendIndents(
      {{0, 0, -1, 30, -1, -1}, {2000, 100, -1, 20, -1, 25}, {5000, 2000, -1, -1, 40, -1}}));
  const std::vector<std::string> all = {"1:0,0,1920,30", "1:1920,0,3200,20", "2:3160,0,3200,1024",
                                        "3:1920,999,3200,1024"};
  EXPECT_TRUE(WaitPlaced(all)) << ::testing::PrintToString(Placed());

  ASSERT_TRUE(SendIndents({{2000, 100, -1, 0, -1, -1}}));
  const std::vector<std::string> left = {"1:0,0,1920,30", "2:3160,0,3200,1024",
                                         "3:1920,999,3200,1024"};
  EXPECT_TRUE(WaitPlaced(left)) << ::testing::PrintToString(Placed());
}

}  // namespace
}  // namespace testsupport
