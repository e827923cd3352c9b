// The message box component's own thread, linked in and run under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/commands.h"
#include "core/lifecycle.h"
#include "interaction/message_box_handler.h"
#include "log_tail.h"
#include "message_boxes.h"
#include "tool_channel.h"

namespace mantlet {
namespace {

struct StopCall {
  static DWORD WINAPI Run(void* handler) {
    static_cast<MessageBoxHandler*>(handler)->Stop();
    return 0;
  }
};

// Stop comes ever later after the request, so that some stops fall between
// the working thread taking the request out and its box window existing.
TEST(MessageBoxThread, stop_never_waits_for_a_box_opened_after_its_close_requests) {
  for (DWORD delay = 0; delay <= 30; delay += 3) {
    MessageBoxHandler handler;
    ASSERT_TRUE(handler.Start());
    handler.ShowMessageBox(u"late", u"late", MB_YESNO);
    Sleep(delay);
    HANDLE stop = CreateThread(nullptr, 0, &StopCall::Run, &handler, 0, nullptr);
    if (WaitForSingleObject(stop, 20000) != WAIT_OBJECT_0) {
      for (const auto& box : testenv::FindMessageBoxes(GetCurrentProcessId()))
        PostMessageW(box.window, WM_COMMAND, IDNO, 0);
      WaitForSingleObject(stop, INFINITE);
      ADD_FAILURE() << "Stop waited for a box, stop after " << delay << " ms";
    }
    CloseHandle(stop);
  }
}

TEST(MessageBoxThread, without_a_working_thread_requests_are_logged_and_never_shown) {
  testenv::LogTail log;
  {
    MessageBoxHandler handler;  // as after a failed Start: no event, no thread
    handler.ShowMessageBox(u"never", u"shown", MB_OK);
    handler.ShowMessageBox(u"never", u"shown", MB_OK);
    EXPECT_FALSE(testenv::WaitForMessageBox(GetCurrentProcessId(), 1500));
    handler.Stop();
  }
  EXPECT_EQ(log.Count("Show message box text='never' caption='shown' type=0"), 2u);
  EXPECT_EQ(log.Count("MessageBoxHandler has been destructed"), 1u);
}

// The whole road from a 1 MB command record to the box, which Wine's mailslot
// cannot carry (see the end-to-end suite).
TEST(MessageBoxThread, record_with_a_megabyte_of_text_shows_all_of_it) {
  g_components.messageBoxes.Set(std::make_unique<MessageBoxHandler>());
  ASSERT_TRUE(g_components.messageBoxes->Start());
  testenv::LogTail log;
  const std::u16string text(512 * 1024, u'm');
  const testenv::Bytes record = testenv::Record(9, 0, testenv::MessageBoxPayload(0, text, u"MB"));
  RunCommandRecord(record);
  const auto box = testenv::WaitForMessageBox(GetCurrentProcessId(), 20000);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text.size(), text.size());
  EXPECT_EQ(box->caption, L"MB");
  EXPECT_TRUE(log.WaitFor("Show message box text='mmmm", 1000));  // the line is cut, not lost
  g_components.messageBoxes.Take()->Stop();
  EXPECT_FALSE(IsWindow(box->window));
}

}  // namespace
}  // namespace mantlet
