// The simulated guest: plays a scenario against the real module loaded in the
// host stand-in, with the tools device stand-in answering, and writes an
// account of what happened. Runs inside the Wine prefix.
//
// Scenario lines (one step each; '#' starts a comment):
//   start | stop | notify <code> | vconfig      the host's entry-point calls
//   stop within <ms>                            a stop that returns 0 within the bound
//   mark                                        expect-log and expect-device count from here
//   desktop user | desktop guest                the desktop look of a user of its own, or
//                                               the one in force before that
//   expect-desktop user|<text> [within <ms>]    the look in force is that user's, or its
//                                               description contains the text
//   expect-saved <names>|none [within <ms>]     the look's values the tool keeps, in name
//                                               order ("DesktopColor,ScreenSaverInterval")
//   host <line>                                 any host stand-in command ("host calls
//                                               main|com|fresh": the thread of the calls)
//   send <mantletctl command>                   one command record, signalled
//   batch [--no-signal] <cmd> ; <cmd> ; ...     several records, one signal (or none yet)
//   signal                                      the command event alone
//   fire [status]                               complete the pending host event wait
//   device cancellable on|off                   whether CancelIo ends what the device holds
//                                               (off by default, as a tools device promises)
//   device hang <ms>|on|off                     the device answers nothing for <ms>, or
//                                               until "device hang off"
//   wait <ms>                                   let the tool work
//   expect-log <text> [count <n>] [level <L>] [within <ms>]
//                                               a log line containing the text (exactly n
//                                               of them, 0 included; each of level I, F ...)
//   expect-mailslot present|absent              whether the tool's command mailslot exists
//   cursor <x> <y>                              the cursor put there, over a probe window of
//                                               the guest's that notes each time the system
//                                               asks it for the cursor's shape
//   expect-cursor <x> <y> [within <ms>]         the shape asked for again since the last look,
//                                               the cursor still there, no window of the tool
//                                               left under it
//   expect-device <code> [count [exactly|at-most]]
//                                               that many device requests of a code (at
//                                               least; exactly: and no more within 1 s;
//                                               at-most: no more than that)
//   expect-pending <n> [within <ms>]            host event waits the device holds
//   device answer <code> [once] [status <n>] [irp <n>] [delay <ms>] [times <n>]
//                                               the device's answer to a code: for good, or
//                                               queued once (times: that many of them);
//                                               delay: held that long first
//   say <text>                                  a line of narrative for the account
//   section <title>                             a heading in the account
//   screenshot <name> [caption]                 the simulated desktop, saved as <name>.bmp
//   expect-host <kind> [count] [text]           at least count (1) messages of a kind
//                                               (register, unregister, log) containing
//                                               the text reached the emulated hypervisor
//   registry set <key> <name> dword <n>|qword <n>|sz <text>|binary <hex bytes>
//                                               a value in the guest's registry (HKCU\..., HKLM)
//   registry delete <key> [<name>]              a value, or the key with everything below it
//   registry list <key>                         every value of the key, shown in the account
//   registry create <key>                       an empty key (and the ones above it)
//   registry deny|allow <key>                   the key (made if missing) closed to every
//                                               access by the user, or open again
//   watch <key> [<name> ...]                    the account follows the key's values (or only
//                                               those named) from here on
//   expect-registry <key> <name> <n>|<text>|absent [within <ms>]
//                                               a DWORD (a number) or string value as
//                                               expected, or no such value (within 5 s)
//   relaunch [<exe>]                            a new host stand-in (per-program settings anew),
//                                               mantlet_host.exe or another build of it
//   expect-box [close | press <button>] [=> <text>] | expect-box none
//                                               a message box or dialog of the host: its caption,
//                                               text and buttons ("c": "t" [&Yes|&No]), which
//                                               contain the text; closed, or a button pressed;
//                                               none: no box within 1.5 s
//   expect-report <code> <word> <word>          a device request with these payload words, newer
//                                               than the one the previous expect-report matched
//   shell restart                               the shell ended and a new one started
//   shell <line>                                any shell stand-in command ("shell answers
//                                               prompt", "shell answers late <ms>", ...)
//   expect-shell <line> => <text> [within <ms>] the shell stand-in's answer contains the text
//   expect-answer <line> => <text> [within <ms>] the host stand-in's answer contains the text
//   netshares <entry> ; <entry> ...             the shared-folders provider's tree ("Media/Photos")
//   netvolumes <name> ; <name> ...              further names the provider connects
//   hostshares <flags>:<kind>:<name> ; ...      the device's answer to the share-list request
//   platform <code>                             the device's answer to the platform-code request
//   drives                                      the provider's drive letters and their labels
//   expect-drives <L>:<share>|...|none [within <ms>]
//                                               exactly the provider's drives, in letter order
//   netfail <call> <remote> <error> ; ...       the provider fails those calls ("AddConnection3
//                                               \\cvf\V 53", "CancelConnection * 2401"); none:
//                                               clear
//   netbatch <n>                                the provider enumerates n entries a call
//   expect-connections <remote> <n>             successful connections made to the share
//   take-drives <letters>|all|none              letters held by local folders, as a user's disks
//   connect <letter>: <remote>                  a connection of the user's own, through the router
//   links [clear]                               the Links folder's shortcuts and their targets
//                                               (clear: the folder emptied first)
//   expect-links <listing> [within <ms>]        exactly what "links" shows ("no shortcuts")
//   user-link <name> <target>                   a shortcut of the user's own in the folder
//   install <file> <folder>                     a file of the build's bin folder copied into
//                                               the guest (folders made as needed)
//   trash <path> [text]                         a file written and moved to the recycle bin
//   expect-recycle <count> [within <ms>]        the recycle bin holds that many items
//   expect-process <exe> running|gone|<n> [child] [within <ms>]
//                                               a process of that name runs (none does, exactly
//                                               n do); child: each one started by the host
//   end-process <exe>                           every process of that name ended
//   expect-file <path> => <text> [within <ms>]  a guest file that contains the text
// After every step the account notes what changed in the guest: values of the
// watched keys, the shared-folder drives and the files of the Links folder.
// expect-report also takes "within <ms>" (default 5000); it looks only at requests newer than
// the last one it matched of the same code.
// Keys and names with spaces go in double quotes.
//
// With --check (the test suites' mode) no account is written: each failed step
// is printed as "<file>:<line>: <step> -- <what was seen>" and the exit status
// is 1 when any step failed.
#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <winnetwk.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/device_request.h"
#include "core/utf.h"
#include "ctl_syntax.h"
#include "desktop_settings.h"
#include "guest_account.h"
#include "host_process.h"
#include "hostcall_record.h"
#include "log_tail.h"
#include "links_folder.h"
#include "message_boxes.h"
#include "netprov_control.h"
#include "shell_control.h"
#include "test_paths.h"
#include "tool_channel.h"
#include "toolsdev_client.h"
#include "wait_until.h"

namespace {

using guestsim::Change;
using guestsim::Snapshot;
using guestsim::StepRecord;

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos)
    return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string Hex(uint32_t v) {
  char text[16];
  snprintf(text, sizeof(text), "0x%X", v);
  return text;
}

