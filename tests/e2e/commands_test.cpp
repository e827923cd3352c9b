// Command records through the real mailslot and event.
#include <gtest/gtest.h>

#include <random>

#include "tool_fixture.h"

namespace testsupport {
namespace {

class Commands : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }
};

TEST_F(Commands, unsupported_commands_log_at_information_level) {
  ASSERT_TRUE(SendRecords({Record(7, 0), Record(11, 0), Record(12, 0)}));
  ASSERT_TRUE(log.WaitFor("Unsupported command", 3000, 3));
  const auto lines = log.Matching("Unsupported command");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(LogMessage(lines[0]), "Unsupported command 'RelocateTaskBarCommand'");
  EXPECT_EQ(LogMessage(lines[1]), "Unsupported command 'AdjustWorkingAreaCommand'");
  EXPECT_EQ(LogMessage(lines[2]), "Unsupported command 'ShowMacMenuAppBarCommand'");
  EXPECT_NE(lines[0].find(" I MANTLETDLL /Mantlet:"), std::string::npos);
}

TEST_F(Commands, malformed_records_are_dropped_without_a_word) {
  Bytes short43 = Record(7, 0);
  short43.resize(43);
  ASSERT_TRUE(SendRecords({short43, Record(0, 0), Record(13, 0), Record(19, 0), Record(-7, 0),
                           Record(7, 0, {}, false), Bytes{}, Record(12, 5)}));
  // The last record proves the worker read past the bad ones.
  ASSERT_TRUE(log.WaitFor("ShowMacMenuAppBarCommand", 3000));
  const auto lines = log.Lines();
  size_t fromWorker = 0;
  for (const std::string& line : lines) {
    if (line.find("MANTLETDLL") != std::string::npos &&
        line.find("Start desktop utilities tool") == std::string::npos) {
      ++fromWorker;
    }
  }
  EXPECT_EQ(fromWorker, 1u) << log.Text();
}

TEST_F(Commands, several_records_run_on_one_signal) {
  ASSERT_TRUE(SendRecords({Record(7, 0), Record(7, 0), Record(7, 0), Record(7, 0)}, false));
  Sleep(300);
  EXPECT_EQ(log.Count("Unsupported command"), 0u);  // nothing happens before the signal
  ASSERT_TRUE(SignalCommandEvent());
  EXPECT_TRUE(log.WaitFor("Unsupported command", 3000, 4));
  Sleep(200);
  EXPECT_EQ(log.Count("Unsupported command"), 4u);
}

TEST_F(Commands, stopped_tool_has_no_mailslot_and_a_restart_reads_again) {
  ASSERT_EQ(StopTool(), 0);
  EXPECT_FALSE(SendRecord(Record(7, 0)));
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(SendRecord(Record(11, 0)));
  EXPECT_TRUE(log.WaitFor("AdjustWorkingAreaCommand", 3000));
}

// A flood of valid and invalid records: every valid one runs once, in order,
// and the worker survives every kind of garbage.
TEST_F(Commands, flood_of_random_records_keeps_order_and_loses_nothing) {
  std::mt19937 random(20261205);
  const char* const names[] = {"RelocateTaskBarCommand", "AdjustWorkingAreaCommand",
                               "ShowMacMenuAppBarCommand"};
  const int32_t logged[] = {7, 11, 12};
  std::vector<std::string> expected;
  std::vector<Bytes> batch;
  const int total = 10000;
  for (int i = 0; i < total; ++i) {
    Bytes record;
    switch (random() % 6) {
      case 0:
      case 1: {
        const int pick = static_cast<int>(random() % 3);
        Bytes garbage(random() % 64);
        for (auto& b : garbage)
          b = static_cast<uint8_t>(random());
        record = Record(logged[pick], static_cast<uint32_t>(random()), garbage);
        expected.push_back(names[pick]);
        break;
      }
      case 2: {  // too short
        record = Record(7, 0);
        record.resize(random() % 44);
        break;
      }
      case 3:  // out of range
        record = Record(static_cast<int32_t>(19 + random() % 1000) * (random() % 2 ? 1 : -1), 0);
        break;
      case 4:  // the silent number, with a long random payload
        record = Record(13, static_cast<uint32_t>(random()), Bytes(random() % 400, 0xAB));
        break;
      default: {  // random bytes of random length
        record.resize(random() % 120);
        for (auto& b : record)
          b = static_cast<uint8_t>(random());
        if (record.size() >= 4)
          record[0] = 0x40;  // never a valid number
        break;
      }
    }
    batch.push_back(record);
    if (batch.size() == 250) {
      ASSERT_TRUE(SendRecords(batch));
      batch.clear();
    }
  }
  ASSERT_TRUE(SendRecords(batch));
  ASSERT_TRUE(log.WaitFor("Unsupported command", 60000, expected.size()))
      << log.Count("Unsupported command") << " of " << expected.size();
  Sleep(300);
  const auto lines = log.Matching("Unsupported command");
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(LogMessage(lines[i]), std::string("Unsupported command '") + expected[i] + "'")
        << "record " << i;
  }
  EXPECT_TRUE(host.Running());
}

}  // namespace
}  // namespace testsupport
