// The message box component's own thread, linked in and run under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "tool/commands.h"
#include "tool/lifecycle.h"
#include "import_slot.h"
#include "interaction/message_box_handler.h"
#include "log_tail.h"
#include "message_boxes.h"
#include "tool_channel.h"
#include "wait_until.h"

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

}  // namespace
}  // namespace mantlet

extern "C" void* __imp_MessageBoxW;

namespace mantlet {
namespace {

testsupport::ScopedImportSlot* g_messageBoxSlot = nullptr;
std::atomic<UINT> g_typeShown{0};
std::atomic<bool> g_shown{false};

int WINAPI RecordType(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  g_typeShown = type;
  g_shown = true;
  return g_messageBoxSlot->original<decltype(&MessageBoxW)>()(owner, text, caption, type);
}

// Under Wine both flags give an ordinary box of the showing thread, which the
// stop closes like any other (so the end-to-end stop cannot tell); what
// reaches MessageBoxW shows that they are taken out and everything else kept.
TEST(MessageBoxThread, flags_that_show_the_box_elsewhere_are_taken_out_and_logged) {
  testsupport::ScopedImportSlot slot(&__imp_MessageBoxW, reinterpret_cast<void*>(&RecordType));
  g_messageBoxSlot = &slot;
  constexpr UINT kElsewhere = MB_SERVICE_NOTIFICATION | MB_DEFAULT_DESKTOP_ONLY;
  const UINT kept = MB_CANCELTRYCONTINUE | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SYSTEMMODAL |
                    MB_TOPMOST | MB_SETFOREGROUND | MB_RIGHT;
  const struct {
    UINT sent;
    const char* line;  // the level-2 line, null when none is due
  } cases[] = {
      {MB_YESNO | MB_SERVICE_NOTIFICATION, "type=0x200004 shown without flags 0x200000"},
      {MB_DEFAULT_DESKTOP_ONLY | MB_TASKMODAL, "type=0x22000 shown without flags 0x20000"},
      {kept | kElsewhere, "type=0x2f1136 shown without flags 0x220000"},
      {kept, nullptr},
  };
  for (const auto& c : cases) {
    testenv::LogTail log;
    g_shown = false;
    MessageBoxHandler handler;
    ASSERT_TRUE(handler.Start());
    handler.ShowMessageBox(u"type", u"type", c.sent);
    EXPECT_TRUE(testenv::WaitUntil([] { return g_shown.load(); }, 20000));
    handler.Stop();
    EXPECT_EQ(g_typeShown, c.sent & ~kElsewhere) << std::hex << c.sent;
    EXPECT_EQ(log.Count("Message box type="), c.line ? 1u : 0u) << std::hex << c.sent;
    if (c.line) {
      EXPECT_EQ(log.Count(c.line), 1u) << log.Text();
    }
  }
  g_messageBoxSlot = nullptr;
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
