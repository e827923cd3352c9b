// The tool's announcements and its forwarded log lines as the host stand-in's
// emulated hypervisor receives them.
#include <gtest/gtest.h>

#include <algorithm>

#include "hostcall_record.h"
#include "resources/version.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr uint32_t kProtocol = 8193, kDescription = 8394, kVersion = 8395, kState = 8399,
                   kIdentifier = 8593;

class HostCall : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    record_ = NewHostCallRecordPath();
    ASSERT_EQ(host.Call("hv record " + Utf8(record_)), "hv=ok");
  }
  void TearDown() override {
    ToolTest::TearDown();
    DeleteFileW(record_.c_str());
  }

  std::vector<HostCallEvent> Events() const { return ReadHostCallRecord(record_); }

  std::vector<HostMessageView> Messages(bool logLines) const {
    std::vector<HostMessageView> found;
    for (const HostCallEvent& e : Events()) {
      if (e.kind != HostCallEvent::kMessage)
        continue;
      HostMessageView view = ReadHostMessage(e.bytes);
      if (view.logLine == logLines)
        found.push_back(view);
    }
    return found;
  }
  std::vector<HostMessageView> Announcements() const { return Messages(false); }

  static std::vector<uint32_t> Tags(const HostMessageView& message) {
    std::vector<uint32_t> tags;
    for (const HostField& field : message.fields)
      tags.push_back(field.tag);
    return tags;
  }

  std::wstring record_;
};

TEST_F(HostCall, start_registers_the_tool_once_with_its_identity_and_version) {
  ASSERT_EQ(StartTool(), 0);
  const auto announcements = Announcements();
  ASSERT_EQ(announcements.size(), 1u);
  const HostMessageView& m = announcements[0];
  ASSERT_TRUE(m.valid);
  EXPECT_EQ(m.header, (std::vector<uint32_t>{14, 0, 1, 0, m.header[4], 4096, 0}));
  EXPECT_EQ(Tags(m), (std::vector<uint32_t>{kProtocol, kDescription, kVersion, kIdentifier}));
  for (uint32_t i = 0; i < m.fields.size(); ++i)
    EXPECT_EQ(m.fields[i].index, i);
  EXPECT_EQ(m.Field(kProtocol)->data, std::string("\1\0\0\0\3\0\0\0", 8));
  EXPECT_EQ(m.Field(kDescription)->data, "Guest desktop utilities (user-side tool)");
  EXPECT_EQ(m.Field(kIdentifier)->data, "corvane.MantletUser.guest.win");
  const std::string& version = m.Field(kVersion)->data;
  ASSERT_EQ(version.size(), 40u);
  const uint32_t expected[10] = {MANTLET_VERSION_MAJOR,
                                 MANTLET_VERSION_MINOR,
                                 MANTLET_VERSION_BUILD,
                                 MANTLET_VERSION_REVISION,
                                 1,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0};
  for (size_t i = 0; i < 10; ++i)
    EXPECT_EQ(WordAt(version, 4 * i), expected[i]) << "version word " << i;

  EXPECT_EQ(StartTool(), 0);  // already started: no second announcement
  EXPECT_EQ(Announcements().size(), 1u);
}

TEST_F(HostCall, notify_9_registers_again_also_while_stopped_and_stop_unregisters) {
  EXPECT_EQ(NotifyTool(9), 0);
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(NotifyTool(9), 0);
  EXPECT_EQ(StopTool(), 0);
  EXPECT_EQ(StopTool(), 0);  // stopped already: nothing to announce
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(NotifyTool(6), 0);  // the stop on an inactive session unregisters too

  const auto announcements = Announcements();
  std::vector<std::string> kinds;
  for (const HostMessageView& m : announcements)
    kinds.push_back(m.Field(kVersion) != nullptr ? "register" : "unregister");
  EXPECT_EQ(kinds, (std::vector<std::string>{"register", "register", "register", "unregister",
                                             "register", "unregister"}));
  for (const HostMessageView& m : announcements) {
    if (m.Field(kVersion) != nullptr)
      continue;
    EXPECT_EQ(Tags(m), (std::vector<uint32_t>{kProtocol, kState, kIdentifier}));
    EXPECT_EQ(m.Field(kState)->data, std::string("\2\0\0\0", 4));
    EXPECT_EQ(m.Field(kIdentifier)->data, "corvane.MantletUser.guest.win");
  }
}

