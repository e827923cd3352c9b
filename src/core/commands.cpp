#include "core/commands.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "core/command_record.h"
#include "core/device_request.h"
#include "core/education.h"
#include "core/handles.h"
#include "core/lifecycle.h"
#include "core/log.h"
#include "interaction/keyboard_layout.h"
#include "interaction/message_box_handler.h"
#include "settings/browser_search_info.h"
#include "sharemapping/guest_share_mapping.h"
#include "sharemapping/share_shortcuts.h"
#include "taskbar/cursor_utils.h"
#include "taskbar/relocate_taskbar.h"
#include "taskbar/show_hide_taskbar.h"
#include "weave/weave_state_controller.h"

namespace mantlet {
namespace {

constexpr wchar_t kToolsDevicePath[] = L"\\\\.\\cvn_tg";
constexpr wchar_t kControlCenterClass[] = L"cvn_cc_wndclass";
constexpr DWORD kShortcutQuietTimeMs = 500;
constexpr int kImmediateAnswersPerTurn = 64;

void EmptyRecycleBin() {
  SHQUERYRBINFO info = {};
  info.cbSize = sizeof(info);
  if (FAILED(SHQueryRecycleBinW(nullptr, &info)) || info.i64NumItems == 0)
    return;
  HWND controlCenter = FindWindowW(kControlCenterClass, nullptr);
  DefWindowProcW(controlCenter, WM_APPCOMMAND, 0, 0);
  AllowSetForegroundWindow(GetCurrentProcessId());
  SHEmptyRecycleBinW(nullptr, nullptr, 0);
}

void ShowRecycleBin() {
  PIDLIST_ABSOLUTE bin = nullptr;
  if (FAILED(SHGetFolderLocation(nullptr, CSIDL_BITBUCKET, nullptr, 0, &bin)))
    return;

  HWND controlCenter = FindWindowW(kControlCenterClass, nullptr);
  HWND foreground = GetForegroundWindow();
  if (controlCenter != nullptr && foreground != nullptr && foreground != controlCenter) {
    const DWORD self = GetCurrentThreadId();
    const DWORD other = GetWindowThreadProcessId(foreground, nullptr);
    if (AttachThreadInput(self, other, TRUE)) {
      BringWindowToTop(controlCenter);
      SetForegroundWindow(controlCenter);
      AttachThreadInput(self, other, FALSE);
    }
  }

  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_IDLIST;
  execute.nShow = SW_SHOW;
  execute.lpIDList = bin;
  ShellExecuteExW(&execute);
  CoTaskMemFree(bin);
}

void AnnounceCommand(int32_t command) {
  const CommandInfo& info = GetCommandInfo(command);
  switch (info.logKind) {
    case CommandLogKind::kGoingToHandle:
      MLOG(kLogDebug, kToolTag, "Mantlet's going to handle %s", info.name);
      break;
    case CommandLogKind::kIsHandling:
      MLOG(kLogDebug, kToolTag, "Mantlet is handling %s", info.name);
      break;
    case CommandLogKind::kUnsupported:
      MLOG(kLogInfo, kToolTag, "Unsupported command '%s'", info.name);
      break;
    case CommandLogKind::kNone:
      break;
  }
}

void RunCommand(const CommandRecordView& record) {
  AnnounceCommand(record.command);
  ComponentHolders& c = g_components;
  switch (record.command) {
    case kEmptyRecycleBinCommand:
      EmptyRecycleBin();
      break;
    case kShowRecycleBinCommand:
      ShowRecycleBin();
      break;
    case kToggleShareMappingCommand:
      if (c.shareMapping)
        c.shareMapping->ChangeShareMapping(record.arg != 0);
      break;
    case kToggleTaskbarCommand:
      if (c.showHide)
        c.showHide->SetTaskbarVisible(record.arg != 0);
      break;
    case kToggleDesktopCommand:
      if (c.showHide)
        c.showHide->ToggleDesktop();
      break;
    case kToggleMountedVolumesCommand:
      if (c.shareMapping)
        c.shareMapping->ToggleMountedVolumes(DecodeVolumeNames(record));
      break;
    case kNotifyWeaveStateChangedCommand:
      if (c.weave)
        c.weave->OnWeaveStateChanged(record.arg != 0);
      if (record.arg == 0) {
        if (c.showHide)
          c.showHide->SetTaskbarVisible(true);
        EndEducationApp();
      }
      break;
    case kShowMessageBoxCommand:
      if (c.messageBoxes) {
        const MessageBoxPayload box = DecodeMessageBox(record);
        c.messageBoxes->ShowMessageBox(box.text, box.caption, box.type);
      }
      break;
    case kCheckKeyboardHotkeysCommand:
      if (c.keyboard)
        c.keyboard->CheckCurrentHotkey(true, true);
      break;
    case kSetVmColorCommand:
      if (c.weave)
        c.weave->SetVmColor(record.arg);
      break;
    case kUpdateGuestCursorCommand:
      if (c.cursor)
        c.cursor->UpdateCursor();
      break;
    case kShowGlimmerEduCommand:
      LaunchEducationApp();
      break;
    case kSetIndentsCommand:
      if (c.relocate) {
        const std::vector<IndentEntry> entries = DecodeIndents(record);
        c.relocate->SetIndents(entries.data(), entries.size());
      }
      break;
    case kBrowsersCommand:
      if (c.browsers)
        c.browsers->HandleBrowsersCommand(record.arg);
      break;
    default:  // 7, 11, 12 and 13: announced (or not) and nothing else
      break;
  }
}

// Wine answers a zero-byte mailslot read with ERROR_BROKEN_PIPE at once,
// whether or not a message waits, where Windows gives ERROR_INSUFFICIENT_BUFFER
// for a waiting message and waits out the read time-out for an empty slot.
// GetMailslotInfo settles the Wine case without changing the Windows one; the
// size it gives is handed back (MAILSLOT_NO_MESSAGE when not asked yet), so
// that the reader does not ask the server for it a second time.
bool MessageWaiting(HANDLE mailslot, DWORD* nextSize) {
  *nextSize = MAILSLOT_NO_MESSAGE;
  DWORD read = 0;
  if (ReadFile(mailslot, nullptr, 0, &read, nullptr))
    return false;
  const DWORD error = GetLastError();
  if (error == ERROR_INSUFFICIENT_BUFFER)
    return true;
  if (error != ERROR_BROKEN_PIPE)
    return false;
  return GetMailslotInfo(mailslot, nullptr, nextSize, nullptr, nullptr) &&
         *nextSize != MAILSLOT_NO_MESSAGE;
}

void ReadCommands(HANDLE mailslot) {
  std::vector<uint8_t> message;
  int failedReads = 0;
  DWORD nextSize = MAILSLOT_NO_MESSAGE;
  while (MessageWaiting(mailslot, &nextSize)) {
    if (nextSize == MAILSLOT_NO_MESSAGE &&
        (!GetMailslotInfo(mailslot, nullptr, &nextSize, nullptr, nullptr) ||
         nextSize == MAILSLOT_NO_MESSAGE)) {
      return;
    }
    // A zero-length message still needs a buffer to be taken off the slot.
    message.resize(nextSize != 0 ? nextSize : 1);
    DWORD read = 0;
    if (!ReadFile(mailslot, message.data(), static_cast<DWORD>(message.size()), &read, nullptr)) {
      // Wine fails the read of a zero-length message but takes it off the
      // slot all the same: that is progress, and a run of them must not
      // strand the records behind it until a signal that may never come.
      // Any other read that keeps failing leaves the rest to the next signal
      // rather than spinning here.
      if (nextSize != 0 && ++failedReads > 16)
        return;
      continue;
    }
    failedReads = 0;
    RunCommandRecord(std::span<const uint8_t>(message.data(), read));
  }
}

// The host event wait: one 0x8040 request kept pending on the device.
class HostEventWait {
 public:
  HostEventWait() {
    event_.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    device_.reset(CreateFileW(kToolsDevicePath, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    // Without the device the event must never wake the loop.
    if (!device_ && event_)
      ResetEvent(event_.get());
    DeviceRequest request;
    request.code = kHostEventWaitRequest;
    block_ = EncodeDeviceRequest(request);
    overlapped_.hEvent = event_.get();
  }

  ~HostEventWait() {
    // Closing the device ends a request still pending; the OVERLAPPED and the
    // block must outlive it, so cancel and drain first.
    if (pending_ && device_) {
      CancelIo(device_.get());
      DWORD ignored = 0;
      GetOverlappedResult(device_.get(), &overlapped_, &ignored, TRUE);
    }
  }

  HANDLE event() const { return event_.get(); }

  enum class Outcome {
    kPending,   // a wait is pending: the quiet time runs
    kIdle,      // nothing outstanding, the event is reset for good
    kComeBack,  // the event stays signalled; the next turn sends anew
  };

  // The device event fired.
  Outcome Serve() {
    if (pending_) {
      pending_ = false;
      DWORD returned = 0;
      const bool fetched =
          GetOverlappedResult(device_.get(), &overlapped_, &returned, TRUE) != FALSE;
      const bool again = fetched ? StatusAsksForMore() : GetLastError() == ERROR_RETRY;
      // Any other outcome leaves the event signalled: the next wait comes back
      // here at once, after the terminate and command events had their turn.
      if (!again)
        return Outcome::kComeBack;
    }
    if (!Send()) {
      // Still wanted: the event stays signalled and the next turn goes on.
      SetEvent(event_.get());
      return Outcome::kComeBack;
    }
    if (pending_)
      return Outcome::kPending;
    ResetEvent(event_.get());
    return Outcome::kIdle;
  }

 private:
  bool StatusAsksForMore() const {
    const uint32_t status = DeviceRequestStatus(block_);
    return status == kDeviceStatusSuccess || status == kDeviceStatusWaitAgain;
  }

  // Sends the wait until it is pending or refused. Returns false when it
  // gave way instead: a device that keeps answering at once would otherwise
  // hold this thread here, deaf to the terminate and command events.
  bool Send() {
    for (int turn = 0; turn < kImmediateAnswersPerTurn; ++turn) {
      StoreU32Status(0);
      DWORD returned = 0;
      if (DeviceIoControl(device_.get(), kToolsDeviceIoControl, block_.data(),
                          static_cast<DWORD>(block_.size()), block_.data(),
                          static_cast<DWORD>(block_.size()), &returned, &overlapped_)) {
        if (StatusAsksForMore())
          continue;
        return true;
      }
      const DWORD error = GetLastError();
      if (error == ERROR_RETRY)
        continue;
      if (error == ERROR_IO_PENDING)
        pending_ = true;
      return true;
    }
    return false;
  }

  void StoreU32Status(uint32_t status) {
    block_[4] = static_cast<uint8_t>(status);
    block_[5] = static_cast<uint8_t>(status >> 8);
    block_[6] = static_cast<uint8_t>(status >> 16);
    block_[7] = static_cast<uint8_t>(status >> 24);
  }

  UniqueHandle event_;
  UniqueFile device_;
  OVERLAPPED overlapped_ = {};
  std::vector<uint8_t> block_;
  bool pending_ = false;
};

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageW(&msg);
}

}  // namespace

void RunCommandRecord(std::span<const uint8_t> message) {
  if (const std::optional<CommandRecordView> record = ParseCommandRecord(message)) {
    RunCommand(*record);
  }
}

DWORD WINAPI CommandWorkerMain(void*) {
  auto hostEvents = std::make_unique<HostEventWait>();
  const HRESULT com = CoInitialize(nullptr);

  DWORD timeout = INFINITE;
  for (;;) {
    const HANDLE handles[] = {g_tool.terminateEvent, g_tool.commandEvent, hostEvents->event()};
    const DWORD count = hostEvents->event() != nullptr ? 3 : 2;
    const DWORD wait = MsgWaitForMultipleObjects(count, handles, FALSE, timeout, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0 + 1) {
      ReadCommands(g_tool.mailslot);
    } else if (wait == WAIT_OBJECT_0 + 2 && count == 3) {
      // While a wait is pending, every wake starts the quiet time anew.
      switch (hostEvents->Serve()) {
        case HostEventWait::Outcome::kPending:
          timeout = kShortcutQuietTimeMs;
          break;
        case HostEventWait::Outcome::kIdle:
          timeout = INFINITE;
          break;
        case HostEventWait::Outcome::kComeBack:
          break;
      }
    } else if (wait == WAIT_OBJECT_0 + count) {
      PumpMessages();
    } else if (wait == WAIT_TIMEOUT) {
      timeout = INFINITE;
      if (g_components.shareMapping)
        RefreshShareShortcuts();
    } else {
      break;  // terminate event or a failed wait
    }
  }

  hostEvents.reset();
  if (SUCCEEDED(com))
    CoUninitialize();
  return 0;
}

}  // namespace mantlet
