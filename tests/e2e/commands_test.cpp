// A flood of command records through the real mailslot and event (the other
// cases are tests/scenarios/commands.scenario).
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
