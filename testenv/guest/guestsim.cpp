// The simulated guest: plays a scenario against the real module loaded in the
// host stand-in, with the tools device stand-in answering, and writes an
// account of what happened. Runs inside the Wine prefix.
//
// Scenario lines (one step each; '#' starts a comment):
//   start | stop | notify <code> | vconfig      the host's entry-point calls
//   host <line>                                 any host stand-in command
//   send <mantletctl command>                   one command record, signalled
//   batch <cmd> ; <cmd> ; ...                   several records, one signal
//   fire [status]                               complete the pending host event wait
//   wait <ms>                                   let the tool work
//   expect-log <text> [within <ms>]             a log line containing the text
//   expect-device <code> [count]                that many device requests of a code
//   say <text>                                  a line of narrative for the account
//   screenshot <name> [caption]                 the simulated desktop, saved as <name>.bmp
//   expect-host <kind> [count] [text]           at least count (1) messages of a kind
//                                               (register, unregister, log) containing
//                                               the text reached the emulated hypervisor
//   registry set <key> <name> dword <n>|sz <text>
//                                               a value in the guest's registry (HKCU\..., HKLM)
//   registry delete <key> [<name>]              a value, or the key with everything below it
//   registry list <key>                         every value of the key, shown in the account
//   expect-registry <key> <name> <n>|absent     a DWORD value as expected, or no such value
//   relaunch                                    a new host stand-in (per-program settings anew)
//   expect-box [close]                          a message box of the host: its caption and text
//   expect-report <code> <word> <word>          a device request with these payload words, newer
//                                               than the one the previous expect-report matched
//   shell <line>                                any shell stand-in command
//   expect-shell <line> => <text> [within <ms>] the shell stand-in's answer contains the text
//   expect-answer <line> => <text> [within <ms>] the host stand-in's answer contains the text
//   netshares <entry> ; <entry> ...             the shared-folders provider's tree ("Media/Photos")
//   netvolumes <name> ; <name> ...              further names the provider connects
//   hostshares <flags>:<kind>:<name> ; ...      the device's answer to the share-list request
//   platform <code>                             the device's answer to the platform-code request
//   drives                                      the provider's drive letters and their labels
//   links                                       the Links folder's shortcuts and their targets
// expect-report also takes "within <ms>" (default 5000); it looks only at requests newer than
// the last one it matched of the same code.
// Keys and names with spaces go in double quotes.
#include <windows.h>
#include <objbase.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/device_request.h"
#include "core/utf.h"
#include "ctl_syntax.h"
#include "host_process.h"
#include "hostcall_record.h"
#include "log_tail.h"
#include "links_folder.h"
#include "message_boxes.h"
#include "netprov_control.h"
#include "shell_control.h"
#include "tool_channel.h"
#include "toolsdev_client.h"
#include "wait_until.h"