std::wstring Wide(const std::string& text) {
  const std::u16string wide = mantlet::Utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const std::wstring& text) {
  return mantlet::Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// "<text> within <ms>" -> text and time limit.
std::string TakeWithin(std::string text, DWORD* within) {
  const size_t at = text.rfind(" within ");
  if (at != std::string::npos) {
    *within = strtoul(text.c_str() + at + 8, nullptr, 0);
    text = Trim(text.substr(0, at));
  }
  return text;
}

// "<text> <word> <value>" at the end -> text and value (unchanged if absent).
std::string TakeOption(std::string text, const std::string& word, std::string* value) {
  const size_t at = text.rfind(" " + word + " ");
  if (at != std::string::npos) {
    *value = Trim(text.substr(at + word.size() + 2));
    text = Trim(text.substr(0, at));
  }
  return text;
}

std::string Unquote(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  return text;
}

// A registry value as the account shows it: DWORDs in decimal and hex,
// strings quoted, anything else by type and size.
std::string ValueText(DWORD type, const BYTE* data, DWORD size) {
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number = 0;
    memcpy(&number, data, sizeof(number));
    return std::to_string(number) + " (" + Hex(number) + ")";
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
    text = text.substr(0, text.find(L'\0'));
    return "\"" + Narrow(text) + "\"";
  }
  return std::to_string(size) + " bytes of type " + std::to_string(type);
}

// "HKCU\path" -> root and path.
bool SplitKey(const std::string& key, HKEY* root, std::wstring* path) {
  const size_t slash = key.find('\\');
  const std::string head = key.substr(0, slash);
  if (head == "HKCU" || head == "HKEY_CURRENT_USER")
    *root = HKEY_CURRENT_USER;
  else if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE")
    *root = HKEY_LOCAL_MACHINE;
  else
    return false;
  *path = slash == std::string::npos ? L"" : Wide(key.substr(slash + 1));
  return true;
}

// Every value of a key (none when the key is missing), by name.
std::map<std::string, std::string> ReadValues(const std::string& keyText) {
  std::map<std::string, std::string> values;
  HKEY root = nullptr;
  std::wstring path;
  HKEY key = nullptr;
  if (!SplitKey(keyText, &root, &path) ||
      RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return values;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    BYTE data[2048] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    values[Narrow(name)] = ValueText(type, data, size);
  }
  RegCloseKey(key);
  return values;
}

std::vector<std::string> Split(const std::string& text, char separator = ';') {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    if (!Trim(part).empty())
      parts.push_back(Trim(part));
  }
  return parts;
}

std::vector<std::wstring> Wide(const std::vector<std::string>& texts) {
  std::vector<std::wstring> out;
  for (const std::string& t : texts)
    out.push_back(Wide(t));
  return out;
}

// Processes of an executable name (case-insensitive), with their parents.
std::vector<PROCESSENTRY32W> FindProcesses(const std::wstring& exe) {
  std::vector<PROCESSENTRY32W> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return found;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, exe.c_str()) == 0)
      found.push_back(entry);
  }
  CloseHandle(snapshot);
  return found;
}

class Guest {
 public:
  explicit Guest(std::wstring outDir) : outDir_(std::move(outDir)) {}

  bool Begin() {
    if (!device_.Open()) {
      fprintf(stderr, "guestsim: the tools device stand-in is not running\n");
      return false;
    }
    device_.Reset();
    log_.Mark();
    checks_.Mark();
    // The shell's windows exist before the host starts, as in a session.
    if (!shell_.Launch()) {
      fprintf(stderr, "guestsim: the shell stand-in did not start or is not the one found\n");
      return false;
    }
    const std::string loaded = host_.Launch();
    if (loaded != "load=ok") {
      fprintf(stderr, "guestsim: the host stand-in could not load Mantlet.dll (%s)\n",
              loaded.c_str());
      return false;
    }
    RecordHostCalls();
    drives_ = DriveSnapshot();
    files_ = FileSnapshot();
    return true;
  }

