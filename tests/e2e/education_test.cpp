// Command 16 starts the education application, leaving the integration mode
// and stopping the tool end it; the installation folder comes from the
// registry, the 32-bit view first.
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

  // Each record followed by an unsupported command, whose log line tells
  // that the worker has run everything before it.
  void Run(std::vector<Bytes> records) {
    records.push_back(Record(7, 0));
    const size_t before = log.Count("Unsupported command");
    ASSERT_TRUE(SendRecords(records));
    ASSERT_TRUE(log.WaitFor("Unsupported command", 10000, before + 1));
  }

  static bool WaitForRuns(const EducationInstall& install, size_t count) {
    return WaitUntil([&] { return install.Runs().size() >= count; }, 10000);
  }
};

TEST_F(Education, command_16_starts_the_app_detached_in_its_folder_and_command_8_ends_it) {
  EducationInstall install(60);
  ASSERT_TRUE(install.ok());
  ScopedInstallLocation location(kView32, install.Folder());

  Run({Record(16, 0)});
  ASSERT_TRUE(WaitForRuns(install, 1));
  const EducationRun run = install.Runs()[0];
  EXPECT_TRUE(ProcessAlive(run.pid));
  EXPECT_EQ(run.cwd, install.Education());
  EXPECT_FALSE(run.console);
  EXPECT_EQ(run.stdHandles, 0) << "not started detached";
  const auto entry = ProcessEntry(run.pid);
  ASSERT_TRUE(entry.has_value());
  EXPECT_STREQ(entry->szExeFile, L"GlimmerEdu.exe");
  EXPECT_EQ(entry->th32ParentProcessID, host.Pid());

  Run({Record(8, 1)});
  EXPECT_TRUE(ProcessAlive(run.pid)) << "entering the integration mode ended it";
  Run({Record(8, 0)});
  EXPECT_TRUE(ProcessEnds(run.pid, 10000));
}

TEST_F(Education, stop_ends_the_newest_copy_which_alone_is_tracked) {
  EducationInstall install(60);
  ASSERT_TRUE(install.ok());
  ScopedInstallLocation location(kView32, install.Folder());

  Run({Record(16, 0)});
  ASSERT_TRUE(WaitForRuns(install, 1));
  Run({Record(16, 0)});
  ASSERT_TRUE(WaitForRuns(install, 2));
  const auto runs = install.Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_NE(runs[0].pid, runs[1].pid);

  EXPECT_EQ(StopTool(), 0);
  EXPECT_TRUE(ProcessEnds(runs[1].pid, 10000));
  EXPECT_TRUE(ProcessAlive(runs[0].pid));  // forgotten when the second started
}

TEST_F(Education, missing_install_location_is_logged_and_starts_nothing) {
  EducationInstall install(60);
  ScopedInstallLocation none32(kView32, std::nullopt);
  ScopedInstallLocation none64(kView64, std::nullopt);

  Run({Record(16, 0)});
  const auto lines = log.Matching("Can't find tools dir in registry");
  ASSERT_EQ(lines.size(), 1u) << log.Text();
  EXPECT_NE(lines[0].find(" F MANTLETDLL /Mantlet:"), std::string::npos) << lines[0];
  EXPECT_TRUE(install.Runs().empty());
}

TEST_F(Education, install_folder_below_232_characters_launches_and_234_does_not) {
  struct Case {
    size_t length;
    bool launches;
  };
  for (const Case c : {Case{232, true}, Case{233, true}, Case{234, false}}) {
    EducationInstall install(c.length);
    ASSERT_TRUE(install.ok()) << c.length;
    ASSERT_EQ(install.Folder().size(), c.length);
    ScopedInstallLocation location(kView32, install.Folder());
    Run({Record(16, 0)});
    if (c.launches) {
      EXPECT_TRUE(WaitForRuns(install, 1)) << c.length;
      continue;
    }
    Sleep(300);
    EXPECT_TRUE(install.Runs().empty()) << c.length;
    EXPECT_EQ(log.Count("Can't find tools dir"), 0u);
    // The path itself is usable: only the length rule kept the tool from it.
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(install.Executable().c_str(), nullptr, nullptr, nullptr, FALSE,
                               DETACHED_PROCESS, nullptr, install.Education().c_str(), &startup,
                               &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(WaitForRuns(install, 1));
  }
}

TEST_F(Education, the_32_bit_registry_view_is_read_before_the_64_bit_view) {
  EducationInstall first(50), second(50);
  struct Case {
    const char* what;
    const EducationInstall* in32;
    const EducationInstall* in64;
    const EducationInstall* started;
  };
  const Case cases[] = {
      {"32-bit view only", &first, nullptr, &first},
      {"64-bit view only", nullptr, &second, &second},
      {"both", &first, &second, &first},
  };
  for (const Case& c : cases) {
    auto value = [](const EducationInstall* install) {
      return install != nullptr ? std::optional<std::wstring>(install->Folder()) : std::nullopt;
    };
    ScopedInstallLocation view32(kView32, value(c.in32));
    ScopedInstallLocation view64(kView64, value(c.in64));
    const size_t before = c.started->Runs().size();
    Run({Record(16, 0)});
    EXPECT_TRUE(WaitForRuns(*c.started, before + 1)) << c.what;
    Run({Record(8, 0)});  // ends it before the next case
  }
  EXPECT_EQ(first.Runs().size(), 2u);
  EXPECT_EQ(second.Runs().size(), 1u);
}

}  // namespace
}  // namespace testsupport
