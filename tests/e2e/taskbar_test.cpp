// Taskbar and desktop visibility end to end: the real module in the host
// stand-in, the shell stand-in's windows, the tools device's reports.
//
// Under Wine the work area is per process and GetMonitorInfoW's rcWork keeps
// the whole monitor, so the module always decides from the monitor's edge:
// a show reserves the taskbar's strip (visible through the host's
// SPI_GETWORKAREA), a hide finds nothing to move. The rules that need a
// moved work area as their starting point are proven in the unit tests.
#include <gtest/gtest.h>

#include "core/device_request.h"
#include "scoped_registry.h"
#include "shell_control.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr RECT kBottomTaskbar = {0, 1040, 1920, 1080};
constexpr RECT kLeftTaskbar = {0, 0, 62, 1080};
constexpr DWORD kReportWithinMs = 2500;    // one pass a second, on a busy machine
constexpr DWORD kEnforcedWithinMs = 3000;  // "about 1.5 s" with room for load

std::string WorkAreaText(const RECT& r) {
  return "workarea=" + RectText(r);
}

class TaskbarTest : public ToolTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shell.Launch(ShellTaskbar())) << "shell stand-in did not start or is not found";
    ToolTest::SetUp();
  }
  void TearDown() override {
    ToolTest::TearDown();
    shell.Close();
  }
  virtual RECT ShellTaskbar() { return kBottomTaskbar; }

  bool SendTaskbar(bool show) { return SendRecord(Record(4, show ? 1 : 0)); }

  // The newest 0x8500 report after `afterSeq`, waiting for it.
  std::optional<DevRecord> NextReport(uint32_t afterSeq, DWORD timeoutMs = kReportWithinMs) {
    return device.WaitForRecord(mantlet::kTaskbarStateReport, afterSeq, timeoutMs);
  }
  uint32_t LastSeq() {
    const auto all = device.Records();
    return all.empty() ? 0 : all.back().seq;
  }
  std::vector<DevRecord> Reports() { return device.Records(0, mantlet::kTaskbarStateReport); }

  bool WaitShell(const std::function<bool(const ShellState&)>& pred, DWORD timeoutMs) {
    return WaitUntil(
        [&] {
          const auto s = shell.State();
          return s && pred(*s);
        },
        timeoutMs, 50);
  }
  ShellState State() {
    const auto s = shell.State();
    EXPECT_TRUE(s.has_value());
    return s.value_or(ShellState{});
  }

  // Tool started and its first pass reported: the watcher is running.
  void StartAndSettle() {
    ASSERT_EQ(StartTool(), 0);
    ASSERT_TRUE(NextReport(0, 5000)) << "no first report";
  }

  ShellStandIn shell;
};

TEST_F(TaskbarTest, hide_and_show_bottom_taskbar_moves_work_area_and_reports) {
  StartAndSettle();
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1080}));

  const uint32_t before = LastSeq();
  const ULONGLONG sent = GetTickCount64();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar && !s.start; }, 3000));
  const auto hidden = NextReport(before);
  ASSERT_TRUE(hidden) << "no report after hiding";
  EXPECT_LT(GetTickCount64() - sent, kReportWithinMs);
  EXPECT_EQ(hidden->PayloadWord(1), 0u);  // taskbar visible
  EXPECT_EQ(hidden->PayloadWord(0), 0u);  // desktop shown
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1080}));

  const uint32_t afterHide = LastSeq();
  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return s.taskbar && s.start; }, 3000));
  ASSERT_TRUE(log.WaitFor("Workarea set to (0,0,1920,1040)", 3000)) << log.Text();
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1040}));
  const auto shown = NextReport(afterHide);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->PayloadWord(1), 1u);
  // Exactly one report per change: first pass, hidden, shown.
  Sleep(1500);
  EXPECT_EQ(Reports().size(), 3u);
}

TEST_F(TaskbarTest, auto_hiding_taskbar_leaves_the_work_area_whole_when_shown) {
  ASSERT_EQ(shell.Call("autohide 1"), "autohide=1");
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(
      WaitUntil([&] { return shell.AppBarLog().find("GETSTATE") != std::string::npos; }, 3000));
  Sleep(300);
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1080}));
  EXPECT_EQ(log.Count("Workarea set to"), 0u);
}

class LeftTaskbarTest : public TaskbarTest {
  RECT ShellTaskbar() override { return kLeftTaskbar; }
};

TEST_F(LeftTaskbarTest, left_taskbar_moves_the_left_edge) {
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, 3000));
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1080}));
  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(log.WaitFor("Workarea set to (62,0,1920,1080)", 3000)) << log.Text();
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({62, 0, 1920, 1080}));
}