namespace {

struct Step {
  int line = 0;
  std::string text;
  std::string outcome;
  bool failed = false;
  bool narrative = false;
};

const char* RequestName(uint32_t code) {
  switch (code) {
    case mantlet::kHostEventWaitRequest:
      return "host event wait";
    case mantlet::kHostShareListRequest:
      return "host share list";
    case mantlet::kHostPlatformCodeRequest:
      return "host platform code";
    case mantlet::kTaskbarStateReport:
      return "taskbar/desktop state report";
    case mantlet::kKeyboardHotkeysReport:
      return "keyboard hotkeys report";
    case mantlet::kBrowserInfoReport:
      return "browser information report";
    default:
      return "unknown request";
  }
}

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
    hostRecord_ = outDir_.empty() ? testenv::NewHostCallRecordPath() : outDir_ + L"hostcalls.txt";
    host_.Call("hv record " + testenv::Utf8(hostRecord_));
    return true;
  }

  void Run(Step& step) {
    std::istringstream in(step.text);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    rest = Trim(rest);

    if (verb == "start" || verb == "stop" || verb == "vconfig") {
      step.outcome = host_.Call(verb);
    } else if (verb == "notify") {
      step.outcome = host_.Call("notify " + rest);
    } else if (verb == "host") {
      step.outcome = host_.Call(rest);
    } else if (verb == "send" || verb == "batch") {
      Send(step, verb == "send" ? rest : Replace(rest, ";", "\n"), verb == "send");
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
    } else if (verb == "say") {
      step.narrative = true;
    } else if (verb == "registry" || verb == "expect-registry") {
      Registry(step, verb, rest);
    } else if (verb == "relaunch") {
      EndHost();
      step.outcome = host_.Launch();
      if (step.outcome != "load=ok")
        Fail(step, step.outcome);
    } else if (verb == "expect-box") {
      ExpectBox(step, rest == "close");
    } else if (verb == "expect-report") {
      ExpectReport(step, rest);
    } else if (verb == "netshares" || verb == "netvolumes") {
      const std::vector<std::wstring> entries = Wide(Split(rest));
      verb == "netshares" ? folders_.SetTree(entries) : folders_.SetVolumes(entries);
      step.outcome = std::to_string(entries.size()) + " name(s) served";
    } else if (verb == "hostshares" || verb == "platform") {
      ScriptDevice(step, verb, rest);
    } else if (verb == "drives") {
      step.outcome = ListDrives();
    } else if (verb == "links") {
      step.outcome = ListLinks();
    } else if (verb == "shell") {
      step.outcome = shell_.Call(rest);
    } else if (verb == "expect-shell" || verb == "expect-answer") {
      ExpectAnswer(step, rest, verb == "expect-shell");
    } else {
      Fail(step, "unknown step '" + verb + "'");
    }
  }

  void EndHost() {
    if (host_.Running()) {
      host_.Call("stop");
      host_.Close();
    }
  }

  void End() {
    EndHost();
    shellLog_ = shell_.AppBarEvents();
    shell_.Close();
  }

  void WriteAccount(FILE* out, const std::vector<Step>& steps) {
    fprintf(out, "== Scenario ==\n");
    for (const Step& s : steps) {
      if (s.narrative) {
        fprintf(out, "\n        %s\n", s.text.c_str() + 4);
        continue;
      }
      fprintf(out, "%s %3d  %-44s %s\n", s.failed ? "FAIL" : "  ok", s.line, s.text.c_str(),
              s.outcome.c_str());
    }

    fprintf(out, "\n== Commands the tool handled (its own log lines) ==\n");
    for (const std::string& line : log_.Lines()) {
      const std::string message = testenv::LogMessage(line);
      if (message.find("Mantlet's going to handle") == 0 ||
          message.find("Mantlet is handling") == 0 || message.find("Unsupported command") == 0) {
        fprintf(out, "  %s\n", message.c_str());
      }
    }

    fprintf(out, "\n== Device requests the tools device received ==\n");
    for (const testenv::DevRecord& r : device_.Records()) {
      fprintf(out, "  #%-4u %s (%s), %u bytes, status %s", r.seq, Hex(r.code).c_str(),
              RequestName(r.code), r.inputLength, Hex(r.blockStatus).c_str());
      if (r.block.size() >= 24 && r.code != mantlet::kHostEventWaitRequest) {
        fprintf(out, ", payload words %u %u", r.PayloadWord(0), r.PayloadWord(1));
      }
      fprintf(out, "%s\n", r.irpStatus == 0x103 ? " (pending)" : "");
    }

    fprintf(out, "\n== What the host received over the hypervisor call ==\n");
    for (const testenv::HostCallEvent& e : testenv::ReadHostCallRecord(hostRecord_)) {
      if (e.kind == testenv::HostCallEvent::kEnd) {
        fprintf(out, "  (end of transfer %d)\n", e.handle);
        continue;
      }
      fprintf(out, "  %s\n",
              testenv::DescribeHostMessage(testenv::ReadHostMessage(e.bytes)).c_str());
    }

    if (!shellLog_.empty()) {
      fprintf(out, "\n== Appbar messages the shell received ==\n");
      for (const testenv::ShellAppBarEvent& e : shellLog_)
        fprintf(out, "  %-9s %s\n", e.message.c_str(), e.rest.c_str());
    }

    if (!screenshots_.empty()) {
      fprintf(out, "\n== Screenshots ==\n");
      for (const std::string& shot : screenshots_)
        fprintf(out, "  %s\n", shot.c_str());
    }

    fprintf(out, "\n== Log lines ==\n");
    for (const std::string& line : log_.Lines())
      fprintf(out, "  %s\n", line.c_str());

    size_t failures = 0;
    for (const Step& s : steps)
      failures += s.failed ? 1 : 0;
    fprintf(out, "\n== Result: %zu step(s), %zu failed ==\n", steps.size(), failures);
  }

 private:
  static std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
    return text;
  }

  static void Fail(Step& step, const std::string& why) {
    step.failed = true;
    step.outcome = why;
  }

  void Send(Step& step, const std::string& text, bool single) {
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
    if (!testenv::SendRecords(parsed.records))
      return Fail(step, "the mailslot is not there");
    step.outcome = std::to_string(parsed.records.size()) + " record(s) sent";
  }

  void ExpectLog(Step& step, const std::string& rest) {
    std::string text = rest;
    DWORD within = 3000;
    const size_t at = rest.rfind(" within ");
    if (at != std::string::npos) {
      text = rest.substr(0, at);
      within = strtoul(rest.c_str() + at + 8, nullptr, 0);
    }
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
      text = text.substr(1, text.size() - 2);
    if (log_.WaitFor(text, within)) {
      step.outcome = "seen";
    } else {
      Fail(step, "not logged within " + std::to_string(within) + " ms");
    }
  }

  // The whole virtual screen as a 24-bit bottom-up BMP next to the account.
  void Screenshot(Step& step, const std::string& rest) {
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
    const std::wstring path = outDir_ + std::wstring(name.begin(), name.end()) + L".bmp";
    FILE* out = _wfopen(path.c_str(), L"wb");
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
    screenshots_.push_back(name + ".bmp" + (caption.empty() ? "" : " -" + caption));
    step.outcome = "saved " + name + ".bmp";
  }

  // Messages the host stand-in's emulated hypervisor reassembled, by kind.
  std::vector<std::string> HostMessages(const std::string& kind, const std::string& text) const {
    std::vector<std::string> found;
    for (const testenv::HostCallEvent& e : testenv::ReadHostCallRecord(hostRecord_)) {
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

  void ExpectHost(Step& step, const std::string& rest) {
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
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
      text = text.substr(1, text.size() - 2);
    const bool seen =
        testenv::WaitUntil([&] { return HostMessages(kind, text).size() >= count; }, 3000);
    const auto found = HostMessages(kind, text);
    if (!seen)
      return Fail(step, "only " + std::to_string(found.size()) + " received");
    step.outcome = std::to_string(found.size()) + " received; last: " + found.back();
  }

  void ExpectDevice(Step& step, const std::string& rest) {
    std::istringstream in(rest);
    std::string codeText;
    size_t count = 1;
    in >> codeText >> count;
    const uint32_t code = strtoul(codeText.c_str(), nullptr, 0);
    const bool seen =
        testenv::WaitUntil([&] { return device_.Records(0, code).size() >= count; }, 3000);
    const size_t got = device_.Records(0, code).size();
    if (seen) {
      step.outcome = std::to_string(got) + " seen";
    } else {
      Fail(step, "only " + std::to_string(got) + " seen");
    }
  }

  static std::wstring Wide(const std::string& text) {
    const std::u16string wide = mantlet::Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
  }
  static std::string Narrow(const std::wstring& text) {
    return mantlet::Utf16ToUtf8(std::u16string(text.begin(), text.end()));
  }

  // "HKCU\path" -> root and path.
  static bool SplitKey(const std::string& key, HKEY* root, std::wstring* path) {
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

  void Registry(Step& step, const std::string& verb, const std::string& rest) {
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
    } else if (action == "set" && w.size() == 4 && w[2] == "sz") {
      const std::wstring text = Wide(w[3]);
      result = RegSetKeyValueW(root, path.c_str(), name.c_str(), REG_SZ, text.c_str(),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    } else if (action == "delete" && w.size() <= 2) {
      result = w.size() == 2 ? RegDeleteKeyValueW(root, path.c_str(), name.c_str())
                             : RegDeleteTreeW(root, path.c_str());
      if (result == ERROR_FILE_NOT_FOUND)
        result = ERROR_SUCCESS;
    } else if (action == "list" && w.size() == 1) {
      step.outcome = ListValues(root, path);
      return;
    } else if (action == "expect" && w.size() == 3) {
      DWORD value = 0, size = sizeof(value);
      const bool present = RegGetValueW(root, path.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr,
                                        &value, &size) == ERROR_SUCCESS;
      const bool ok =
          w[2] == "absent" ? !present : present && value == strtoul(w[2].c_str(), nullptr, 0);
      step.outcome = present ? "holds " + Hex(value) : "absent";
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

  // name=value for each value; REG_DWORD in decimal and hex.
  static std::string ListValues(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return "no such key";
    std::string listed;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD nameLength = 256;
      BYTE data[2048] = {};
      DWORD size = sizeof(data) - sizeof(wchar_t);
      DWORD type = 0;
      if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
        break;
      std::string value = std::to_string(size) + " bytes of type " + std::to_string(type);
      if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        memcpy(&number, data, sizeof(number));
        value = std::to_string(number) + " (" + Hex(number) + ")";
      } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        value = "\"" + Narrow(reinterpret_cast<const wchar_t*>(data)) + "\"";
      }
      listed += (listed.empty() ? "" : "; ") + Narrow(name) + "=" + value;
    }
    RegCloseKey(key);
    return listed.empty() ? "no values" : listed;
  }

  void ExpectBox(Step& step, bool close) {
    const auto box = testenv::WaitForMessageBox(host_.Pid(), 20000);
    if (!box)
      return Fail(step, "no message box within 20 s");
    step.outcome = "\"" + Narrow(box->caption) + "\": \"" + Narrow(box->text) + "\"";
    if (close && !testenv::CloseMessageBox(box->window))
      Fail(step, "the box did not close");
    else if (close)
      step.outcome += ", closed";
  }

  // "<line> => <text> [within <ms>]": polls the stand-in until its answer to
  // the line contains the text.
  void ExpectAnswer(Step& step, const std::string& rest, bool fromShell) {
    const size_t arrow = rest.find(" => ");
    if (arrow == std::string::npos)
      return Fail(step, "expected '<command> => <text>'");
    const std::string line = rest.substr(0, arrow);
    std::string text = rest.substr(arrow + 4);
    DWORD within = 3000;
    const size_t at = text.rfind(" within ");
    if (at != std::string::npos) {
      within = strtoul(text.c_str() + at + 8, nullptr, 0);
      text = text.substr(0, at);
    }
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

  static std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(Replace(text, ";", "\n"));
    for (std::string part; std::getline(in, part);) {
      if (!Trim(part).empty())
        parts.push_back(Trim(part));
    }
    return parts;
  }

  static std::vector<std::wstring> Wide(const std::vector<std::string>& texts) {
    std::vector<std::wstring> out;
    for (const std::string& t : texts) {
      const std::u16string u = mantlet::Utf8ToUtf16(t);
      out.emplace_back(u.begin(), u.end());
    }
    return out;
  }

  void ScriptDevice(Step& step, const std::string& verb, const std::string& rest) {
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

  static std::string ListDrives() {
    std::string out;
    for (const auto& [letter, share] : testenv::SharedFoldersScript::Drives()) {
      std::wstring label = share;
      for (wchar_t& c : label)
        c = c == L'\\' ? L'#' : c;
      wchar_t text[512] = {};
      DWORD size = sizeof(text) - sizeof(wchar_t);
      const std::wstring key =
          L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\" + label;
      RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"_LabelFromReg", RRF_RT_REG_SZ, nullptr, text,
                   &size);
      out += (out.empty() ? "" : ", ") + Narrow(std::wstring(1, letter)) + ": " + Narrow(share) +
             " \"" + Narrow(text) + "\"";
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

  void ExpectReport(Step& step, const std::string& rest) {
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
    step.outcome = "#" + std::to_string(match->seq) + " " + RequestName(want[0]);
  }

  std::map<uint32_t, uint32_t> reportSeq_;  // per request code
  testenv::SharedFoldersScript folders_;
  testenv::ShellStandIn shell_;
  std::vector<testenv::ShellAppBarEvent> shellLog_;
  std::wstring outDir_;
  std::wstring hostRecord_;
  std::vector<std::string> screenshots_;
  testenv::ToolsDevControl device_;
  testenv::LogTail log_;
  testenv::HostProcess host_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: guestsim <scenario file> [account file]\n");
    return 2;
  }
  std::ifstream file(argv[1]);
  if (!file) {
    fprintf(stderr, "guestsim: cannot read the scenario\n");
    return 2;
  }
  std::vector<Step> steps;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#')
      continue;
    steps.push_back(Step{number, line, {}, false, false});
  }

  // Screenshots go next to the account file (or the working folder).
  std::wstring outDir;
  if (argc >= 3) {
    outDir = argv[2];
    outDir = outDir.substr(0, outDir.find_last_of(L"\\/") + 1);
  }
  CoInitialize(nullptr);
  Guest guest(outDir);
  if (!guest.Begin())
    return 3;
  for (Step& step : steps) {
    guest.Run(step);
    fprintf(stderr, "guestsim: %s %s -> %s\n", step.failed ? "FAIL" : "ok", step.text.c_str(),
            step.outcome.c_str());
  }
  guest.End();

  FILE* out = stdout;
  if (argc >= 3)
    out = _wfopen(argv[2], L"w");
  if (out == nullptr)
    out = stdout;
  guest.WriteAccount(out, steps);
  if (out != stdout)
    fclose(out);
  for (const Step& s : steps) {
    if (s.failed)
      return 1;
  }
  return 0;
}
