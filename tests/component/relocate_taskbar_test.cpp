// The appbar component linked in: the command decoder and the component's
// working thread for lists longer than Wine's mailslot carries, and the
// failed start that the lifecycle keeps.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/commands.h"
#include "core/lifecycle.h"
#include "log_tail.h"
#include "shell_control.h"
#include "taskbar/relocate_taskbar.h"
#include "tool_channel.h"
#include "wait_until.h"

namespace mantlet {
namespace {

using testenv::LogTail;
using testenv::WaitUntil;

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
  EXPECT_EQ(log.Count("Can't register aux window class. err=1410"), 1u) << log.Text();
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

}  // namespace
}  // namespace mantlet