TEST_F(TaskbarTest, watcher_puts_back_what_the_shell_changes_behind_its_back) {
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, 3000));

  ASSERT_EQ(shell.Call("show taskbar"), "show=ok");
  ULONGLONG shownAt = GetTickCount64();
  EXPECT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, kEnforcedWithinMs));
  EXPECT_LT(GetTickCount64() - shownAt, kEnforcedWithinMs);

  // Shown and asked shown, but the start button hidden: shown again.
  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return s.taskbar && s.start; }, 3000));
  ASSERT_EQ(shell.Call("hide start"), "hide=ok");
  EXPECT_TRUE(WaitShell([](const ShellState& s) { return s.start; }, kEnforcedWithinMs));
}

// Requests race the watcher's enforcement while the shell keeps changing the
// taskbar; whatever the interleaving, the last request is what stays.
TEST_F(TaskbarTest, racing_requests_end_with_the_latest_one) {
  StartAndSettle();
  for (int round = 0; round < 3; ++round) {
    const bool last = round % 2 == 0;  // hidden, shown, hidden
    for (int i = 0; i < 30; ++i) {
      ASSERT_TRUE(SendTaskbar(i % 2 == 0));
      shell.Call(i % 3 == 0 ? "show taskbar" : "hide taskbar");
      Sleep(i % 4 * 15);
    }
    ASSERT_TRUE(SendTaskbar(!last));
    ASSERT_TRUE(
        WaitShell([&](const ShellState& s) { return s.taskbar == !last; }, kEnforcedWithinMs));
    // Still so after two more passes of the watcher.
    Sleep(2200);
    EXPECT_EQ(State().taskbar, !last) << "round " << round;
    EXPECT_EQ(State().start, !last) << "round " << round;
  }
}

TEST_F(TaskbarTest, before_any_request_the_watcher_only_reports) {
  StartAndSettle();
  const auto first = Reports();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].PayloadWord(1), 1u);

  ASSERT_EQ(shell.Call("hide taskbar"), "hide=ok");
  const auto report = NextReport(first[0].seq);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->PayloadWord(1), 0u);
  ASSERT_EQ(shell.Call("show taskbar"), "show=ok");
  ASSERT_EQ(shell.Call("hide start"), "hide=ok");
  ASSERT_TRUE(NextReport(report->seq));
  Sleep(2500);
  const ShellState s = State();
  EXPECT_TRUE(s.taskbar);
  EXPECT_FALSE(s.start);  // nothing was enforced

  // Notification 12 reaches ReapplyWorkAreas, which has nothing to apply.
  EXPECT_EQ(NotifyTool(12), 0);
  Sleep(500);
  EXPECT_EQ(shell.AppBarLog().find("GETSTATE"), std::string::npos) << shell.AppBarLog();
  EXPECT_EQ(log.Count("Workarea set to"), 0u);
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1080}));
}

TEST_F(TaskbarTest, toggle_desktop_switches_the_shell_and_the_report_follows) {
  StartAndSettle();
  uint32_t seq = LastSeq();
  ASSERT_TRUE(SendRecord(Record(5, 0)));
  ASSERT_TRUE(
      WaitShell([](const ShellState& s) { return s.toggles == 1 && s.desktopShown; }, 3000));
  auto report = NextReport(seq);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->PayloadWord(0), 1u);
  EXPECT_EQ(report->PayloadWord(1), 1u);

  seq = report->seq;
  ASSERT_TRUE(SendRecord(Record(5, 0)));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return s.toggles == 2; }, 3000));
  report = NextReport(seq);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->PayloadWord(0), 0u);
}

// While the view sits on the WorkerW, the desktop counts as shown only as
// long as that WorkerW is the topmost ordinary window (from 6.0 on; before,
// the view's leaving "Progman" is enough).
struct CoverCase {
  const wchar_t* wineVersion;
  uint32_t shownWhenCovered;
};

class DesktopCoverTest : public TaskbarTest, public ::testing::WithParamInterface<CoverCase> {
 protected:
  void SetUp() override {
    version_ = std::make_unique<ScopedWineVersion>(L"mantlet_host.exe", GetParam().wineVersion);
    TaskbarTest::SetUp();
  }
  void TearDown() override {
    if (cover_ != nullptr)
      DestroyWindow(cover_);
    TaskbarTest::TearDown();
    version_.reset();
  }
  std::unique_ptr<ScopedWineVersion> version_;
  HWND cover_ = nullptr;
};