TEST_F(HostCall, every_line_of_the_log_file_reaches_the_host_with_the_g_header) {
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(SendRecords({Record(7, 0), Record(11, 0), Record(12, 0)}));
  ASSERT_TRUE(log.WaitFor("Unsupported command", 5000, 3));
  ASSERT_EQ(NotifyTool(6), 0);

  const std::string self = ":" + std::to_string(host.Pid()) + ":";
  std::vector<std::string> inFile;
  for (const std::string& line : log.Lines()) {
    if (line.find("/Mantlet" + self) != std::string::npos)
      inFile.push_back(line + "\n");
  }
  std::vector<std::string> atHost;
  for (const HostMessageView& m : Messages(true))
    atHost.push_back(m.text);
  ASSERT_GE(inFile.size(), 5u);  // start, three commands, stop
  // Threads may interleave differently in the two places; the lines are the same.
  std::sort(inFile.begin(), inFile.end());
  std::sort(atHost.begin(), atHost.end());
  EXPECT_EQ(atHost, inFile);
}

TEST_F(HostCall, host_configurations_change_what_arrives_but_not_the_tool) {
  struct Case {
    const char* what;
    std::vector<std::string> setup;
    bool registrations;  // the announcement arrives whole
    bool logLines;
    bool endsAfterLines;
    uint32_t chunkSize;
  };
  const Case cases[] = {
      {"default", {}, true, true, false, 4096},
      {"transfer size 16", {"hv size 16"}, true, false, false, 16},
      {"transfer size 20", {"hv size 20"}, true, true, false, 20},
      {"protocol version 1", {"hv version 1"}, false, false, false, 0},
      {"transfers refused", {"hv answer -3"}, true, true, false, 4096},
      {"reply pending", {"hv answer 2"}, true, true, true, 4096},
      {"emulation off", {"hv off"}, false, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(host.Call("hv reset"), "hv=ok");
    for (const std::string& line : c.setup)
      ASSERT_EQ(host.Call(line), "hv=ok");
    ASSERT_EQ(host.Call("hv record " + Utf8(record_)), "hv=ok");  // starts it afresh
    const size_t before = log.Count("Unsupported command");

    ASSERT_EQ(StartTool(), 0);
    ASSERT_TRUE(SendRecord(Record(7, 0)));
    EXPECT_TRUE(log.WaitFor("Unsupported command", 5000, before + 1));
    ASSERT_EQ(StopTool(), 0);

    const auto events = Events();
    size_t announcements = 0, lines = 0, ends = 0;
    for (const HostCallEvent& e : events) {
      if (e.kind == HostCallEvent::kEnd) {
        ++ends;
        continue;
      }
      const HostMessageView view = ReadHostMessage(e.bytes);
      EXPECT_TRUE(view.valid);
      EXPECT_FALSE(e.overrun);
      if (view.logLine) {
        ++lines;
      } else {
        ++announcements;
        EXPECT_EQ(e.chunks, (e.bytes.size() + c.chunkSize - 1) / c.chunkSize);
      }
    }
    EXPECT_EQ(announcements, c.registrations ? 2u : 0u);  // registration and unregistration
    EXPECT_EQ(lines > 0, c.logLines);
    // An announcement answered 2 goes on with an empty chunk instead: it
    // offered no room for a reply, and the host announced none.
    EXPECT_EQ(ends, c.endsAfterLines ? lines : 0u);
  }
}

}  // namespace
}  // namespace testsupport
