// StopTool while the components' threads are busy with a shell that answers
// late or not at all, and with a host whose calling thread owns a window it
// does not pump: the stop returns within what its own steps need from that
// shell, plus 2 s.
#include <gtest/gtest.h>

#include <cstdio>

#include "shell_control.h"
#include "taskbar/appbar_message.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr DWORD kSlackMs = 2000;
constexpr int kFloodRecords = 3000;
constexpr size_t kFloodBatch = 150;  // under what Wine's mailslot holds before a writer blocks
constexpr DWORD kMostStrips = 4;     // one monitor, four edges

class StopUnderLoad;

struct StopCase {
  const char* name;
  HostCalls calls;
  DWORD lateMs;  // the shell's pace while the load is put on
  // Puts the load on; returns once StopTool is due.
  void (*load)(StopUnderLoad& test);
  // What the stop has to wait for from the shell. (Wine 8 sends no
  // WM_SETTINGCHANGE for a work area set with SPIF_SENDCHANGE, measured: the
  // call returns at once and no window receives it, so no broadcast counts.)
  DWORD (*requiredMs)(DWORD lateMs);
};

class StopUnderLoad : public ToolTest, public ::testing::WithParamInterface<StopCase> {
 public:
  void SetUp() override {
    ASSERT_TRUE(shell.Launch(std::nullopt, ShellAnswers::Late(GetParam().lateMs)));
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }
  void TearDown() override {
    ToolTest::TearDown();
    shell.Close();
  }
  HostOptions HostOptionsForTest() override {
    HostOptions options;
    options.calls = GetParam().calls;
    return options;
  }

  // Lists of one entry that keep every edge of the monitor changing.
  void Flood() {
    for (int at = 0; at < kFloodRecords; at += static_cast<int>(kFloodBatch)) {
      std::vector<Bytes> batch;
      for (int i = at; i < at + static_cast<int>(kFloodBatch); ++i) {
        const Bytes payload = IndentsPayload(
            {{0, 0, i % 3 == 0 ? 20 + i % 5 : -1, 30 + i % 7, i % 4 == 0 ? 0 : 15, 25}});
        batch.push_back(Record(17, static_cast<uint32_t>(payload.size()), payload));
      }
      ASSERT_TRUE(SendRecords(batch));
    }
    ASSERT_TRUE(WaitUntil([&] { return !shell.AppBars().empty(); }, 15000)) << "no strip made";
  }
  int HostThreads() { return host.CallForInt("threads"); }
  ShellStandIn shell;
};

TEST_P(StopUnderLoad, returns_within_what_its_steps_need_from_the_shell_plus_2_s) {
  GetParam().load(*this);
  if (HasFatalFailure())
    return;
  const DWORD bound = GetParam().requiredMs(GetParam().lateMs) + kSlackMs;
  const ULONGLONG began = GetTickCount64();
  const int stopped = StopTool();
  const ULONGLONG took = GetTickCount64() - began;
  EXPECT_EQ(stopped, 0);
  EXPECT_LE(took, bound);
  std::printf("[ stop %s: %llu ms, bound %lu ms ]\n", GetParam().name, took, bound);
  // Nothing of the tool is left behind, and whatever the shell still held
  // reaches it once it answers: no strip stays reserved.
  EXPECT_EQ(FindWindowW(L"MantletAppBar", nullptr), nullptr);
  EXPECT_EQ(FindWindowW(L"MantletAuxAppBar", nullptr), nullptr);
  ASSERT_TRUE(shell.SetAnswers(ShellAnswers::Prompt()));
  EXPECT_TRUE(WaitUntil([&] { return shell.AppBars().empty(); }, 10000)) << shell.AppBarLog();
  EXPECT_TRUE(WaitUntil([&] { return shell.State().value_or(ShellState{}).taskbar; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopUnderLoad,
    ::testing::Values(
        // The appbar thread in the middle of its sequence: the stop waits for
        // the taskbar state (shown at stop) and for the removal of each strip,
        // one shell answer each.
        StopCase{"flood_of_indent_lists_while_the_shell_answers_late", HostCalls::kFresh, 250,
                 [](StopUnderLoad& t) { t.Flood(); },
                 [](DWORD late) { return (1 + kMostStrips) * late; }},
        // Then the shell stops answering altogether: the taskbar state and the
        // removals are given up after their bounds.
        StopCase{
            "flood_of_indent_lists_then_a_shell_that_answers_nothing", HostCalls::kFresh, 250,
            [](StopUnderLoad& t) {
              t.Flood();
              ASSERT_TRUE(t.shell.SetAnswers(ShellAnswers::Held()));
              t.Flood();
            },
            [](DWORD) { return mantlet::kTaskbarStateBoundMs + mantlet::kAppBarRemovalBudgetMs; }},
        // The worker inside command 4 (taskbar shown), waiting for a shell
        // that holds the taskbar state, while the host's thread, inside
        // StopTool, owns a window and takes no message. The worker's wait and
        // then the stop's own are each given up after their bound. (The
        // settings broadcast that would reach the host's window on Windows
        // cannot be staged under Wine; every join of the stop answers sent
        // messages for it.)
        StopCase{"worker_in_command_4_while_the_host_thread_owns_a_window", HostCalls::kMain, 250,
                 [](StopUnderLoad& t) {
                   ASSERT_TRUE(t.shell.SetAnswers(ShellAnswers::Held()));
                   const int before = t.HostThreads();
                   ASSERT_TRUE(SendRecord(Record(4, 1)));
                   // The state is asked on a thread of its own, which the shell holds.
                   ASSERT_TRUE(WaitUntil([&] { return t.HostThreads() > before; }, 5000));
                 },
                 [](DWORD) { return 2 * mantlet::kTaskbarStateBoundMs; }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace testsupport
