#include "tool/commands.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "core/bytes.h"
#include "core/com.h"
#include "core/command_record.h"
#include "core/device.h"
#include "core/device_request.h"
#include "tool/education.h"
#include "core/handles.h"
#include "tool/lifecycle.h"
#include "core/log.h"
#include "core/threads.h"
#include "interaction/keyboard_layout.h"
#include "interaction/message_box_handler.h"
#include "settings/browser_search_info.h"
#include "sharemapping/guest_share_mapping.h"
#include "sharemapping/share_shortcuts.h"
#include "taskbar/cursor_utils.h"
#include "taskbar/relocate_taskbar.h"
#include "taskbar/show_hide_taskbar.h"
#include "taskbar/indent_entry.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "weave/weave_state_controller.h"

namespace mantlet {
namespace {

constexpr wchar_t kControlCenterClass[] = L"cvn_cc_wndclass";
constexpr DWORD kShortcutQuietTimeMs = 500;
// How often an idle worker looks at the slot without a signal. Under Wine a
// slot holding a few hundred messages blocks its writer, and a sender that
// signals only after writing a batch would wait for ever for a reader that
// waits for the signal.
constexpr DWORD kUnsignalledReadMs = 250;
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

// The line the worker writes before it runs a command; the numbers without
// a name run silently.
void AnnounceCommand(int32_t command) {
  const char* name = CommandName(command);
  if (name == nullptr)
    return;
  switch (command) {
    case kRelocateTaskBarCommand:
    case kAdjustWorkingAreaCommand:
    case kShowMacMenuAppBarCommand:
      MLOG(kLogInfo, kToolTag, "Unsupported command '%s'", name);
      break;
    case kShowGlimmerEduCommand:
      MLOG(kLogDebug, kToolTag, "Mantlet is handling %s", name);
      break;
    default:
      MLOG(kLogDebug, kToolTag, "Mantlet's going to handle %s", name);
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
        c.keyboard->CheckCurrentHotkey(LastSentPair::kForget, LayoutKey::kCurrentUser);
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

// Takes every message off the slot, running each record and dropping the
// malformed ones. The slot's own count is the authority: a zero-byte read
// cannot tell a zero-length message from a waiting one (Windows reads the
// empty message and says nothing waits; Wine fails the read with
// ERROR_BROKEN_PIPE in both cases), and a reader that stops early leaves
// records behind until a signal that may never come, since under Wine a full
// slot blocks the very writer that would send it.
void ReadCommands(HANDLE mailslot) {
  std::vector<uint8_t> message;
  int failedReads = 0;
  for (;;) {
    DWORD nextSize = MAILSLOT_NO_MESSAGE;
    if (!GetMailslotInfo(mailslot, nullptr, &nextSize, nullptr, nullptr) ||
        nextSize == MAILSLOT_NO_MESSAGE) {
      return;
    }
    // A zero-length message still needs a buffer to be taken off the slot.
    try {
      message.resize(nextSize != 0 ? nextSize : 1);
    } catch (const std::bad_alloc&) {
      // Too large to hold: read into what fits, which takes the message off
      // the slot cut short, and so drops it.
      message.resize(kMinCommandRecordSize);
    }
    DWORD read = 0;
    if (!ReadFile(mailslot, message.data(), static_cast<DWORD>(message.size()), &read, nullptr)) {
      // Wine fails the read of a zero-length message but takes it off the
      // slot all the same: that is progress. Any other read that keeps
      // failing leaves the rest to the next signal rather than spin here.
      if (nextSize != 0 && ++failedReads > 16)
        return;
      continue;
    }
    failedReads = 0;
    if (read == nextSize)
      RunCommandRecord(std::span<const uint8_t>(message.data(), read));
  }
}

// The host event wait: one 0x8040 request kept pending on the device. Its
// memory (block, OVERLAPPED and the event the device signals) lives apart
// from this object: a device that never completes the request, not even when
// its handle is closed, keeps that memory for good.
class HostEventWait {
 public:
  HostEventWait() : m_io(std::make_unique<Io>()) {
    m_io->event.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    m_device = OpenToolsDevice();
    // Without the device the event must never wake the loop.
    if (!m_device && m_io->event)
      ResetEvent(m_io->event.get());
    DeviceRequest request;
    request.code = kHostEventWaitRequest;
    m_io->block = EncodeDeviceRequest(request);
    m_io->overlapped.hEvent = m_io->event.get();
  }

  ~HostEventWait() {
    // A wait still pending is not cancelled (a device need not have a cancel
    // routine): closing the handle ends it. The device then hands the
    // request back, and only then may its memory go.
    m_device.reset();
    if (m_pending && WaitForSingleObject(m_io->event.get(), kHandBackMs) != WAIT_OBJECT_0) {
      MLOG(kLogWarning, kToolTag,
           "The host event wait was not handed back; it is left to the device");
      m_io->event.release();
      m_io.release();
    }
  }

  HANDLE event() const { return m_io->event.get(); }

  enum class Outcome {
    kPending,   // a wait is pending: the quiet time runs
    kIdle,      // nothing outstanding, the event is reset for good
    kComeBack,  // the event stays signalled; the next turn sends anew
  };

  // The device event fired.
  Outcome Serve() {
    if (m_pending) {
      m_pending = false;
      DWORD returned = 0;
      // The event is signalled: the request is complete, nothing is waited for.
      const bool fetched =
          GetOverlappedResult(m_device.get(), &m_io->overlapped, &returned, FALSE) != FALSE;
      const bool again = fetched ? StatusAsksForMore() : GetLastError() == ERROR_RETRY;
      // Any other outcome leaves the event signalled: the next wait comes back
      // here at once, after the terminate and command events had their turn.
      if (!again)
        return Outcome::kComeBack;
    }
    if (!Send()) {
      // Still wanted: the event stays signalled and the next turn goes on.
      SetEvent(m_io->event.get());
      return Outcome::kComeBack;
    }
    if (m_pending)
      return Outcome::kPending;
    ResetEvent(m_io->event.get());
    return Outcome::kIdle;
  }

 private:
  struct Io {
    OVERLAPPED overlapped = {};
    UniqueHandle event;
    std::vector<uint8_t> block;
  };

  // How long a closed device has to hand a pending wait back.
  static constexpr DWORD kHandBackMs = 250;

  bool StatusAsksForMore() const {
    const uint32_t status = DeviceRequestStatus(m_io->block);
    return status == kDeviceStatusSuccess || status == kDeviceStatusWaitAgain;
  }

  // Sends the wait until it is pending or refused. Returns false when it
  // gave way instead: a device that keeps answering at once would otherwise
  // hold this thread here, deaf to the terminate and command events.
  bool Send() {
    std::vector<uint8_t>& block = m_io->block;
    for (int turn = 0; turn < kImmediateAnswersPerTurn; ++turn) {
      StoreU32(block.data() + 4, 0);  // status
      DWORD returned = 0;
      if (DeviceIoControl(m_device.get(), kToolsDeviceIoControl, block.data(),
                          static_cast<DWORD>(block.size()), block.data(),
                          static_cast<DWORD>(block.size()), &returned, &m_io->overlapped)) {
        if (StatusAsksForMore())
          continue;
        return true;
      }
      const DWORD error = GetLastError();
      if (error == ERROR_RETRY)
        continue;
      if (error == ERROR_IO_PENDING)
        m_pending = true;
      return true;
    }
    return false;
  }

  std::unique_ptr<Io> m_io;
  UniqueFile m_device;
  bool m_pending = false;
};

// False once a WM_QUIT came: the stop's second way of ending the worker.
bool PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT)
      return false;
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace

void RunCommandWorker(HANDLE terminateEvent) {
  const ComScope com;
  // Without it the commands still run; the device side stays quiet.
  std::unique_ptr<HostEventWait> hostEvents;
  RunGuarded("The host event wait", [&] { hostEvents = std::make_unique<HostEventWait>(); });
  const HANDLE deviceEvent = hostEvents ? hostEvents->event() : nullptr;

  // Between a pending host event wait and the first quiet time-out the
  // worker waits kShortcutQuietTimeMs; otherwise it wakes now and then to
  // take records off a slot nobody signalled.
  bool quiet = false;
  for (;;) {
    const HANDLE handles[] = {terminateEvent, g_tool.commandEvent.get(), deviceEvent};
    const DWORD count = deviceEvent != nullptr ? 3 : 2;
    const DWORD timeout = quiet ? kShortcutQuietTimeMs : kUnsignalledReadMs;
    const DWORD wait = MsgWaitForMultipleObjects(count, handles, FALSE, timeout, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0 + 1) {
      ReadCommands(g_tool.mailslot.get());
    } else if (wait == WAIT_OBJECT_0 + 2 && count == 3) {
      // While a wait is pending, every wake starts the quiet time anew.
      switch (hostEvents->Serve()) {
        case HostEventWait::Outcome::kPending:
          quiet = true;
          break;
        case HostEventWait::Outcome::kIdle:
          quiet = false;
          break;
        case HostEventWait::Outcome::kComeBack:
          break;
      }
    } else if (wait == WAIT_OBJECT_0 + count) {
      if (!PumpMessages())
        break;
    } else if (wait == WAIT_TIMEOUT) {
      if (quiet) {
        quiet = false;
        if (g_components.shareMapping)
          RunGuarded("The shortcut refresh", &RefreshShareShortcuts);
      }
      ReadCommands(g_tool.mailslot.get());
    } else {
      break;  // terminate event or a failed wait
    }
  }
}

void RunCommandRecord(std::span<const uint8_t> message) {
  if (const std::optional<CommandRecordView> record = ParseCommandRecord(message)) {
    // A command that fails half way (memory running out for its payload)
    // is not run to its end; the records after it still are.
    char where[32];
    snprintf(where, sizeof(where), "Command %d", static_cast<int>(record->command));
    RunGuarded(where, [&] { RunCommand(*record); });
  }
}

}  // namespace mantlet
