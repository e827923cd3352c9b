// Command 9: a stop with a message box open, of every type (the other cases are
// tests/scenarios/message_boxes.scenario).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "message_boxes.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

class MessageBoxes : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }
  static Bytes Box(const std::u16string& text, const std::u16string& caption, uint32_t type = 0) {
    return Record(9, 0, MessageBoxPayload(type, text, caption));
  }
  std::optional<MessageBoxWindow> NextBox() { return WaitForMessageBox(host.Pid(), 20000); }
};

// Open at the stop, the stop never waits for a person. The module treats
// every type alike; what differs is the box: one without a cancel button
// ignores WM_CLOSE, and the placement flags change whose window it is. Under
// Wine 8 a box with MB_SERVICE_NOTIFICATION or MB_DEFAULT_DESKTOP_ONLY is an
// ordinary window of the showing thread (on Windows another process shows
// it), so here those two cannot make the stop wait; the component suite
// checks that they never reach MessageBoxW.
TEST_F(MessageBoxes, stop_returns_within_2_s_whatever_the_type_of_the_open_box) {
  constexpr uint32_t kEveryPlacement = MB_SYSTEMMODAL | MB_TOPMOST | MB_SETFOREGROUND |
                                       MB_SERVICE_NOTIFICATION | MB_DEFAULT_DESKTOP_ONLY;
  const uint32_t types[] = {MB_OK, MB_YESNO, MB_ABORTRETRYIGNORE, MB_TASKMODAL | MB_YESNOCANCEL,
                            MB_YESNO | kEveryPlacement};
  double slowest = 0;
  for (uint32_t type : types) {
    if (type != types[0]) {
      ASSERT_EQ(StartTool(), 0);  // the fixture started the first one
    }
    ASSERT_TRUE(SendRecord(Box(u"open at the stop", u"stop", type)));
    ASSERT_TRUE(NextBox()) << std::hex << type;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StopTool(), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    slowest = std::max(slowest, seconds);
    EXPECT_LT(seconds, 2.0) << std::hex << type;
    EXPECT_TRUE(FindMessageBoxes(host.Pid()).empty()) << std::hex << type;
  }
  std::printf("slowest stop with a box open: %.3f s\n", slowest);
}

}  // namespace
}  // namespace testsupport
