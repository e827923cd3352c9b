// Base for end-to-end tests: a fresh device stand-in state, a log mark and a
// host stand-in with the real module loaded; the tool is stopped and the host
// closed at the end whatever the test did.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host_process.h"
#include "log_tail.h"
#include "scoped_registry.h"
#include "tool_channel.h"
#include "toolsdev_client.h"
#include "wait_until.h"

namespace testsupport {

using namespace testenv;

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device.Open()) << "tools device stand-in is not running";
    ASSERT_TRUE(device.Reset());
    log.Mark();
    ASSERT_EQ(host.Launch(HostOptionsForTest()), "load=ok");
  }

  void TearDown() override {
    if (host.Running()) {
      // A stop always ends, whatever the test left the tool doing.
      const std::string stopped = host.Call("stop");
      EXPECT_TRUE(stopped == "StopTool=0" || stopped == "StopTool=unloaded")
          << "the tool's stop did not end: '" << stopped << "'";
      host.Close();
    }
    device.Reset();
  }

  virtual HostOptions HostOptionsForTest() { return {}; }

  int StartTool() { return host.CallForInt("start"); }
  int StopTool() { return host.CallForInt("stop"); }
  int NotifyTool(unsigned code) { return host.CallForInt("notify " + std::to_string(code)); }

  // The worker runs commands one at a time: once a command that only logs its
  // refusal is logged, every command sent before it is done. A taskbar
  // command waits for the shell to take its messages, and a late shell takes
  // a few hundred ms for each.
  void WorkerCaughtUp() {
    const size_t before = log.Count(kWorkerSync);
    ASSERT_TRUE(SendRecord(Record(7, 0)));
    ASSERT_TRUE(log.WaitFor(kWorkerSync, 30000, before + 1));
  }
  static constexpr char kWorkerSync[] = "Unsupported command 'RelocateTaskBarCommand'";

  testenv::ToolsDevControl device;
  LogTail log;
  HostProcess host;
};

// The tool's own key under HKEY_CURRENT_USER, where it keeps what it saves.
inline const std::wstring kToolSettingsKey = L"SOFTWARE\\Corvane\\Corvane Tools\\GuestUtilities";

// A tool test that starts and ends without one of the tool's own values, so
// that nothing a previous test saved is taken for the user's.
class ToolTestWithoutSetting : public ToolTest {
 protected:
  explicit ToolTestWithoutSetting(const wchar_t* name) : setting_(name) {}

  void SetUp() override {
    DeleteValue(HKEY_CURRENT_USER, kToolSettingsKey, setting_);
    ToolTest::SetUp();
  }

  void TearDown() override {
    ToolTest::TearDown();
    DeleteValue(HKEY_CURRENT_USER, kToolSettingsKey, setting_);
  }

 private:
  const wchar_t* setting_;
};

}  // namespace testsupport
