// The installation folder's length limit of command 16 (the rest is
// tests/scenarios/education.scenario): folders of exact lengths, and a launch
// by the test itself to show the path works and only the rule stops the tool.
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
