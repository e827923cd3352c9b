// The education launcher linked in: ending an application that already
// exited, seen at the debug level the module itself never logs at.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/education.h"
#include "core/log.h"
#include "education_install.h"
#include "log_tail.h"
#include "wait_until.h"

namespace mantlet {
namespace {

using namespace testsupport;

class ScopedLogLevel {
 public:
  explicit ScopedLogLevel(long level) : saved_(g_logLevel) { g_logLevel = level; }
  ~ScopedLogLevel() { g_logLevel = saved_; }

 private:
  long saved_;
};

TEST(EducationLauncher, app_that_already_exited_is_reported_once_and_forgotten) {
  EducationInstall install(60);
  ASSERT_TRUE(install.ok());
  ScopedInstallLocation location(kView32, install.Folder());
  ScopedLogLevel debug(kLogDebug);
  testenv::LogTail log;

  LaunchEducationApp();
  ASSERT_TRUE(testenv::WaitUntil([&] { return install.Runs().size() == 1; }, 10000));
  const DWORD pid = install.Runs()[0].pid;
  EndProcess(pid);  // exits by itself, as far as the launcher knows
  // Wine lets an ended process be opened for about half a second more.
  ASSERT_TRUE(testenv::WaitUntil(
      [&] {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
        if (process != nullptr)
          CloseHandle(process);
        return process == nullptr;
      },
      10000));

  EndEducationApp();
  const std::string expected = "Can't open GlimmerEdu process (pid=" + std::to_string(pid) + ")";
  const auto lines = log.Matching(expected);
  ASSERT_EQ(lines.size(), 1u) << log.Text();
  EXPECT_NE(lines[0].find(" D MANTLETDLL /Mantlet:"), std::string::npos) << lines[0];

  // The id is not kept: a later end has nothing to reach for.
  EndEducationApp();
  EXPECT_EQ(log.Count("GlimmerEdu process"), 1u);
}

TEST(EducationLauncher, ending_a_running_app_logs_nothing_at_any_level) {
  EducationInstall install(60);
  ASSERT_TRUE(install.ok());
  ScopedInstallLocation location(kView64, install.Folder());
  ScopedInstallLocation none32(kView32, std::nullopt);
  ScopedLogLevel trace(kLogTrace);
  testenv::LogTail log;

  LaunchEducationApp();
  ASSERT_TRUE(testenv::WaitUntil([&] { return install.Runs().size() == 1; }, 10000));
  EndEducationApp();
  EXPECT_TRUE(ProcessEnds(install.Runs()[0].pid, 10000));
  EndEducationApp();  // nothing tracked any more
  EXPECT_EQ(log.Count("GlimmerEdu"), 0u) << log.Text();
}

TEST(EducationLauncher, path_length_rule) {
  // folder + "\Education\GlimmerEdu.exe" and the terminator within 260 units
  EXPECT_TRUE(EducationPathFits(0));
  EXPECT_TRUE(EducationPathFits(233));
  EXPECT_FALSE(EducationPathFits(234));
  EXPECT_FALSE(EducationPathFits(259));
}

}  // namespace
}  // namespace mantlet
