// Taskbar and desktop visibility end to end: the real module in the host
// stand-in, the shell stand-in's windows, the tools device's reports.
//
// Under Wine the work area is per process and GetMonitorInfoW's rcWork keeps
// the whole monitor, so the module always decides from the monitor's edge:
// a show reserves the taskbar's strip (read back through the host's
// SPI_GETWORKAREA), a hide finds nothing to move. The rules that start from
// a moved work area are proven in the unit tests.
#include <gtest/gtest.h>

#include "core/device_request.h"
#include "scoped_registry.h"
#include "shell_control.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr RECT kBottomTaskbar = {0, 1040, 1920, 1080};
constexpr DWORD kReportWithinMs = 2500;    // a pass a second, on a busy machine
constexpr DWORD kEnforcedWithinMs = 3000;  // "about 1.5 s", with room for load

class TaskbarTest : public ToolTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shell.Launch(taskbar_)) << "shell stand-in did not start or is not found";
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
    ASSERT_TRUE(WaitUntil([&] { return !Reports().empty(); }, 5000)) << "no first report";
  }
  void TearDown() override {
    ToolTest::TearDown();
    shell.Close();
  }

  bool SendTaskbar(bool show) { return SendRecord(Record(4, show ? 1 : 0)); }
  std::vector<DevRecord> Reports() { return device.Records(0, mantlet::kTaskbarStateReport); }
  // The newest report carries desktop shown and taskbar visible as given.
  bool WaitReport(uint32_t desktop, uint32_t taskbar, DWORD timeoutMs = kReportWithinMs) {
    return WaitUntil(
        [&] {
          const auto r = Reports();
          return !r.empty() && r.back().PayloadWord(0) == desktop &&
                 r.back().PayloadWord(1) == taskbar;
        },
        timeoutMs, 25);
  }
  bool WaitShell(const std::function<bool(const ShellState&)>& pred,
                 DWORD timeoutMs = kEnforcedWithinMs) {
    return WaitUntil([&] { return pred(State()); }, timeoutMs, 50);
  }
  ShellState State() { return shell.State().value_or(ShellState{}); }
  std::string WorkArea() { return host.Call("workarea"); }

  RECT taskbar_ = kBottomTaskbar;
  ShellStandIn shell;
};

const auto kHidden = [](const ShellState& s) { return !s.taskbar && !s.start; };
const auto kShown = [](const ShellState& s) { return s.taskbar && s.start; };

struct WorkAreaCase {
  const char* name;
  RECT taskbar;
  bool autoHide;
  const char* afterShow;
};

class TaskbarWorkArea : public TaskbarTest, public ::testing::WithParamInterface<WorkAreaCase> {
  void SetUp() override {
    taskbar_ = GetParam().taskbar;
    TaskbarTest::SetUp();
  }
};

TEST_P(TaskbarWorkArea, hide_and_show_move_the_work_area_and_report_each_change_once) {
  if (GetParam().autoHide) {
    ASSERT_EQ(shell.Call("autohide 1"), "autohide=1");
  }
  const ULONGLONG sent = GetTickCount64();
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell(kHidden));
  ASSERT_TRUE(WaitReport(0, 0));
  EXPECT_LT(GetTickCount64() - sent, kReportWithinMs);
  EXPECT_EQ(WorkArea(), "workarea=0,0,1920,1080");

  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(WaitShell(kShown));
  ASSERT_TRUE(WaitReport(0, 1));
  EXPECT_TRUE(WaitUntil([&] { return WorkArea() == GetParam().afterShow; }, 3000)) << WorkArea();
  Sleep(1200);
  EXPECT_EQ(Reports().size(), 3u);  // first pass, hidden, shown
}

INSTANTIATE_TEST_SUITE_P(
    Taskbars, TaskbarWorkArea,
    // Which edge moves for which taskbar is the unit tests' table; here the
    // shell's own answers (its taskbar's place, auto-hide) reach that decision.
    // clang-format off
    ::testing::Values(WorkAreaCase{"bottom",             kBottomTaskbar, false, "workarea=0,0,1920,1040"},
                      WorkAreaCase{"bottom_auto_hiding", kBottomTaskbar, true,  "workarea=0,0,1920,1080"}),
    // clang-format on
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TaskbarTest, watcher_puts_back_what_the_shell_changes_behind_its_back) {
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell(kHidden));
  ASSERT_EQ(shell.Call("show taskbar"), "show=ok");
  EXPECT_TRUE(WaitShell(kHidden));
  // Shown and asked shown, but the start button hidden: shown again.
  ASSERT_TRUE(SendTaskbar(true));
  ASSERT_TRUE(WaitShell(kShown));
  ASSERT_EQ(shell.Call("hide start"), "hide=ok");
  EXPECT_TRUE(WaitShell(kShown));
}

