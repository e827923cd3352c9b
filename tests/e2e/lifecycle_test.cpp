// Start, stop, notifications and configuration through the exported entry
// points of the real module.
#include <gtest/gtest.h>

#include "scoped_registry.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

class Lifecycle : public ToolTest {};

TEST_F(Lifecycle, start_logs_and_a_second_start_only_logs_again) {
  EXPECT_EQ(StartTool(), 0);
  EXPECT_TRUE(MailslotExists());
  EXPECT_TRUE(log.WaitFor("Start desktop utilities tool", 2000));
  const std::string threadsStarted = host.Call("threads");

  EXPECT_EQ(StartTool(), 0);
  EXPECT_TRUE(log.WaitFor("Start desktop utilities tool", 2000, 2));
  EXPECT_EQ(host.Call("threads"), threadsStarted);  // nothing new was created
  const auto startLines = log.Matching("Start desktop utilities tool");
  ASSERT_FALSE(startLines.empty());
  EXPECT_NE(startLines[0].find(" I MANTLETDLL /Mantlet:"), std::string::npos) << startLines[0];
}

TEST_F(Lifecycle, stop_leaves_no_thread_and_no_channel_behind) {
  const std::string before = host.Call("threads");
  ASSERT_EQ(StartTool(), 0);
  EXPECT_NE(host.Call("threads"), before);
  EXPECT_EQ(StopTool(), 0);
  EXPECT_EQ(host.Call("threads"), before);
  EXPECT_FALSE(MailslotExists());
  EXPECT_TRUE(log.WaitFor("Stop desktop utilities tool", 2000));

  // Stopping again is harmless, and the tool starts afresh.
  EXPECT_EQ(StopTool(), 0);
  EXPECT_EQ(StartTool(), 0);
  EXPECT_TRUE(MailslotExists());
}

TEST_F(Lifecycle, session_notifications_stop_and_start_the_tool) {
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(NotifyTool(6), 0);
  EXPECT_FALSE(MailslotExists());
  EXPECT_EQ(log.Count("Stop desktop utilities tool"), 1u);
  // Its own line is a debug line, below the level the module logs at.
  EXPECT_EQ(log.Count("Current session became inactive"), 0u);
  EXPECT_EQ(NotifyTool(5), 0);
  EXPECT_TRUE(MailslotExists());
  EXPECT_EQ(log.Count("Start desktop utilities tool"), 2u);
  // Notification 5 while started: the start returns at once.
  EXPECT_EQ(NotifyTool(5), 0);
  EXPECT_TRUE(MailslotExists());
  // Other codes only pass on to the components.
  EXPECT_EQ(NotifyTool(42), 0);
  EXPECT_TRUE(MailslotExists());
}

TEST_F(Lifecycle, stopped_tool_ignores_other_notifications) {
  EXPECT_EQ(NotifyTool(42), 0);
  EXPECT_EQ(NotifyTool(10), 0);
  EXPECT_FALSE(MailslotExists());
  EXPECT_EQ(log.Count("Start desktop utilities tool"), 0u);
}

TEST_F(Lifecycle, module_loads_once_per_session) {
  HostProcess second;
  const std::string refused = second.Launch();
  EXPECT_EQ(refused.rfind("load=fail", 0), 0u) << refused;
  second.Close();
  // The first copy is unaffected; once it is unloaded the module loads again.
  EXPECT_EQ(StartTool(), 0);
  EXPECT_EQ(StopTool(), 0);
  EXPECT_EQ(host.Call("unload"), "unload=ok");
  HostProcess third;
  EXPECT_EQ(third.Launch(), "load=ok");
  third.Close();
}

TEST_F(Lifecycle, configuration_is_not_read_below_windows_8) {
  host.Call("option 3 1");
  EXPECT_EQ(host.CallForInt("vconfig"), 0);
  EXPECT_EQ(StartTool(), 0);
  EXPECT_EQ(host.Call("optioncalls"), "optioncalls=0");
}

class LifecycleWindows8 : public ToolTest {
 protected:
  HostOptions HostOptionsForTest() override { return {}; }
  void SetUp() override {}  // the version must be set before the host starts
  void Launch(const wchar_t* executable) {
    ASSERT_TRUE(device.Open());
    device.Reset();
    log.Mark();
    HostOptions options;
    options.executable = executable;
    ASSERT_EQ(host.Launch(options), "load=ok");
  }
};

TEST_F(LifecycleWindows8, missing_option_getter_makes_vconfig_fail) {
  ScopedWineVersion win8(L"mantlet_host_noopt.exe", L"win8");
  Launch(L"mantlet_host_noopt.exe");
  EXPECT_EQ(host.CallForInt("vconfig"), 1);
  EXPECT_EQ(host.CallForInt("vconfig"), 1);
  // StartTool goes on without the host's configuration.
  EXPECT_EQ(StartTool(), 0);
  EXPECT_TRUE(MailslotExists());
}

TEST_F(LifecycleWindows8, option_is_read_on_every_configuration_change) {
  ScopedWineVersion win8(L"mantlet_host.exe", L"win8");
  Launch(L"mantlet_host.exe");
  EXPECT_EQ(host.CallForInt("vconfig"), 1);  // option 3 not set: nothing read
  host.Call("option 3 7");
  EXPECT_EQ(host.CallForInt("vconfig"), 0);
  EXPECT_EQ(host.CallForInt("vconfig"), 0);  // unchanged value: nothing more to do
  EXPECT_EQ(host.Call("optioncalls"), "optioncalls=3");
  EXPECT_EQ(StartTool(), 0);  // reads it once more
  EXPECT_EQ(host.Call("optioncalls"), "optioncalls=4");
}

}  // namespace
}  // namespace testsupport
