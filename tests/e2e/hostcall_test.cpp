// The tool's announcements and its forwarded log lines as the host stand-in's
// emulated hypervisor receives them.
#include <gtest/gtest.h>

#include <algorithm>

#include "hostcall_record.h"
#include "resources/version.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr uint32_t kDescription = 8394, kVersion = 8395, kState = 8399, kIdentifier = 8593;

class HostCall : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    RecordAfresh();
  }
  void TearDown() override {
    ToolTest::TearDown();
    DeleteFileW(record_.c_str());
  }
  void RecordAfresh() { ASSERT_EQ(host.Call("hv record " + Utf8(record_)), "hv=ok"); }

  std::vector<HostMessageView> Messages(bool logLines) const {
    std::vector<HostMessageView> found;
    for (const HostCallEvent& e : ReadHostCallRecord(record_)) {
      HostMessageView view = ReadHostMessage(e.bytes);
      if (e.kind == HostCallEvent::kMessage && view.logLine == logLines)
        found.push_back(view);
    }
    return found;
  }

  const std::wstring record_ = NewHostCallRecordPath();
};

TEST_F(HostCall, registration_at_start_and_on_notify_9_unregistration_at_each_stop) {
  EXPECT_EQ(NotifyTool(9), 0);  // also while stopped
  ASSERT_EQ(StartTool(), 0);
  ASSERT_EQ(StartTool(), 0);  // already started: not announced again
  EXPECT_EQ(NotifyTool(9), 0);
  EXPECT_EQ(StopTool(), 0);
  EXPECT_EQ(StopTool(), 0);  // already stopped: nothing to announce
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(NotifyTool(6), 0);  // the stop on an inactive session

  // The layout is the unit tests'; here, when each goes and what the module says of itself.
  std::string kinds;
  for (const HostMessageView& m : Messages(false)) {
    ASSERT_TRUE(m.valid);
    EXPECT_EQ(m.Field(kIdentifier)->data, "corvane.MantletUser.guest.win");
    if (m.Field(kState) != nullptr) {
      kinds += "U";
      continue;
    }
    kinds += "R";
    EXPECT_EQ(m.Field(kDescription)->data, "Guest desktop utilities (user-side tool)");
    const std::string& version = m.Field(kVersion)->data;
    ASSERT_EQ(version.size(), 40u);
    const uint32_t expected[4] = {MANTLET_VERSION_MAJOR, MANTLET_VERSION_MINOR,
                                  MANTLET_VERSION_BUILD, MANTLET_VERSION_REVISION};
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(WordAt(version, 4 * i), expected[i]) << "version word " << i;
  }
  EXPECT_EQ(kinds, "RRRURU");
}

TEST_F(HostCall, every_line_of_the_log_file_reaches_the_host_with_the_g_header) {
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(SendRecords({Record(7, 0), Record(11, 0), Record(12, 0)}));
  ASSERT_TRUE(log.WaitFor("Unsupported command", 5000, 3));
  ASSERT_EQ(NotifyTool(6), 0);

  std::vector<std::string> inFile, atHost;
  for (const std::string& line : log.Lines()) {
    if (line.find("/Mantlet:" + std::to_string(host.Pid()) + ":") != std::string::npos)
      inFile.push_back(line + "\n");
  }
  for (const HostMessageView& m : Messages(true))
    atHost.push_back(m.text);
  ASSERT_GE(inFile.size(), 5u);  // start, three commands, stop
  // Threads may interleave differently in the two places; the lines are the same.
  std::sort(inFile.begin(), inFile.end());
  std::sort(atHost.begin(), atHost.end());
  EXPECT_EQ(atHost, inFile);
}

TEST_F(HostCall, hosts_transfer_size_sets_the_chunks_and_no_hypervisor_leaves_the_tool_serving) {
  struct Case {
    const char* setup;
    bool sends;  // announcements and log lines
    uint32_t chunkSize;
  };
  // What each answer of the host does to one transfer is the unit tests'
  // table; here the host's own transfer size reaches the chunks, and a guest
  // with no hypervisor still runs.
  const Case cases[] = {
      // clang-format off
      {"hv size 20", true,  20},
      {"hv off",     false, 0},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    ASSERT_EQ(host.Call("hv reset"), "hv=ok");
    ASSERT_EQ(host.Call(c.setup), "hv=ok");
    RecordAfresh();
    ASSERT_EQ(StartTool(), 0);
    WorkerCaughtUp();
    ASSERT_EQ(StopTool(), 0);

    size_t announcements = 0, lines = 0, ends = 0;
    for (const HostCallEvent& e : ReadHostCallRecord(record_)) {
      const HostMessageView view = ReadHostMessage(e.bytes);
      if (e.kind == HostCallEvent::kEnd) {
        ++ends;
      } else if (view.logLine) {
        ++lines;
      } else {
        ++announcements;
        EXPECT_TRUE(view.valid);
        EXPECT_EQ(e.chunks, (e.bytes.size() + c.chunkSize - 1) / c.chunkSize);
      }
    }
    EXPECT_EQ(announcements, c.sends ? 2u : 0u);
    EXPECT_EQ(lines > 0, c.sends);
    EXPECT_EQ(ends, 0u);
  }
}

}  // namespace
}  // namespace testsupport
