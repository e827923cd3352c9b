// Command 15 end to end: the refresh window comes and goes under the cursor
// without moving it, however often the host asks. (Its shape and the cursor
// flip are checked on the component, where the test owns the window's thread.)
#include <gtest/gtest.h>

#include "tool_fixture.h"

namespace testsupport {
namespace {

struct CursorCase {
  int x, y;
  size_t updates;
};

class CursorUpdates : public ToolTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(CursorUpdates, leave_the_cursor_where_it_is_and_no_window_behind) {
  const CursorCase c = GetParam();
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(SetCursorPos(c.x, c.y));
  ASSERT_TRUE(SendRecords(std::vector<Bytes>(c.updates, Record(15, 0))));
  ASSERT_TRUE(SendRecord(Record(7, 0)));  // runs after every update
  ASSERT_TRUE(log.WaitFor("Unsupported command", 10000));
  EXPECT_TRUE(WaitUntil([] { return FindWindowW(L"MouseSyncAux", nullptr) == nullptr; }, 3000));
  POINT at = {};
  GetCursorPos(&at);
  EXPECT_EQ(at.x, c.x);
  EXPECT_EQ(at.y, c.y);
  EXPECT_EQ(
      log.Count("Can't get guest cursor position") + log.Count("Can't create auxilarity window"),
      0u)
      << log.Text();
}

INSTANTIATE_TEST_SUITE_P(Cursor, CursorUpdates,
                         ::testing::Values(CursorCase{300, 200, 1}, CursorCase{0, 0, 2},
                                           CursorCase{1919, 1079, 2}, CursorCase{640, 480, 50}));

}  // namespace
}  // namespace testsupport