TEST_P(DesktopCoverTest, a_window_above_the_shown_desktop_counts_from_6_0_on) {
  StartAndSettle();
  ASSERT_EQ(shell.Call("toggle"), "toggle=ok");
  ASSERT_TRUE(WaitUntil([&] { return Reports().back().PayloadWord(0) == 1; }, kReportWithinMs));

  const uint32_t seq = Reports().back().seq;
  cover_ = CreateWindowExW(0, L"STATIC", L"an application", WS_POPUP | WS_VISIBLE, 100, 100, 400,
                           300, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(cover_, nullptr);
  SetWindowPos(cover_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  if (GetParam().shownWhenCovered == 0) {
    const auto report = NextReport(seq);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->PayloadWord(0), 0u);
  } else {
    EXPECT_FALSE(NextReport(seq, 2500));
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, DesktopCoverTest,
                         ::testing::Values(CoverCase{L"winxp", 1}, CoverCase{L"win7", 0}),
                         [](const auto& info) {
                           const std::wstring w = info.param.wineVersion;
                           return std::string(w.begin(), w.end());
                         });

TEST_F(TaskbarTest, stop_tool_shows_the_taskbar_but_inactive_session_does_not) {
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, 3000));
  EXPECT_EQ(NotifyTool(6), 0);
  EXPECT_FALSE(State().taskbar);
  EXPECT_FALSE(State().start);

  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.start; }, 3000));
  ASSERT_EQ(StopTool(), 0);
  EXPECT_TRUE(State().taskbar);
  EXPECT_TRUE(State().start);
}

TEST_F(TaskbarTest, weave_mode_ending_shows_the_taskbar) {
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, 3000));
  ASSERT_TRUE(SendRecord(Record(8, 1)));
  Sleep(500);
  EXPECT_FALSE(State().taskbar);  // entering the mode leaves it alone
  ASSERT_TRUE(SendRecord(Record(8, 0)));
  EXPECT_TRUE(WaitShell([](const ShellState& s) { return s.taskbar && s.start; }, 3000));
}

TEST_F(TaskbarTest, restarted_shell_is_hidden_again_and_its_work_areas_reapplied) {
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, 3000));

  shell.Kill();
  ASSERT_TRUE(shell.Launch(kBottomTaskbar));
  ASSERT_TRUE(State().taskbar);  // a new shell shows its taskbar
  const ULONGLONG restarted = GetTickCount64();
  EXPECT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar && !s.start; }, 3000));
  EXPECT_LT(GetTickCount64() - restarted, 3000u);
  // The new shell's taskbar was measured again for the work area.
  EXPECT_NE(shell.AppBarLog().find("GETSTATE"), std::string::npos);
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1080}));
}

TEST_F(TaskbarTest, zero_size_taskbar_is_hidden_and_shown_without_touching_the_work_area) {
  ASSERT_EQ(shell.Call("taskbar 0 0 0 0"), "taskbar=ok");
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, 3000));
  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return s.taskbar; }, 3000));
  Sleep(300);
  EXPECT_EQ(log.Count("Workarea set to"), 0u);
  EXPECT_EQ(host.Call("workarea"), WorkAreaText({0, 0, 1920, 1080}));
}

// Version gates: the start button from 6.0 on; secondary taskbars from 6.2
// on, and only with several monitors (Wine shows one).
struct VersionCase {
  const wchar_t* wineVersion;
  bool startButtonFollows;
};

class TaskbarVersionTest : public TaskbarTest, public ::testing::WithParamInterface<VersionCase> {
 protected:
  void SetUp() override {
    version_ = std::make_unique<ScopedWineVersion>(L"mantlet_host.exe", GetParam().wineVersion);
    TaskbarTest::SetUp();
  }
  void TearDown() override {
    TaskbarTest::TearDown();
    version_.reset();
  }
  std::unique_ptr<ScopedWineVersion> version_;
};

TEST_P(TaskbarVersionTest, hiding_handles_what_the_version_has) {
  ASSERT_EQ(shell.Call("secondary 0 0 1920 40"), "secondary=1");
  StartAndSettle();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }, 3000));
  Sleep(1500);  // a pass or so of enforcement
  const ShellState s = State();
  EXPECT_EQ(s.start, !GetParam().startButtonFollows);
  EXPECT_EQ(s.secondariesVisible, 1);  // one monitor: only the primary is handled
}

INSTANTIATE_TEST_SUITE_P(Versions, TaskbarVersionTest,
                         ::testing::Values(VersionCase{L"winxp", false},
                                           VersionCase{L"vista", true}, VersionCase{L"win7", true},
                                           VersionCase{L"win8", true}),
                         [](const auto& info) {
                           const std::wstring w = info.param.wineVersion;
                           return std::string(w.begin(), w.end());
                         });

}  // namespace
}  // namespace testsupport
