// The module loads once per session: this needs two host processes at once,
// which the scenarios (tests/scenarios/lifecycle.scenario) do not have.
#include <gtest/gtest.h>

#include "tool_fixture.h"

namespace testsupport {
namespace {

class Lifecycle : public ToolTest {};

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

}  // namespace
}  // namespace testsupport
