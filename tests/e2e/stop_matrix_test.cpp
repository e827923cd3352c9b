// Every stop ends: StopTool, from whichever host thread, returns within what
// its own steps must wait for (the 5 s border wait while a border thread may
// run) plus 2 s, with a device that never cancels or has hung, with the
// shell's question open on the worker, in Weave mode on a thread without
// COM. The user's desktop is theirs again after each. (Floods with a late
// shell and a worker held by the shell: stop_under_load_test; a box of every
// type: message_box_test.)
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "message_boxes.h"
#include "weave_fixture.h"

namespace testsupport {
namespace {

constexpr DWORD kSlackMs = 2000;
constexpr DWORD kBorderWaitMs = 5000;

class StopMatrix;

struct StopRow {
  const char* name;
  HostCalls startOn;
  HostCalls stopOn;
  void (*load)(StopMatrix& test);  // puts the tool where the stop finds it
  DWORD requiredMs;                // what the stop's own steps may wait
};

class StopMatrix : public WeaveTest, public ::testing::WithParamInterface<StopRow> {
 public:
  using ToolTest::device;
  using ToolTest::host;
  using WeaveTest::EnterWeave;
  bool WithShell() override { return true; }
  HostOptions HostOptionsForTest() override {
    HostOptions options;
    options.calls = GetParam().startOn;
    return options;
  }
  void TearDown() override {
    device.EndHang();
    WeaveTest::TearDown();
    DeleteFileW(trashed_.c_str());
  }

  // A file in the recycle bin, so that command 1 asks the user first.
  void Trash() {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    trashed_ = std::wstring(folder) + L"mantlet-stop-matrix.txt";
    HANDLE file =
        CreateFileW(trashed_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    std::wstring from = trashed_ + L'\0';
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    ASSERT_EQ(SHFileOperationW(&operation), 0);
  }

 private:
  std::wstring trashed_;
};

TEST_P(StopMatrix, stop_returns_within_its_bound_and_gives_the_user_their_desktop_back) {
  ASSERT_TRUE(device.WaitPendingHostWaits(1, 10000)) << "no host event wait pending";
  GetParam().load(*this);
  if (HasFatalFailure())
    return;
  ASSERT_EQ(host.Call(std::string("calls ") + HostCallsWord(GetParam().stopOn)).rfind("calls=", 0),
            0u);
  const DWORD bound = GetParam().requiredMs + kSlackMs;
  const ULONGLONG began = GetTickCount64();
  const int stopped = StopTool();
  const ULONGLONG took = GetTickCount64() - began;
  EXPECT_EQ(stopped, 0);
  EXPECT_LE(took, bound);
  std::printf("[ stop %s: %llu ms, bound %lu ms ]\n", GetParam().name, took, bound);
  EXPECT_TRUE(testenv::FindMessageBoxes(host.Pid()).empty()) << "a box outlived the stop";
  EXPECT_EQ(ReadDesktopSettings(), user_) << "the user's desktop is not theirs again";
  for (const wchar_t* saved : {L"DesktopWallpaper", L"DesktopColor", L"ScreenSaverInterval"})
    EXPECT_FALSE(Saved(saved)) << "still saved: " << testing::PrintToString(std::wstring(saved));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopMatrix,
    ::testing::Values(
        // The host event wait pending on a device without a cancel routine:
        // only closing the handle ends it.
        StopRow{"device_without_cancel_with_a_host_wait_pending", HostCalls::kFresh,
                HostCalls::kFresh, [](StopMatrix&) {}, 0},
        // The device answers nothing, not even when its handles close, while
        // the worker waits for it (a hotkey report) and the watchers may.
        StopRow{"hung_device_with_a_report_in_flight", HostCalls::kFresh, HostCalls::kFresh,
                [](StopMatrix& t) {
                  ASSERT_TRUE(t.device.Hang());
                  ASSERT_TRUE(SendRecord(Record(10, 0)));
                  ASSERT_TRUE(t.device.WaitForRecord(0x8501, 0, 10000));
                },
                0},
        // The shell's question before it empties the recycle bin, open on the
        // worker: nobody answers it.
        StopRow{"recycle_bin_question_open_on_the_worker", HostCalls::kFresh, HostCalls::kFresh,
                [](StopMatrix& t) {
                  t.Trash();
                  if (t.HasFatalFailure())
                    return;
                  ASSERT_TRUE(SendRecord(Record(1, 0)));
                  ASSERT_TRUE(testenv::WaitForMessageBox(t.host.Pid(), 10000)) << "no question";
                },
                0},
        // Weave mode, stopped on a host thread that never initialised COM:
        // the desktop object is still made, and the wallpaper comes back.
        StopRow{"weave_mode_stopped_on_a_thread_without_com", HostCalls::kMain, HostCalls::kFresh,
                [](StopMatrix& t) { t.EnterWeave(); }, kBorderWaitMs},
        // Started on one thread and stopped on another that has COM.
        StopRow{"weave_mode_stopped_on_another_thread_with_com", HostCalls::kFresh, HostCalls::kCom,
                [](StopMatrix& t) { t.EnterWeave(); }, kBorderWaitMs},
        // Stopped on the host's main thread, which owns a window it does not
        // pump while inside the call.
        StopRow{"weave_mode_stopped_on_the_window_owning_main_thread", HostCalls::kCom,
                HostCalls::kMain, [](StopMatrix& t) { t.EnterWeave(); }, kBorderWaitMs}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace testsupport