  // Runs one step, then notes what changed in the guest since the last one.
  void Run(StepRecord& step, size_t index) {
    std::istringstream in(step.text);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    rest = Trim(rest);
    step_ = index;

    if (verb == "say" || verb == "section") {
      step.kind = verb == "say" ? StepRecord::kSay : StepRecord::kSection;
      step.text = rest;
      return;
    }
    if (verb == "stop" && !rest.empty()) {
      DWORD bound = 0;
      TakeWithin(" " + rest, &bound);
      if (bound == 0)
        return Fail(step, "expected: stop within <ms>");
      const ULONGLONG began = GetTickCount64();
      step.outcome = host_.Call(verb);
      const ULONGLONG took = GetTickCount64() - began;
      step.outcome += " after " + std::to_string(took) + " ms";
      if (step.outcome.rfind("StopTool=0 ", 0) != 0 || took > bound)
        Fail(step, step.outcome);
    } else if (verb == "start" || verb == "stop" || verb == "vconfig") {
      step.outcome = host_.Call(verb);
    } else if (verb == "mark") {
      checks_.Mark();
      const auto stats = device_.Stats();
      deviceMark_ = stats ? stats->lastSeq : 0;
    } else if (verb == "desktop") {
      // The user's own look (kept aside the first time) or what was in force before.
      if (rest != "user" && rest != "guest")
        return Fail(step, "expected: desktop user|guest");
      if (!guestLook_)
        guestLook_ = testenv::ReadDesktopSettings();
      testenv::WriteDesktopSettings(rest == "user" ? testenv::TypicalUser() : *guestLook_);
    } else if (verb == "expect-desktop" || verb == "expect-saved") {
      ExpectDesktop(step, verb, rest);
    } else if (verb == "notify") {
      step.outcome = host_.Call("notify " + rest);
    } else if (verb == "host") {
      step.outcome = host_.Call(rest);
    } else if (verb == "send") {
      Send(step, rest, true, true);
    } else if (verb == "batch") {
      const bool signal = rest.rfind("--no-signal ", 0) != 0;
      Send(step, Replace(signal ? rest : rest.substr(12), ";", "\n"), false, signal);
    } else if (verb == "signal") {
      step.outcome = testenv::SignalCommandEvent() ? "signalled" : "";
      if (step.outcome.empty())
        Fail(step, "no command event");
    } else if (verb == "cursor" || verb == "expect-cursor") {
      Cursor(step, verb == "cursor", rest);
    } else if (verb == "expect-mailslot") {
      const bool present = testenv::MailslotExists();
      step.outcome = present ? "present" : "absent";
      if (rest != "present" && rest != "absent")
        Fail(step, "expected present or absent");
      else if (step.outcome != rest)
        Fail(step, step.outcome);
    } else if (verb == "device") {
      DeviceMode(step, rest);
    } else if (verb == "fire") {
      const uint32_t status = rest.empty() ? 0 : strtoul(rest.c_str(), nullptr, 0);
      step.outcome =
          std::to_string(device_.FireHostEvent(status)) + " host event wait(s) completed";
    } else if (verb == "wait") {
      Sleep(static_cast<DWORD>(strtoul(rest.c_str(), nullptr, 0)));
      step.outcome = "waited";
    } else if (verb == "expect-log") {
      ExpectLog(step, rest);
    } else if (verb == "expect-device") {
      ExpectDevice(step, rest);
    } else if (verb == "expect-host") {
      ExpectHost(step, rest);
    } else if (verb == "screenshot") {
      Screenshot(step, rest);
    } else if (verb == "registry" || verb == "expect-registry") {
      Registry(step, verb, rest);
    } else if (verb == "watch") {
      Watch(step, rest);
    } else if (verb == "relaunch") {
      EndHost();
      const std::wstring exe = Wide(rest.empty() ? "mantlet_host.exe" : rest);
      testenv::HostOptions options;
      options.executable = exe.c_str();
      step.outcome = host_.Launch(options);
      if (step.outcome != "load=ok")
        return Fail(step, step.outcome);
      RecordHostCalls();
    } else if (verb == "expect-box") {
      ExpectBox(step, rest);
    } else if (verb == "expect-report") {
      ExpectReport(step, rest);
    } else if (verb == "netshares" || verb == "netvolumes") {
      const std::vector<std::wstring> entries = Wide(Split(rest));
      verb == "netshares" ? folders_.SetTree(entries) : folders_.SetVolumes(entries);
      step.outcome = std::to_string(entries.size()) + " name(s) served";
    } else if (verb == "hostshares" || verb == "platform") {
      ScriptDevice(step, verb, rest);
    } else if (verb == "netfail") {
      folders_.SetFailures(Wide(Split(rest)));
      step.outcome = rest.empty() ? "no failures" : "failures set";
    } else if (verb == "netbatch") {
      folders_.SetEnumBatch(strtoul(rest.c_str(), nullptr, 0));
    } else if (verb == "expect-pending") {
      DWORD within = 3000;
      const unsigned long count = strtoul(TakeWithin(rest, &within).c_str(), nullptr, 0);
      if (!device_.WaitPendingHostWaits(count, within))
        Fail(step, "host waits pending: " +
                       std::to_string(device_.Stats() ? device_.Stats()->pendingHostWaits : 0));
    } else if (verb == "expect-drives") {
      ExpectDrives(step, rest);
    } else if (verb == "expect-connections") {
      const auto words = mantletctl::SplitLine(rest);
      if (!words || words->size() != 2)
        return Fail(step, "expected <remote> <count>");
      const size_t got = folders_.Connections((*words)[0]);
      step.outcome = std::to_string(got) + " connection(s)";
      if (got != strtoul((*words)[1].c_str(), nullptr, 0))
        Fail(step, step.outcome);
    } else if (verb == "take-drives") {
      taken_.reset();  // gives back what an earlier step took
      const std::wstring letters = rest == "all" ? testenv::ScopedTakenDrives::FreeLetters()
                                                 : Wide(rest == "none" ? "" : rest);
      if (!letters.empty())
        taken_ = std::make_unique<testenv::ScopedTakenDrives>(letters);
      step.outcome = "taken: " + (letters.empty() ? "none" : Narrow(letters));
    } else if (verb == "connect") {
      Connect(step, rest);
    } else if (verb == "drives") {
      step.outcome = ListDrives();
    } else if (verb == "links" && rest == "clear") {
      testenv::EmptyLinksFolder();
      step.outcome = ListLinks();
    } else if (verb == "links") {
      step.outcome = ListLinks();
    } else if (verb == "user-link") {
      const auto words = mantletctl::SplitLine(rest);
      if (!words || words->size() != 2 ||
          !testenv::MakeUserLink(Wide((*words)[0]), Wide((*words)[1])))
        Fail(step, "expected <name> <target> of a link that could be made");
    } else if (verb == "expect-links") {
      DWORD within = 15000;
      const std::string wanted = TakeWithin(rest, &within);
      const bool seen = testenv::WaitUntil([&] { return ListLinks() == wanted; }, within, 100);
      step.outcome = ListLinks();
      if (!seen)
        Fail(step, step.outcome);
    } else if (verb == "shell" && rest == "restart") {
      shell_.Kill();
      step.outcome = shell_.Launch() ? "a new shell" : "the shell did not start";
    } else if (verb == "shell") {
      step.outcome = shell_.Call(rest);
    } else if (verb == "expect-shell" || verb == "expect-answer") {
      ExpectAnswer(step, rest, verb == "expect-shell");
    } else if (verb == "install") {
      Install(step, rest);
    } else if (verb == "trash") {
      Trash(step, rest);
    } else if (verb == "expect-recycle") {
      ExpectRecycle(step, rest);
    } else if (verb == "expect-process") {
      ExpectProcess(step, rest);
    } else if (verb == "end-process") {
      EndProcesses(step, Unquote(rest));
    } else if (verb == "expect-file") {
      ExpectFile(step, rest);
    } else {
      Fail(step, "unknown step '" + verb + "'");
    }
    Observe(index);
  }

  void EndHost() {
    if (host_.Running()) {
      host_.Call("stop");
      host_.Close();
    }
  }

  void End(guestsim::Account& account) {
    EndHost();
    Observe(account.steps.size());
    for (const testenv::ShellAppBarEvent& e : shell_.AppBarEvents())
      account.appbarMessages.push_back(e.message + " " + e.rest);
    shell_.Close();

    for (const testenv::DevRecord& r : device_.Records()) {
      guestsim::DeviceRequestRecord request{r.seq, r.code, r.blockStatus, r.irpStatus == 0x103,
                                            std::nullopt};
      if (r.block.size() >= 24 && r.code != mantlet::kHostEventWaitRequest)
        request.words = std::make_pair(r.PayloadWord(0), r.PayloadWord(1));
      account.device.push_back(request);
    }
    for (const testenv::HostCallEvent& e : HostCalls()) {
      guestsim::HostMessageRecord message;
      if (e.kind == testenv::HostCallEvent::kEnd) {
        message.kind = guestsim::HostMessageRecord::kEnd;
        message.text = "end of transfer " + std::to_string(e.handle);
      } else {
        message.text = testenv::DescribeHostMessage(testenv::ReadHostMessage(e.bytes));
        message.kind =
            message.text.rfind("registration of ", 0) == 0 ? guestsim::HostMessageRecord::kRegister
            : message.text.rfind("unregistration of ", 0) == 0
                ? guestsim::HostMessageRecord::kUnregister
            : message.text.rfind("log line: ", 0) == 0 ? guestsim::HostMessageRecord::kLog
                                                       : guestsim::HostMessageRecord::kOther;
      }
      account.host.push_back(message);
    }
    account.commands = sent_;
    account.changes = changes_;
    account.logLines = log_.Lines();
  }

