// The education launcher linked in: ending an application that already
// exited, seen at the debug level the module itself never logs at.
#include <gtest/gtest.h>

#include <windows.h>

#include "tool/education.h"
#include "core/log.h"
#include "education_install.h"
#include "log_tail.h"
#include "wait_until.h"

namespace mantlet {
namespace {

using namespace testenv;

TEST(EducationLauncher, app_that_already_exited_is_reported_once_and_forgotten) {
  EducationInstall install(60);
  ASSERT_TRUE(install.ok());
  ScopedInstallLocation location(kView64, install.Folder());
  ScopedInstallLocation none32(kView32, std::nullopt);
  const long level = g_logLevel;
  g_logLevel = kLogDebug;
  LogTail log;

  LaunchEducationApp();
  ASSERT_TRUE(WaitUntil([&] { return install.Runs().size() == 1; }, 10000));
  const DWORD pid = install.Runs()[0].pid;
  EndProcess(pid);  // as far as the launcher knows, it exited by itself
  // Wine lets an ended process be opened for about half a second more.
  EXPECT_TRUE(WaitUntil([&] { return !ProcessOpens(pid); }, 10000));

  EndEducationApp();
  EndEducationApp();  // the id was not kept: nothing more to reach for
  g_logLevel = level;
  const auto lines = log.Matching("GlimmerEdu process");
  ASSERT_EQ(lines.size(), 1u) << log.Text();
  EXPECT_EQ(LogMessage(lines[0]),
            "Can't open GlimmerEdu process (pid=" + std::to_string(pid) + ")");
  EXPECT_NE(lines[0].find(" D MANTLETDLL /Mantlet:"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace mantlet