// Requests race the watcher's enforcement while the shell keeps changing the
// taskbar; whatever the interleaving, the last request is what stays.
TEST_F(TaskbarTest, racing_requests_end_with_the_latest_one) {
  for (bool last : {false, true, false}) {
    for (int i = 0; i < 30; ++i) {
      ASSERT_TRUE(SendTaskbar(i % 2 == 0));
      shell.Call(i % 3 == 0 ? "show taskbar" : "hide taskbar");
      Sleep(i % 4 * 15);
    }
    ASSERT_TRUE(SendTaskbar(last));
    WorkerCaughtUp();
    ASSERT_TRUE(WaitShell([&](const ShellState& s) { return s.taskbar == last; }));
    Sleep(2200);  // two more passes of the watcher
    EXPECT_EQ(State().taskbar, last);
    EXPECT_EQ(State().start, last);
  }
}

TEST_F(TaskbarTest, before_any_request_the_watcher_only_reports) {
  ASSERT_EQ(shell.Call("hide taskbar"), "hide=ok");
  ASSERT_TRUE(WaitReport(0, 0));
  ASSERT_EQ(shell.Call("show taskbar"), "show=ok");
  ASSERT_EQ(shell.Call("hide start"), "hide=ok");
  ASSERT_TRUE(WaitReport(0, 1));
  EXPECT_EQ(NotifyTool(12), 0);  // reapplies the work areas: nothing to apply yet
  Sleep(2200);
  EXPECT_TRUE(State().taskbar);
  EXPECT_FALSE(State().start);  // nothing enforced
  EXPECT_EQ(shell.AppBarLog(), "") << "the work areas were looked at";
  EXPECT_EQ(log.Count("Workarea set to"), 0u);
}

TEST_F(TaskbarTest, desktop_toggle_weave_end_and_the_two_stops) {
  ASSERT_TRUE(SendRecord(Record(5, 0)));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return s.toggles == 1 && s.desktopShown; }));
  ASSERT_TRUE(WaitReport(1, 1));
  ASSERT_TRUE(SendRecord(Record(5, 0)));
  ASSERT_TRUE(WaitReport(0, 1));

  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell(kHidden));
  ASSERT_TRUE(SendRecords({Record(8, 1)}));  // entering integration mode leaves it alone
  WorkerCaughtUp();
  EXPECT_FALSE(State().taskbar);
  ASSERT_TRUE(SendRecord(Record(8, 0)));  // leaving it shows the taskbar
  WorkerCaughtUp();  // its settings go back first, each broadcast waiting for the shell
  ASSERT_TRUE(WaitShell(kShown));

  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell(kHidden));
  EXPECT_EQ(NotifyTool(6), 0);  // the session's stop leaves it hidden
  EXPECT_TRUE(kHidden(State()));
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell(kHidden));
  ASSERT_EQ(StopTool(), 0);  // the host's stop shows it
  EXPECT_TRUE(kShown(State()));
}

TEST_F(TaskbarTest, restarted_shell_is_hidden_again_and_its_work_areas_reapplied) {
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell(kHidden));
  shell.Kill();
  ASSERT_TRUE(shell.Launch(kBottomTaskbar));
  ASSERT_TRUE(State().taskbar);  // a new shell shows its taskbar
  EXPECT_TRUE(WaitShell(kHidden, 2500));
  // Measured again, right after the taskbar was hidden.
  EXPECT_TRUE(
      WaitUntil([&] { return shell.AppBarLog().find("GETSTATE") != std::string::npos; }, 2000, 25));
  EXPECT_EQ(WorkArea(), "workarea=0,0,1920,1080");
}

// Version gates through Wine's per-program version: the start button from
// 6.0 on; the show-desktop probe's z-order rule from 6.0 on (before, the
// view's leaving "Progman" is enough); secondary taskbars only from 6.2 on
// and with several monitors (Wine shows one).
struct VersionCase {
  const wchar_t* wineVersion;
  bool from6_0;
};

class TaskbarVersion : public TaskbarTest, public ::testing::WithParamInterface<VersionCase> {
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

TEST_P(TaskbarVersion, handles_what_the_version_has) {
  const bool from6_0 = GetParam().from6_0;
  ASSERT_EQ(shell.Call("secondary 0 0 1920 40"), "secondary=1");
  ASSERT_TRUE(SendTaskbar(false));
  ASSERT_TRUE(WaitShell([](const ShellState& s) { return !s.taskbar; }));
  Sleep(1500);  // a pass of enforcement
  EXPECT_EQ(State().start, !from6_0);
  EXPECT_EQ(State().secondariesVisible, 1);

  // The desktop shown, then an application window above it.
  ASSERT_EQ(shell.Call("toggle"), "toggle=ok");
  ASSERT_TRUE(WaitReport(1, 0));
  cover_ = CreateWindowExW(0, L"STATIC", L"an application", WS_POPUP | WS_VISIBLE, 100, 100, 400,
                           300, nullptr, nullptr, nullptr, nullptr);
  SetWindowPos(cover_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  if (from6_0) {
    EXPECT_TRUE(WaitReport(0, 0));
  } else {
    Sleep(kReportWithinMs);
    EXPECT_EQ(Reports().back().PayloadWord(0), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, TaskbarVersion,
                         ::testing::Values(VersionCase{L"winxp", false},
                                           VersionCase{L"vista", true}, VersionCase{L"win8", true}),
                         [](const auto& info) {
                           const std::wstring w = info.param.wineVersion;
                           return std::string(w.begin(), w.end());
                         });

}  // namespace
}  // namespace testsupport