 private:
  // The probe's shape requests come in as its thread's messages are read:
  // this thread pumps only here, so they wait in its queue until then.
  static LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR)
      ++probeShapeAsks_;
    return DefWindowProcW(window, message, wParam, lParam);
  }

  static void PumpFor(DWORD ms) {
    const ULONGLONG until = GetTickCount64() + ms;
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
      const ULONGLONG now = GetTickCount64();
      if (now >= until)
        return;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    }
  }

  void Cursor(StepRecord& step, bool place, const std::string& rest) {
    DWORD within = 5000;
    std::istringstream in(TakeWithin(rest, &within));
    POINT want = {};
    if (!(in >> want.x >> want.y))
      return Fail(step, "expected <x> <y>");
    if (place) {
      if (probe_ == nullptr) {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &ProbeProc;
        windowClass.lpszClassName = L"GuestCursorProbe";
        RegisterClassExW(&windowClass);
        probe_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                 windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                 nullptr, nullptr, nullptr);
      }
      if (probe_ == nullptr || !SetCursorPos(want.x, want.y))
        return Fail(step, "no probe window or the cursor did not move");
      SetWindowPos(probe_, HWND_TOPMOST, want.x - 2, want.y - 2, 5, 5,
                   SWP_NOACTIVATE | SWP_SHOWWINDOW);
      // What the move and the new window bring is read before counting starts.
      PumpFor(300);
      probeShapeAsks_ = 0;
      step.outcome = "placed";
      return;
    }
    const ULONGLONG until = GetTickCount64() + within;
    while (probeShapeAsks_ == 0 && GetTickCount64() < until)
      PumpFor(50);
    POINT at = {};
    GetCursorPos(&at);
    HWND left = nullptr;
    testenv::WaitUntil([&] { return (left = FindWindowW(L"MouseSyncAux", nullptr)) == nullptr; },
                       3000);
    step.outcome = std::to_string(probeShapeAsks_) + " shape request(s), cursor at " +
                   std::to_string(at.x) + "," + std::to_string(at.y) +
                   (left != nullptr ? ", a MouseSyncAux window left" : "");
    if (probeShapeAsks_ == 0 || at.x != want.x || at.y != want.y || left != nullptr)
      Fail(step, step.outcome);
    probeShapeAsks_ = 0;
  }

  static std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
    return text;
  }

  static void Fail(StepRecord& step, const std::string& why) {
    step.failed = true;
    step.outcome = why;
  }

  void Watch(StepRecord& step, const std::string& rest) {
    const auto words = mantletctl::SplitLine(rest);
    HKEY root = nullptr;
    std::wstring path;
    if (!words || words->empty() || !SplitKey((*words)[0], &root, &path))
      return Fail(step, "needs a key under HKCU or HKLM");
    Watched& watch = watched_[(*words)[0]];
    watch.names.assign(words->begin() + 1, words->end());
    watch.values = WatchedValues((*words)[0], watch.names);
    step.outcome = std::to_string(watch.values.size()) + " value(s) now";
  }

  static std::map<std::string, std::string> WatchedValues(const std::string& key,
                                                          const std::vector<std::string>& names) {
    std::map<std::string, std::string> values = ReadValues(key);
    if (names.empty())
      return values;
    std::map<std::string, std::string> chosen;
    for (const std::string& name : names) {
      if (values.count(name))
        chosen[name] = values[name];
    }
    return chosen;
  }

  // What changed in the watched keys, the drives and the Links folder since
  // the previous look, noted against the step just run.
  void Observe(size_t index) {
    for (auto& [key, watch] : watched_) {
      std::map<std::string, std::string> now = WatchedValues(key, watch.names);
      std::map<std::string, std::string>& values = watch.values;
      Snapshot before, after;
      for (const auto& [name, value] : values)
        before[{key, name}] = value;
      for (const auto& [name, value] : now)
        after[{key, name}] = value;
      guestsim::Diff(Change::kRegistry, before, after, index, changes_);
      values = std::move(now);
    }
    Snapshot drives = DriveSnapshot();
    guestsim::Diff(Change::kDrive, drives_, drives, index, changes_);
    drives_ = std::move(drives);
    Snapshot files = FileSnapshot();
    guestsim::Diff(Change::kFile, files_, files, index, changes_);
    files_ = std::move(files);
  }

  // Shared-folder drives: letter and share -> Explorer label.
  static Snapshot DriveSnapshot() {
    Snapshot drives;
    for (const auto& [letter, share] : testenv::SharedFoldersScript::Drives())
      drives[{Narrow(std::wstring(1, letter)) + ":", Narrow(share)}] = "\"" + Label(share) + "\"";
    return drives;
  }

  static std::string Label(const std::wstring& share) {
    std::wstring label = share;
    for (wchar_t& c : label)
      c = c == L'\\' ? L'#' : c;
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    const std::wstring key =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\" + label;
    RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"_LabelFromReg", RRF_RT_REG_SZ, nullptr, text,
                 &size);
    return Narrow(text);
  }

  // Files of the Links folder -> what they point at. A file is read once per
  // size and write time, so looking after every step stays cheap.
  Snapshot FileSnapshot() {
    Snapshot files;
    const std::wstring folder = testenv::LinksFolder();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
      return files;
    bool changed = false;
    do {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        continue;
      const std::string name = Narrow(data.cFileName);
      const uint64_t stamp = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) ^
                             data.ftLastWriteTime.dwLowDateTime ^ data.nFileSizeLow;
      const auto known = fileCache_.find(name);
      if (known == fileCache_.end() || known->second.first != stamp)
        changed = true;
      files[{"Links", name}] = known != fileCache_.end() ? known->second.second : "";
      fileStamps_[name] = stamp;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    if (changed) {
      for (const auto& [name, link] : testenv::ReadLinksFolder()) {
        std::string text = "-> " + Narrow(link.target);
        if (!link.iconPath.empty())
          text += " (icon " + std::to_string(link.iconIndex) + ")";
        fileCache_[Narrow(name)] = {fileStamps_[Narrow(name)], text};
        if (files.count({"Links", Narrow(name)}))
          files[{"Links", Narrow(name)}] = text;
      }
    }
    return files;
  }

  void Send(StepRecord& step, const std::string& text, bool single, bool signal) {
    mantletctl::Parsed parsed;
    if (single) {
      const auto words = mantletctl::SplitLine(text);
      if (!words)
        return Fail(step, "unbalanced quotes");
      parsed = mantletctl::ParseCommand(*words);
    } else {
      parsed = mantletctl::ParseBatch(text);
    }
    if (!parsed.ok())
      return Fail(step, parsed.error);
    if (!testenv::SendRecords(parsed.records, signal))
      return Fail(step, "the mailslot is not there");
    for (const mantletctl::Record& r : parsed.records) {
      uint32_t words[2] = {};
      memcpy(words, r.data(), std::min(r.size(), sizeof(words)));
      sent_.push_back({step_, words[0], words[1], r.size()});
    }
    step.outcome = std::to_string(parsed.records.size()) + " record(s) sent";
  }

  // Without a count: at least one line, waited for. With one: waited for
  // until there are that many, then exactly that many (no wait for none).
  void ExpectLog(StepRecord& step, const std::string& rest) {
    DWORD within = 3000;
    std::string level, count;
    std::string text = TakeWithin(rest, &within);
    text = TakeOption(text, "level", &level);
    text = Unquote(TakeOption(text, "count", &count));
    const size_t wanted = count.empty() ? 1 : strtoul(count.c_str(), nullptr, 10);
    if (wanted > 0 && !checks_.WaitFor(text, within, wanted)) {
      const size_t seen = checks_.Count(text);
      return Fail(step, seen == 0 ? "not logged within " + std::to_string(within) + " ms"
                                  : std::to_string(seen) + " line(s) within " +
                                        std::to_string(within) + " ms");
    }
    const std::vector<std::string> lines = checks_.Matching(text);
    step.outcome =
        count.empty() && level.empty() ? "seen" : std::to_string(lines.size()) + " line(s)";
    if (!count.empty() && lines.size() != wanted)
      return Fail(step, step.outcome + ": " + (lines.empty() ? "" : lines.back()));
    // The level letter is the third word: "<date> <time> I MANTLETDLL /Mantlet:...".
    for (const std::string& line : lines) {
      std::istringstream words(line);
      std::string date, time, letter;
      words >> date >> time >> letter;
      if (!level.empty() && letter != level)
        return Fail(step, "not at level " + level + ": " + line);
    }
  }

  // The whole virtual screen as a 24-bit bottom-up BMP next to the account;
  // the runner turns it into <name>.png.
  void Screenshot(StepRecord& step, const std::string& rest) {
    // What the shell draws (its desktop, the strips) is brought up to date.
    if (shell_.Running()) {
      shell_.Call("repaint");
      Sleep(200);
    }
    std::istringstream in(rest);
    std::string name;
    in >> name;
    if (name.empty())
      return Fail(step, "screenshot needs a name");
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, x, y, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    const DWORD imageSize = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + imageSize;
    const std::wstring path = outDir_ + Wide(name) + L".bmp";
    FILE* out = bits != nullptr ? _wfopen(path.c_str(), L"wb") : nullptr;
    if (out != nullptr) {
      fwrite(&file, sizeof(file), 1, out);
      fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out);
      fwrite(bits, 1, imageSize, out);
      fclose(out);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (out == nullptr)
      return Fail(step, "cannot write the screenshot");
    std::string caption;
    std::getline(in, caption);
    step.image = name;
    step.caption = Trim(caption);
    step.outcome = "saved " + name;
  }

  // Each host process records what its emulated hypervisor received in a
  // file of its own (a record file is started afresh), read back in order.
  void RecordHostCalls() {
    const std::wstring name = L"hostcalls-" + std::to_wstring(hostRecords_.size() + 1) + L".txt";
    hostRecords_.push_back(outDir_.empty() ? testenv::NewHostCallRecordPath() : outDir_ + name);
    host_.Call("hv record " + testenv::Utf8(hostRecords_.back()));
  }

  std::vector<testenv::HostCallEvent> HostCalls() const {
    std::vector<testenv::HostCallEvent> events;
    for (const std::wstring& path : hostRecords_) {
      for (testenv::HostCallEvent& e : testenv::ReadHostCallRecord(path))
        events.push_back(std::move(e));
    }
    return events;
  }

  // Messages the host stand-in's emulated hypervisor reassembled, by kind.
  std::vector<std::string> HostMessages(const std::string& kind, const std::string& text) const {
    std::vector<std::string> found;
    for (const testenv::HostCallEvent& e : HostCalls()) {
      if (e.kind != testenv::HostCallEvent::kMessage)
        continue;
      const std::string seen = testenv::DescribeHostMessage(testenv::ReadHostMessage(e.bytes));
      const std::string prefix = kind == "register"     ? "registration of "
                                 : kind == "unregister" ? "unregistration of "
                                                        : "log line: ";
      if (seen.rfind(prefix, 0) == 0 && seen.find(text) != std::string::npos)
        found.push_back(seen);
    }
    return found;
  }

  void ExpectHost(StepRecord& step, const std::string& rest) {
    std::istringstream in(rest);
    std::string kind;
    in >> kind;
    if (kind != "register" && kind != "unregister" && kind != "log")
      return Fail(step, "kind must be register, unregister or log");
    std::string text;
    std::getline(in, text);
    text = Trim(text);
    size_t count = 1;
    if (!text.empty() && isdigit(static_cast<unsigned char>(text[0]))) {
      count = strtoul(text.c_str(), nullptr, 10);
      const size_t after = text.find_first_not_of("0123456789");
      text = after == std::string::npos ? std::string() : Trim(text.substr(after));
    }
    text = Unquote(text);
    const bool seen =
        testenv::WaitUntil([&] { return HostMessages(kind, text).size() >= count; }, 3000);
    const auto found = HostMessages(kind, text);
    if (!seen)
      return Fail(step, "only " + std::to_string(found.size()) + " received");
    step.outcome = std::to_string(found.size()) + " received; last: " + found.back();
  }

  void ExpectDevice(StepRecord& step, const std::string& rest) {
    std::istringstream in(rest);
    std::string codeText, bound;
    size_t count = 1;
    in >> codeText >> count >> bound;
    const uint32_t code = strtoul(codeText.c_str(), nullptr, 0);
    auto got = [&] { return device_.Records(deviceMark_, code).size(); };
    bool seen = false;
    if (bound == "at-most") {
      Sleep(1000);  // whatever is still coming
      seen = got() <= count;
    } else {
      seen = testenv::WaitUntil([&] { return got() >= count; }, 3000);
      if (seen && bound == "exactly") {
        Sleep(1000);  // and no more come
        seen = got() == count;
      }
    }
    step.outcome = std::to_string(got()) + " seen";
    if (!seen)
      Fail(step, step.outcome);
  }

  void Registry(StepRecord& step, const std::string& verb, std::string rest) {
    DWORD within = 5000;  // what a command sent just before may still be writing
    if (verb == "expect-registry")
      rest = TakeWithin(rest, &within);
    const auto words = mantletctl::SplitLine(rest);
    std::vector<std::string> w = words ? *words : std::vector<std::string>{};
    std::string action = "expect";
    if (verb == "registry") {
      action = w.empty() ? "" : w[0];
      if (!w.empty())
        w.erase(w.begin());
    }
    HKEY root = nullptr;
    std::wstring path;
    if (w.empty() || !SplitKey(w[0], &root, &path))
      return Fail(step, "needs a key under HKCU or HKLM");
    const std::wstring name = w.size() > 1 ? Wide(w[1]) : L"";
    LONG result = ERROR_INVALID_PARAMETER;
    if (action == "set" && w.size() == 4 && w[2] == "dword") {
      const DWORD value = strtoul(w[3].c_str(), nullptr, 0);
      result = RegSetKeyValueW(root, path.c_str(), name.c_str(), REG_DWORD, &value, sizeof(value));
    } else if (action == "set" && w.size() == 4 && w[2] == "qword") {
      const uint64_t value = strtoull(w[3].c_str(), nullptr, 0);
      result = RegSetKeyValueW(root, path.c_str(), name.c_str(), REG_QWORD, &value, sizeof(value));
    } else if (action == "set" && w.size() >= 3 && w.size() <= 4 && w[2] == "binary") {
      std::vector<BYTE> bytes;
      const std::string hex = w.size() == 4 ? w[3] : "";
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
      result = RegSetKeyValueW(root, path.c_str(), name.c_str(), REG_BINARY, bytes.data(),
                               static_cast<DWORD>(bytes.size()));
    } else if (action == "set" && w.size() == 4 && w[2] == "sz") {
      const std::wstring text = Wide(w[3]);
      result = RegSetKeyValueW(root, path.c_str(), name.c_str(), REG_SZ, text.c_str(),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    } else if ((action == "deny" || action == "allow") && w.size() == 1) {
      // Wine 8 checks a key's DACL when the user opens it; its owner may
      // always change the DACL, which is how "allow" gives the key back.
      HKEY key = nullptr;
      PSECURITY_DESCRIPTOR dacl = nullptr;
      result =
          RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr);
      if (result == ERROR_SUCCESS && ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                         action == "deny" ? L"D:P(D;;KA;;;WD)" : L"D:P(A;;KA;;;WD)",
                                         SDDL_REVISION_1, &dacl, nullptr)) {
        result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, dacl);
        LocalFree(dacl);
      }
      if (key != nullptr)
        RegCloseKey(key);
    } else if (action == "create" && w.size() == 1) {
      HKEY key = nullptr;
      result =
          RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
      if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    } else if (action == "delete" && w.size() <= 2) {
      result = w.size() == 2 ? RegDeleteKeyValueW(root, path.c_str(), name.c_str())
                             : RegDeleteTreeW(root, path.c_str());
      if (result == ERROR_FILE_NOT_FOUND)
        result = ERROR_SUCCESS;
    } else if (action == "list" && w.size() == 1) {
      std::string listed;
      for (const auto& [valueName, value] : ReadValues(w[0]))
        listed += (listed.empty() ? "" : "; ") + valueName + "=" + value;
      step.outcome = listed.empty() ? "no values" : listed;
      return;
    } else if (action == "expect" && w.size() == 3) {
      // A number is a DWORD; any other text but "absent" a string.
      const bool number = isdigit(static_cast<unsigned char>(w[2][0])) != 0;
      DWORD value = 0;
      wchar_t text[1024] = {};
      bool present = false;
      const bool ok = testenv::WaitUntil(
          [&] {
            DWORD size = number ? sizeof(value) : sizeof(text);
            present =
                RegGetValueW(root, path.c_str(), name.c_str(),
                             number ? RRF_RT_REG_DWORD : RRF_RT_REG_SZ, nullptr,
                             number ? static_cast<void*>(&value) : text, &size) == ERROR_SUCCESS;
            if (w[2] == "absent")
              return !present;
            return present &&
                   (number ? value == strtoul(w[2].c_str(), nullptr, 0) : Wide(w[2]) == text);
          },
          within, 50);
      step.outcome = !present ? "absent" : number ? "holds " + Hex(value) : "holds " + Narrow(text);
      if (!ok)
        Fail(step, step.outcome);
      return;
    } else {
      return Fail(step, "unknown registry step");
    }
    if (result != ERROR_SUCCESS)
      return Fail(step, "error " + std::to_string(result));
    step.outcome = "done";
  }

  // "[close | press <button>] [=> <text>]": the box is read, its
  // "caption": "text" [&Yes|&No] must contain the text, and it is then closed
  // or answered with the button whose text (without its '&') is given.
  void ExpectBox(StepRecord& step, std::string rest) {
    std::string wanted;
    if (const size_t arrow = rest.find("=> "); arrow != std::string::npos) {
      wanted = Trim(rest.substr(arrow + 3));
      rest = Trim(rest.substr(0, arrow));
    }
    if (rest == "none") {
      if (testenv::WaitForMessageBox(host_.Pid(), 1500))
        Fail(step, "a message box is open");
      return;
    }
    // A dialog is found as soon as its window exists, before it has its
    // caption and text; it is read again until it has them.
    std::optional<testenv::MessageBoxWindow> box;
    testenv::WaitUntil(
        [&] {
          box = testenv::WaitForMessageBox(host_.Pid(), 20000);
          return !box || !box->caption.empty() || !box->text.empty();
        },
        5000, 100);
    if (!box)
      return Fail(step, "no message box within 20 s");
    step.outcome = "\"" + Narrow(box->caption) + "\": \"" + Narrow(box->text) + "\" [";
    for (size_t i = 0; i < box->buttons.size(); ++i)
      step.outcome += (i == 0 ? "" : "|") + Narrow(box->buttons[i]);
    step.outcome += "]";
    if (step.outcome.find(wanted) == std::string::npos)
      return Fail(step, step.outcome + ": not \"" + wanted + "\"");
    if (rest == "close") {
      if (!testenv::CloseMessageBox(box->window))
        return Fail(step, "the box did not close");
      step.outcome += ", closed";
    } else if (rest.rfind("press ", 0) == 0) {
      const std::wstring wanted = Wide(Unquote(Trim(rest.substr(6))));
      HWND button = nullptr;
      for (HWND child = GetWindow(box->window, GW_CHILD); child != nullptr && button == nullptr;
           child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[64] = {};
        SendMessageTimeoutW(child, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                            5000, nullptr);
        std::wstring plain;
        for (const wchar_t* c = text; *c != 0; ++c) {
          if (*c != L'&')
            plain += *c;
        }
        if (_wcsicmp(plain.c_str(), wanted.c_str()) == 0)
          button = child;
      }
      if (button == nullptr)
        return Fail(step, step.outcome + ": no button \"" + Narrow(wanted) + "\"");
      PostMessageW(box->window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
      if (!testenv::WaitUntil([&] { return !IsWindow(box->window); }, 15000))
        return Fail(step, step.outcome + ": still open after \"" + Narrow(wanted) + "\"");
      step.outcome += ", answered \"" + Narrow(wanted) + "\"";
    } else if (!rest.empty()) {
      Fail(step, "expected close or press <button>");
    }
  }

  // "<line> => <text> [within <ms>]": polls the stand-in until its answer to
  // the line contains the text.
  void ExpectAnswer(StepRecord& step, const std::string& rest, bool fromShell) {
    const size_t arrow = rest.find(" => ");
    if (arrow == std::string::npos)
      return Fail(step, "expected '<command> => <text>'");
    const std::string line = rest.substr(0, arrow);
    DWORD within = 3000;
    const std::string text = TakeWithin(rest.substr(arrow + 4), &within);
    std::string answer;
    const bool seen = testenv::WaitUntil(
        [&] {
          answer = fromShell ? shell_.Call(line) : host_.Call(line);
          return answer.find(text) != std::string::npos;
        },
        within, 100);
    if (seen) {
      step.outcome = answer;
    } else {
      Fail(step, "answer was '" + answer + "'");
    }
  }

  void DeviceMode(StepRecord& step, const std::string& rest) {
    std::istringstream words(rest);
    std::string what, value;
    words >> what >> value;
    bool ok = false;
    if (what == "cancellable" && (value == "on" || value == "off")) {
      ok = device_.SetCancellable(value == "on");
      step.outcome = value == "on" ? "CancelIo ends held requests" : "only a close ends them";
    } else if (what == "hang" && value == "on") {
      ok = device_.Hang();
      step.outcome = "the device answers nothing until told";
    } else if (what == "hang" && value == "off") {
      ok = device_.EndHang();
      step.outcome = "the device answers again; what it held failed";
    } else if (what == "answer") {
      // answer <code> [once] [status <n>] [irp <n>] [delay <ms>] [times <n>]
      testenv::DevResponse answer;
      bool once = false;
      unsigned long times = 1;
      for (std::string word, number; words >> word;) {
        if (word == "once") {
          once = true;
          continue;
        }
        if (!(words >> number))
          return Fail(step, "'" + word + "' needs a number");
        const unsigned long n = strtoul(number.c_str(), nullptr, 0);
        if (word == "status") {
          answer.blockStatus = n;
        } else if (word == "irp") {
          answer.irpStatus = static_cast<int32_t>(n);
        } else if (word == "delay") {
          answer.delayMs = n;
        } else if (word == "times") {
          times = n;
        } else {
          return Fail(step, "unknown answer word '" + word + "'");
        }
      }
      const uint32_t code = strtoul(value.c_str(), nullptr, 0);
      ok = true;
      for (unsigned long i = 0; i < times && ok; ++i)
        ok = device_.SetResponse(code, answer, once);
      step.outcome = std::to_string(times) + " answer(s) set for " + Hex(code);
    } else if (what == "hang" && !value.empty() && isdigit(static_cast<unsigned char>(value[0]))) {
      ok = device_.HangFor(strtoul(value.c_str(), nullptr, 0));
      step.outcome = "the device answers nothing for " + value + " ms";
    } else {
      return Fail(step,
                  "expected: device cancellable on|off, device hang <ms>|on|off, "
                  "device answer <code> ...");
    }
    if (!ok)
      Fail(step, "the device stand-in refused the control");
  }

  void ScriptDevice(StepRecord& step, const std::string& verb, const std::string& rest) {
    testenv::DevResponse answer;
    uint32_t code = mantlet::kHostPlatformCodeRequest;
    if (verb == "platform") {
      const uint32_t platform = strtoul(rest.c_str(), nullptr, 0);
      answer.patchOffset = 36;
      for (int i = 0; i < 4; ++i)
        answer.patch.push_back(static_cast<uint8_t>(platform >> (8 * i)));
    } else {
      code = mantlet::kHostShareListRequest;
      answer.hasDescriptorData = true;
      answer.tooSmallStatus = mantlet::kDeviceStatusBufferTooSmall;
      std::vector<testenv::HostShareEntry> shares;
      for (const std::string& share : Split(rest)) {
        const size_t a = share.find(':'), b = share.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos)
          return Fail(step, "expected <flags>:<kind>:<name>");
        shares.push_back({static_cast<uint32_t>(strtoul(share.c_str(), nullptr, 0)),
                          static_cast<uint16_t>(strtoul(share.c_str() + a + 1, nullptr, 0)),
                          share.substr(b + 1)});
      }
      answer.descriptorData = testenv::EncodeHostShares(shares);
    }
    if (!device_.SetResponse(code, answer, false))
      return Fail(step, "the device stand-in refused the answer");
    step.outcome = "answer set for " + Hex(code);
  }

  // "<letter>:<share>|..." in letter order ("none" for no drive) [within <ms>].
  void ExpectDrives(StepRecord& step, const std::string& rest) {
    DWORD within = 15000;
    const std::string wanted = TakeWithin(rest, &within);
    std::string mapped;
    const bool seen = testenv::WaitUntil(
        [&] {
          mapped.clear();
          for (const auto& [letter, share] : testenv::SharedFoldersScript::Drives())
            mapped += (mapped.empty() ? "" : "|") + Narrow(std::wstring(1, letter)) + ":" +
                      Narrow(share.substr(share.find(L'\\', 2) + 1));
          if (mapped.empty())
            mapped = "none";
          return mapped == wanted;
        },
        within, 100);
    step.outcome = mapped;
    if (!seen)
      Fail(step, "drives: " + mapped);
  }

  // "<letter>: <remote>": a connection of the user's own, made through the router.
  void Connect(StepRecord& step, const std::string& rest) {
    const auto words = mantletctl::SplitLine(rest);
    if (!words || words->size() != 2)
      return Fail(step, "expected <letter>: <remote>");
    std::wstring local = Wide((*words)[0]), remote = Wide((*words)[1]);
    NETRESOURCEW resource = {};
    resource.dwType = RESOURCETYPE_DISK;
    resource.lpLocalName = local.data();
    resource.lpRemoteName = remote.data();
    const DWORD result = WNetAddConnection2W(&resource, nullptr, nullptr, 0);
    if (result != NO_ERROR)
      return Fail(step, "error " + std::to_string(result));
    step.outcome = "connected";
  }

  static std::string ListDrives() {
    std::string out;
    for (const auto& [letter, share] : testenv::SharedFoldersScript::Drives()) {
      out += (out.empty() ? "" : ", ") + Narrow(std::wstring(1, letter)) + ": " + Narrow(share) +
             " \"" + Label(share) + "\"";
    }
    return out.empty() ? "no drives" : out;
  }

  static std::string ListLinks() {
    std::string out;
    for (const auto& [name, link] : testenv::ReadLinksFolder()) {
      out += (out.empty() ? "" : ", ") + Narrow(name) + " -> " + Narrow(link.target) +
             (link.iconIndex != 0 ? " (icon " + std::to_string(link.iconIndex) + ")" : "");
    }
    return out.empty() ? "no shortcuts" : out;
  }

  void ExpectReport(StepRecord& step, const std::string& rest) {
    std::istringstream in(rest);
    std::string code, first, second, word;
    DWORD within = 5000;
    in >> code >> first >> second;
    if (in >> word && word == "within")
      in >> within;
    const uint32_t want[] = {strtoul(code.c_str(), nullptr, 0), strtoul(first.c_str(), nullptr, 0),
                             strtoul(second.c_str(), nullptr, 0)};
    std::optional<testenv::DevRecord> match;
    testenv::WaitUntil(
        [&] {
          for (const testenv::DevRecord& r : device_.Records(reportSeq_[want[0]], want[0])) {
            if (r.block.size() >= 24 && r.PayloadWord(0) == want[1] &&
                r.PayloadWord(1) == want[2]) {
              match = r;
              return true;
            }
          }
          return false;
        },
        within);
    if (!match)
      return Fail(step, "no such request");
    reportSeq_[want[0]] = match->seq;
    step.outcome = "#" + std::to_string(match->seq) + " " + guestsim::RequestName(want[0]);
  }

  static bool MakeFolders(const std::wstring& folder) {
    for (size_t at = folder.find(L'\\', 3);; at = folder.find(L'\\', at + 1)) {
      const std::wstring part = folder.substr(0, at);
      if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
      if (at == std::wstring::npos)
        return true;
    }
  }

  void Install(StepRecord& step, const std::string& rest) {
    const auto words = mantletctl::SplitLine(rest);
    if (!words || words->size() != 2)
      return Fail(step, "expected <file> <folder>");
    const std::wstring folder = Wide((*words)[1]);
    const std::wstring target = folder + L"\\" + Wide((*words)[0]);
    if (!MakeFolders(folder))
      return Fail(step, "cannot make the folder (error " + std::to_string(GetLastError()) + ")");
    if (!CopyFileW(testenv::BinPath(Wide((*words)[0]).c_str()).c_str(), target.c_str(), FALSE))
      return Fail(step, "cannot copy (error " + std::to_string(GetLastError()) + ")");
    step.outcome = "copied to " + Narrow(target);
  }

  void Trash(StepRecord& step, const std::string& rest) {
    const auto words = mantletctl::SplitLine(rest);
    if (!words || words->empty() || words->size() > 2)
      return Fail(step, "expected <path> [text]");
    const std::wstring path = Wide((*words)[0]);
    const size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos)
      MakeFolders(path.substr(0, slash));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return Fail(step, "cannot write the file (error " + std::to_string(GetLastError()) + ")");
    const std::string text = words->size() == 2 ? (*words)[1] + "\r\n" : std::string();
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    std::wstring from = path;
    from.push_back(L'\0');  // the list ends with an empty name
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    const int result = SHFileOperationW(&operation);
    if (result != 0 || operation.fAnyOperationsAborted)
      return Fail(step, "not moved to the recycle bin (" + std::to_string(result) + ")");
    step.outcome = "written and moved to the recycle bin";
  }

  void ExpectRecycle(StepRecord& step, const std::string& rest) {
    DWORD within = 5000;
    const long long wanted = strtoll(TakeWithin(rest, &within).c_str(), nullptr, 0);
    SHQUERYRBINFO info = {};
    const bool seen = testenv::WaitUntil(
        [&] {
          info = {};
          info.cbSize = sizeof(info);
          return SUCCEEDED(SHQueryRecycleBinW(nullptr, &info)) && info.i64NumItems == wanted;
        },
        within, 100);
    step.outcome =
        std::to_string(info.i64NumItems) + " item(s), " + std::to_string(info.i64Size) + " bytes";
    if (!seen)
      Fail(step, step.outcome);
  }

  void ExpectProcess(StepRecord& step, const std::string& rest) {
    DWORD within = 10000;
    std::vector<std::string> w =
        mantletctl::SplitLine(TakeWithin(rest, &within)).value_or(std::vector<std::string>{});
    const bool child = !w.empty() && w.back() == "child";
    if (child)
      w.pop_back();
    if (w.size() != 2 ||
        (w[1] != "running" && w[1] != "gone" && !isdigit(static_cast<unsigned char>(w[1][0])))) {
      return Fail(step, "expected <exe> running|gone|<count> [child]");
    }
    const std::wstring exe = Wide(w[0]);
    const size_t count = strtoul(w[1].c_str(), nullptr, 10);
    const auto wanted = [&](size_t n) {
      return w[1] == "running" ? n > 0 : w[1] == "gone" ? n == 0 : n == count;
    };
    std::vector<PROCESSENTRY32W> found;
    const bool seen = testenv::WaitUntil(
        [&] {
          found = FindProcesses(exe);
          return wanted(found.size());
        },
        within, 100);
    size_t strangers = 0;
    step.outcome = found.empty() ? "none running" : "";
    for (const PROCESSENTRY32W& p : found) {
      const bool ours = p.th32ParentProcessID == host_.Pid();
      strangers += ours ? 0 : 1;
      step.outcome += (step.outcome.empty() ? "" : "; ") + std::string("process ") +
                      std::to_string(p.th32ProcessID) + ", started by " +
                      (ours ? std::string("the host process")
                            : "process " + std::to_string(p.th32ParentProcessID));
    }
    if (!seen || (child && strangers > 0))
      Fail(step, step.outcome);
  }

  void EndProcesses(StepRecord& step, const std::string& exe) {
    size_t ended = 0;
    for (const PROCESSENTRY32W& p : FindProcesses(Wide(exe))) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, p.th32ProcessID);
      if (process == nullptr)
        continue;
      if (TerminateProcess(process, 1) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0)
        ++ended;
      CloseHandle(process);
    }
    step.outcome = std::to_string(ended) + " ended";
  }

  // expect-desktop user|<text>: the look in force is the user's own, or its
  // description contains the text; expect-saved: the values Weave mode keeps.
  void ExpectDesktop(StepRecord& step, const std::string& verb, const std::string& rest) {
    DWORD within = 5000;
    const std::string wanted = TakeWithin(rest, &within);
    const std::string user = testenv::Describe(testenv::TypicalUser());
    const bool seen = testenv::WaitUntil(
        [&] {
          if (verb == "expect-saved") {
            step.outcome = testenv::Narrow(testenv::SavedValueNames());
            return step.outcome == (wanted == "none" ? "" : wanted);
          }
          step.outcome = testenv::Describe(testenv::ReadDesktopSettings());
          return wanted == "user" ? step.outcome == user
                                  : step.outcome.find(wanted) != std::string::npos;
        },
        within, 100);
    if (!seen)
      Fail(step, step.outcome.empty() ? "nothing saved" : step.outcome);
  }

  void ExpectFile(StepRecord& step, const std::string& rest) {
    const size_t arrow = rest.find(" => ");
    if (arrow == std::string::npos)
      return Fail(step, "expected '<path> => <text>'");
    const std::wstring path = Wide(Unquote(rest.substr(0, arrow)));
    DWORD within = 5000;
    const std::string text = TakeWithin(rest.substr(arrow + 4), &within);
    std::string content;
    const bool seen = testenv::WaitUntil(
        [&] {
          std::ifstream in(path.c_str(), std::ios::binary);
          content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
          return content.find(text) != std::string::npos;
        },
        within, 100);
    step.outcome = content.empty() ? "no such file, or empty" : Trim(content);
    if (!seen)
      Fail(step, step.outcome);
  }

  std::optional<testenv::DesktopSettings> guestLook_;  // before "desktop user"
  size_t step_ = 0;                                    // the step being run
  HWND probe_ = nullptr;                               // the cursor probe, once placed
  static inline int probeShapeAsks_ = 0;               // WM_SETCURSOR seen by the probe
  std::map<uint32_t, uint32_t> reportSeq_;             // per request code
  std::vector<guestsim::SentCommand> sent_;
  std::vector<Change> changes_;
  struct Watched {
    std::vector<std::string> names;  // empty: every value
    std::map<std::string, std::string> values;
  };
  std::map<std::string, Watched> watched_;  // by key
  Snapshot drives_;
  Snapshot files_;
  std::map<std::string, std::pair<uint64_t, std::string>> fileCache_;  // name -> stamp, text
  std::map<std::string, uint64_t> fileStamps_;
  testenv::SharedFoldersScript folders_;
  std::unique_ptr<testenv::ScopedTakenDrives> taken_;
  testenv::ShellStandIn shell_;
  std::wstring outDir_;
  std::vector<std::wstring> hostRecords_;  // one per host process, in order
  testenv::ToolsDevControl device_;
  testenv::LogTail log_;
  testenv::LogTail checks_;  // what expect-log looks at: the log since the last mark
  uint32_t deviceMark_ = 0;  // what expect-device counts: requests after this one
  testenv::HostProcess host_;
};

