// The appbar component linked in: the command decoder and the component's
// working thread for lists longer than Wine's mailslot carries, the failed
// start that the lifecycle keeps, and a shell that does not answer.
#include <gtest/gtest.h>

#include <windows.h>

#include "tool/commands.h"
#include "tool/lifecycle.h"
#include "log_tail.h"
#include "shell_control.h"
#include "taskbar/appbar_message.h"
#include "taskbar/relocate_taskbar.h"
#include "tool_channel.h"
#include "unanswering_shell.h"
#include "wait_until.h"

namespace mantlet {
namespace {

using testenv::LogTail;
using testenv::WaitUntil;
using testsupport::TimedCall;
using testsupport::UnansweringAppBarService;

// The hand-overs the working thread gets: its auxiliary window, subclassed.
std::atomic<int> g_handOvers{0};
WNDPROC g_auxProc = nullptr;
LRESULT CALLBACK CountHandOvers(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER)
    ++g_handOvers;
  return CallWindowProcW(g_auxProc, window, message, wParam, lParam);
}

TEST(RelocateTaskbarComponent, ten_thousand_entries_through_the_decoder_reach_the_strip_asked) {
  testenv::ShellStandIn shell;
  ASSERT_TRUE(shell.Launch());
  auto component = std::make_unique<RelocateTaskbar>();
  ASSERT_TRUE(component->Start());
  g_components.relocate.Set(std::move(component));

  std::vector<std::vector<int32_t>> entries(10000, {0, 0, -1, -1, -1, -1});
  entries[9999] = {1919, 1079, -1, -1, -1, 25};
  const testenv::Bytes payload = testenv::IndentsPayload(entries);
  const testenv::Bytes record = testenv::Record(17, static_cast<uint32_t>(payload.size()), payload);
  RunCommandRecord(std::span<const uint8_t>(record.data(), record.size()));

  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto bars = shell.AppBars();
        return bars.size() == 1 && bars[0].placed;
      },
      60000, 100));
  const RECT r = shell.AppBars()[0].rect;
  EXPECT_EQ(testenv::RectText(r), "0,1055,1920,1080");

  if (auto taken = g_components.relocate.Take())
    taken->Stop();
}

TEST(RelocateTaskbarComponent, failed_start_keeps_a_usable_object_and_stop_ends_the_thread) {
  LogTail log;
  // The working thread cannot register its window class when it exists.
  WNDCLASSEXW taken = {};
  taken.cbSize = sizeof(taken);
  taken.lpfnWndProc = &DefWindowProcW;
  taken.hInstance = GetModuleHandleW(nullptr);
  taken.lpszClassName = L"MantletAuxAppBar";
  ASSERT_NE(RegisterClassExW(&taken), 0);

  RelocateTaskbar component;
  EXPECT_FALSE(component.Start());
  EXPECT_EQ(log.Count("Can't register aux window class, err = 1410"), 1u) << log.Text();
  EXPECT_EQ(log.Count("Working thread stopped immediately after start"), 1u);
  const IndentEntry entry{0, 0, -1, 30, -1, -1};
  component.SetIndents(&entry, 1);
  EXPECT_EQ(log.Count("Unable to post message to working thread. m_auxWnd is NULL"), 1u);
  component.Stop();
  EXPECT_EQ(log.Count("thread forcibly terminated"), 1u);
  UnregisterClassW(L"MantletAuxAppBar", GetModuleHandleW(nullptr));

  RelocateTaskbar never;
  never.SetIndents(&entry, 1);
  EXPECT_EQ(log.Count("Unable to set indents: there is no working thread"), 1u);
  never.Stop();
  EXPECT_EQ(log.Count("thread forcibly terminated"), 1u);
}

// While the shell holds an appbar message the working thread still answers
// what is sent to it, takes a flood of lists in one hand-over and goes on
// with the newest; its stop waits for a shell that holds the removals only
// as long as their budget.
TEST(RelocateTaskbarComponent,
     shell_that_holds_its_messages_holds_neither_the_thread_nor_the_stop) {
  LogTail log;
  auto shell = std::make_unique<UnansweringAppBarService>();
  RelocateTaskbar component;
  ASSERT_TRUE(component.Start());
  HWND aux = FindWindowW(L"MantletAuxAppBar", nullptr);
  ASSERT_NE(aux, nullptr);
  g_auxProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(aux, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountHandOvers)));

  const IndentEntry first{0, 0, -1, 30, -1, -1};
  component.SetIndents(&first, 1);
  ASSERT_TRUE(WaitUntil([&] { return shell->received() == 1; }, 5000));  // ABM_NEW, held
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(aux, WM_NULL, 0, 0, SMTO_BLOCK, 2000, &answer), 0);
  g_handOvers = 0;
  constexpr int kLists = 5000;
  for (int i = 1; i <= kLists; ++i) {
    const IndentEntry entry{i, 0, -1, -1, -1, i == kLists ? 25 : -1};
    component.SetIndents(&entry, 1);
  }
  shell->Release();
  EXPECT_TRUE(log.WaitFor(" displayX=5000; displayY=0 [-1;-1;-1;25]", 10000)) << log.Text();
  EXPECT_EQ(g_handOvers.load(), 1);
  // Both strips made (new, state, place each) before another shell holds
  // what comes next.
  ASSERT_TRUE(WaitUntil([&] { return shell->received() == 6; }, 5000)) << shell->received();

  shell = std::make_unique<UnansweringAppBarService>();
  bool stopped = false;
  const auto took =
      TimedCall([&] { stopped = component.Stop(); }, 20000, [&] { shell->Release(); });
  ASSERT_TRUE(took) << "the stop waited for the shell";
  EXPECT_TRUE(stopped);
  EXPECT_LT(*took, kAppBarRemovalBudgetMs + 1500);
  EXPECT_EQ(shell->received(), 1);  // the first removal, held; the others behind it
  EXPECT_EQ(FindWindowW(L"MantletAppBar", nullptr), nullptr);
  EXPECT_EQ(FindWindowW(L"MantletAuxAppBar", nullptr), nullptr);
}

}  // namespace
}  // namespace mantlet
