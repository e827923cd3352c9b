// What the taskbar does under each Windows version, with an application window
// of the test's own above the shown desktop (the other taskbar cases are
// tests/scenarios/taskbar.scenario).
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
    ASSERT_TRUE(shell.Launch(kBottomTaskbar)) << "shell stand-in did not start or is not found";
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
  bool WaitReport(uint32_t desktop, uint32_t taskbar) {
    return WaitUntil(
        [&] {
          const auto r = Reports();
          return !r.empty() && r.back().PayloadWord(0) == desktop &&
                 r.back().PayloadWord(1) == taskbar;
        },
        kReportWithinMs, 25);
  }
  bool WaitShell(const std::function<bool(const ShellState&)>& pred) {
    return WaitUntil([&] { return pred(State()); }, kEnforcedWithinMs, 50);
  }
  ShellState State() { return shell.State().value_or(ShellState{}); }

  ShellStandIn shell;
};

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