bool WriteFileText(const std::wstring& path, const std::string& text) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr)
    return false;
  const bool ok = fwrite(text.data(), 1, text.size(), out) == text.size();
  return fclose(out) == 0 && ok;
}

}  // namespace

// guestsim <scenario> [account.txt]: the HTML page goes next to the account
// as account.html, the screenshots too.
// guestsim --check <scenario> [<name>]: failed steps as "<name>:<line>: ...",
// <name> being how the scenario's file is known where the run is read.
int wmain(int argc, wchar_t** argv) {
  const bool check = argc >= 2 && wcscmp(argv[1], L"--check") == 0;
  if (check) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    fprintf(stderr,
            "usage: guestsim <scenario file> [account file]\n"
            "       guestsim --check <scenario file> [name shown]\n");
    return 2;
  }
  std::ifstream file(argv[1]);
  if (!file) {
    fprintf(stderr, "guestsim: cannot read the scenario\n");
    return 2;
  }
  guestsim::Account account;
  const std::wstring scenario = argv[1];
  account.scenario = Narrow(scenario.substr(scenario.find_last_of(L"\\/") + 1));
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#')
      continue;
    StepRecord step;
    step.line = number;
    step.text = line;
    account.steps.push_back(step);
  }

  std::wstring outDir;
  if (argc >= 3 && !check) {
    outDir = argv[2];
    outDir = outDir.substr(0, outDir.find_last_of(L"\\/") + 1);
  }
  CoInitialize(nullptr);
  Guest guest(outDir);
  if (!guest.Begin())
    return 3;
  const ULONGLONG begun = GetTickCount64();
  for (size_t i = 0; i < account.steps.size(); ++i) {
    StepRecord& step = account.steps[i];
    const ULONGLONG t0 = GetTickCount64();
    guest.Run(step, i);
    step.seconds = static_cast<double>(GetTickCount64() - t0) / 1000.0;
    if (step.kind == StepRecord::kAction) {
      fprintf(stderr, "guestsim: %s %3d %s -> %s\n", step.failed ? "FAIL" : "ok", step.line,
              step.text.c_str(), step.outcome.c_str());
    }
  }
  guest.End(account);
  account.seconds = static_cast<double>(GetTickCount64() - begun) / 1000.0;

  if (check) {
    const std::string shown = argc >= 3 ? Narrow(argv[2]) : Narrow(scenario);
    for (const StepRecord& step : account.steps) {
      if (step.failed)
        printf("%s:%d: %s -- %s\n", shown.c_str(), step.line, step.text.c_str(),
               step.outcome.c_str());
    }
    printf("%zu step(s), %zu failed\n", account.steps.size(), account.Failures());
    fflush(stdout);
    return account.Failures() == 0 ? 0 : 1;
  }

  const std::string text = guestsim::TextAccount(account);
  if (argc >= 3) {
    if (!WriteFileText(argv[2], text) ||
        !WriteFileText(outDir + L"account.html", guestsim::HtmlAccount(account))) {
      fprintf(stderr, "guestsim: cannot write the account\n");
      return 4;
    }
  } else {
    fwrite(text.data(), 1, text.size(), stdout);
  }
  return account.Failures() == 0 ? 0 : 1;
}
