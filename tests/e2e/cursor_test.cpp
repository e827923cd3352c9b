// Command 15 end to end: the refresh window comes and goes under the cursor
// without moving it, however often the host asks. (The window's shape and
// the cursor flip are checked on the component itself, where the test owns
// the thread that makes the window and so can look before it goes.)
#include <gtest/gtest.h>

#include "tool_fixture.h"

namespace testsupport {
namespace {

class CursorTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }
};

int CountRefreshWindows() {
  int count = 0;
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (wcscmp(name, L"MouseSyncAux") == 0)
          ++*reinterpret_cast<int*>(param);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

struct CursorCase {
  int x, y;
  size_t updates;
};

class CursorUpdates : public CursorTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(CursorUpdates, leave_the_cursor_where_it_is_and_no_window_behind) {
  const CursorCase c = GetParam();
  ASSERT_TRUE(SetCursorPos(c.x, c.y));
  ASSERT_TRUE(SendRecords(std::vector<Bytes>(c.updates, Record(15, 0))));
  ASSERT_TRUE(SendRecord(Record(7, 0)));  // runs after every update
  ASSERT_TRUE(log.WaitFor("Unsupported command", 10000));
  EXPECT_TRUE(WaitUntil([] { return CountRefreshWindows() == 0; }, 3000));
  POINT at = {};
  GetCursorPos(&at);
  EXPECT_EQ(at.x, c.x);
  EXPECT_EQ(at.y, c.y);
  EXPECT_EQ(log.Count("Can't"), 0u) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(Cursor, CursorUpdates,
                         ::testing::Values(CursorCase{300, 200, 1}, CursorCase{0, 0, 2},
                                           CursorCase{1919, 1079, 2}, CursorCase{640, 480, 50}));

}  // namespace
}  // namespace testsupport
