// The two watchers that report to the tools device, linked in: a device
// that answers nothing holds neither a report nor the stop behind it.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>

#include "core/device_request.h"
#include "interaction/keyboard_layout.h"
#include "scoped_registry.h"
#include "shell_control.h"
#include "taskbar/show_hide_taskbar.h"
#include "toolsdev_client.h"
#include "unanswering_shell.h"
#include "wait_until.h"

namespace mantlet {
namespace {

constexpr DWORD kStopWithinMs = 1500;
constexpr int32_t kPending = 0x103;  // what the device shows for a request it holds
const std::wstring kToggle = L"Keyboard Layout\\Toggle";

using Stop = std::function<bool()>;

struct WatcherCase {
  const char* name;
  uint32_t report;
  // Starts the component and hangs the device so that the watcher's next
  // report is held; returns the component's Stop.
  Stop (*startAndHang)(testenv::ToolsDevControl& device);
  // Gives the watcher something to report, again each time it is called.
  void (*provoke)();
};

class WatcherStop : public ::testing::TestWithParam<WatcherCase> {};

TEST_P(WatcherStop, report_to_a_hung_device_is_given_up_at_the_stop) {
  testenv::ToolsDevControl device;
  ASSERT_TRUE(device.Open());
  ASSERT_TRUE(device.Reset());
  testenv::ShellStandIn shell;  // what the taskbar watcher probes
  ASSERT_TRUE(shell.Launch(std::nullopt, testenv::ShellAnswers::Prompt()));
  testsupport::ScopedKeyReset toggle(HKEY_CURRENT_USER, kToggle);
  const Stop stop = GetParam().startAndHang(device);
  const auto held = [&] {
    for (const testenv::DevRecord& r : device.Records(0, GetParam().report)) {
      if (r.irpStatus == kPending)
        return true;
    }
    return false;
  };
  EXPECT_TRUE(testenv::WaitUntil(
      [&] {
        GetParam().provoke();
        return testenv::WaitUntil(held, 500);
      },
      10000))
      << "the watcher sent no report";
  bool stopped = false;
  const auto took =
      testsupport::TimedCall([&] { stopped = stop(); }, 20000, [&] { device.EndHang(); });
  device.EndHang();
  device.Reset();
  ASSERT_TRUE(took) << "the stop waited for the device";
  EXPECT_TRUE(stopped);
  EXPECT_LT(*took, kStopWithinMs);
}

INSTANTIATE_TEST_SUITE_P(Watchers, WatcherStop,
                         ::testing::Values(
                             // The first pass reports at once.
                             WatcherCase{"taskbar_state", kTaskbarStateReport,
                                         [](testenv::ToolsDevControl& device) {
                                           EXPECT_TRUE(device.Hang());
                                           auto c = std::make_shared<ShowHideTaskBarAndDesktop>();
                                           EXPECT_TRUE(c->Start());
                                           return Stop([c] { return c->Stop(); });
                                         },
                                         [] {}},
                             // The start reports while the device answers; a hotkey written under
                             // the watched key afterwards makes the watcher report. (It arms itself
                             // on its own thread and misses a write made before: each try writes a
                             // new value.)
                             WatcherCase{"keyboard_hotkeys", kKeyboardHotkeysReport,
                                         [](testenv::ToolsDevControl& device) {
                                           auto c = std::make_shared<CKeyboardLayout>();
                                           EXPECT_TRUE(c->Start());
                                           EXPECT_TRUE(device.Hang());
                                           return Stop([c] { return c->Stop(); });
                                         },
                                         [] {
                                           static int layout = 2;
                                           testsupport::SetString(HKEY_CURRENT_USER, kToggle,
                                                                  L"Layout Hotkey",
                                                                  std::to_wstring(++layout));
                                         }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mantlet
