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
//   registry <key under HKEY_CURRENT_USER>      the key's values, listed in the account
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/device_request.h"
#include "core/utf.h"
#include "ctl_syntax.h"
#include "host_process.h"
#include "log_tail.h"
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
    const std::string loaded = host_.Launch();
    if (loaded != "load=ok") {
      fprintf(stderr, "guestsim: the host stand-in could not load Mantlet.dll (%s)\n",
              loaded.c_str());
      return false;
    }
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
    } else if (verb == "screenshot") {
      Screenshot(step, rest);
    } else if (verb == "registry") {
      ListRegistry(step, rest);
    } else if (verb == "say") {
      step.narrative = true;
    } else {
      Fail(step, "unknown step '" + verb + "'");
    }
  }

  void End() {
    if (host_.Running()) {
      host_.Call("stop");
      host_.Close();
    }
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

  // Every value of the key as name=value; REG_DWORD in decimal and hex.
  void ListRegistry(Step& step, const std::string& rest) {
    const std::wstring path(rest.begin(), rest.end());
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      step.outcome = "no such key";
      return;
    }
    std::string listed;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD nameLength = 256;
      BYTE data[2048] = {};
      DWORD size = sizeof(data) - sizeof(wchar_t);
      DWORD type = 0;
      if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
        break;
      std::string value;
      if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        memcpy(&number, data, sizeof(number));
        value = std::to_string(number) + " (" + Hex(number) + ")";
      } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        value = "\"" + mantlet::Utf16ToUtf8(reinterpret_cast<const char16_t*>(data)) + "\"";
      } else {
        value = std::to_string(size) + " bytes of type " + std::to_string(type);
      }
      listed += (listed.empty() ? "" : "; ") +
                mantlet::Utf16ToUtf8(reinterpret_cast<const char16_t*>(name)) + "=" + value;
    }
    RegCloseKey(key);
    step.outcome = listed.empty() ? "no values" : listed;
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

  std::wstring outDir_;
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
