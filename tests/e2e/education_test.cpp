// Command 16 starts the education application, leaving the integration mode
// and stopping the tool end it; the installation folder comes from the
// registry (the order of its views is the component suite's InstallKey).
#include <gtest/gtest.h>

#include "education_install.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

class Education : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }

  // An unsupported command after the record: its log line tells that the
  // worker has run the record.
  void Run(const Bytes& record) {
    const size_t before = log.Count("Unsupported command");
    ASSERT_TRUE(SendRecords({record, Record(7, 0)}));
    ASSERT_TRUE(log.WaitFor("Unsupported command", 10000, before + 1));
  }

  static bool Started(const EducationInstall& install, size_t count = 1) {
    return WaitUntil([&] { return install.Runs().size() >= count; }, 10000);
  }
};

TEST_F(Education, command_16_starts_the_app_detached_in_its_folder_command_8_0_and_stop_end_it) {
  EducationInstall install(60);
  ASSERT_TRUE(install.ok());
  ScopedInstallLocation location(kView64, install.Folder());

  Run(Record(16, 0));
  ASSERT_TRUE(Started(install));
  const EducationRun run = install.Runs()[0];
  EXPECT_EQ(run.cwd, install.Education());
  EXPECT_FALSE(run.console);
  EXPECT_EQ(run.stdHandles, 0) << "not started detached";
  const auto entry = ProcessEntry(run.pid);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->th32ParentProcessID, host.Pid());

  Run(Record(8, 1));
  EXPECT_TRUE(ProcessAlive(run.pid)) << "entering the integration mode ended it";
  Run(Record(8, 0));
  EXPECT_TRUE(ProcessEnds(run.pid, 10000));

  // A second copy replaces the first as the one tracked; the stop ends only it.
  // Each copy writes its line as it starts: one at a time keeps them in order.
  Run(Record(16, 0));
  ASSERT_TRUE(Started(install, 2));
  Run(Record(16, 0));
  ASSERT_TRUE(Started(install, 3));
  const auto runs = install.Runs();
  EXPECT_EQ(StopTool(), 0);
  EXPECT_TRUE(ProcessEnds(runs[2].pid, 10000));
  EXPECT_TRUE(ProcessAlive(runs[1].pid));
}

TEST_F(Education, missing_install_location_is_logged_and_starts_nothing) {
  EducationInstall install(60);
  ScopedInstallLocation none32(kView32, std::nullopt), none64(kView64, std::nullopt);
  Run(Record(16, 0));
  const auto lines = log.Matching("Can't find tools dir in registry");
  ASSERT_EQ(lines.size(), 1u) << log.Text();
  EXPECT_NE(lines[0].find(" F MANTLETDLL /Mantlet:"), std::string::npos) << lines[0];
  EXPECT_TRUE(install.Runs().empty());
}

TEST_F(Education, install_folder_of_233_characters_launches_and_234_does_not) {
  for (size_t length : {232, 233, 234}) {
    EducationInstall install(length);
    ASSERT_TRUE(install.ok());
    ASSERT_EQ(install.Folder().size(), length);
    ScopedInstallLocation location(kView64, install.Folder());
    Run(Record(16, 0));
    if (length < 234) {
      EXPECT_TRUE(Started(install)) << length;
      continue;
    }
    EXPECT_TRUE(install.Runs().empty());
    // The path itself works: only the length rule kept the tool from it.
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(install.Executable().c_str(), nullptr, nullptr, nullptr, FALSE,
                               DETACHED_PROCESS, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(Started(install));
  }
}

}  // namespace
}  // namespace testsupport
