// mantletctl: writes command records into Mantlet's mailslot and wakes its
// worker. Everything about what the bytes are lives in ctl_syntax; this file
// only talks to Windows.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "core/handles.h"
#include "core/channel_names.h"
#include "core/utf.h"
#include "ctl_syntax.h"

namespace {

enum Exit : int { kSent = 0, kUsage = 2, kNotRunning = 3, kIoFailed = 4 };

const std::string kSlotName = mantlet::Utf16ToUtf8(mantlet::AsU16(mantlet::kMailslotName));
const std::string kEventName = mantlet::Utf16ToUtf8(mantlet::AsU16(mantlet::kCommandEventName));

// A console gets UTF-16 so that names like "Müsik" read right whatever its
// code page; a pipe or file gets the UTF-8 bytes.
void Print(DWORD which, const std::string& utf8) {
  const HANDLE out = GetStdHandle(which);
  DWORD mode = 0;
  DWORD done = 0;
  if (GetConsoleMode(out, &mode)) {
    const std::u16string w = mantlet::Utf8ToUtf16(utf8);
    WriteConsoleW(out, mantlet::AsWide(w.c_str()), static_cast<DWORD>(w.size()), &done, nullptr);
  } else {
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
  }
}

int Fail(int code, const std::string& line, const std::string& hint = {}) {
  Print(STD_ERROR_HANDLE, "mantletctl: " + line + "\n" + (hint.empty() ? "" : hint + "\n"));
  return code;
}

std::string ErrorSuffix(DWORD err) {
  return " (error " + std::to_string(err) + ")";
}

// Reads stdin to its end as UTF-8. Typed input comes through ReadConsoleW, as
// ReadFile on a console would hand over the console code page's bytes instead.
bool ReadStdin(std::string& text) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(in, &mode)) {
    std::u16string typed;
    wchar_t buf[1024];
    DWORD got = 0;
    while (ReadConsoleW(in, buf, 1024, &got, nullptr) && got > 0) {
      typed.append(mantlet::AsU16(buf), got);
      const size_t eof = typed.find(u'\x1A');  // Ctrl+Z ends console input
      if (eof != std::u16string::npos) {
        typed.resize(eof);
        break;
      }
    }
    text = mantlet::Utf16ToUtf8(typed);
    return true;
  }
  char buf[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buf, sizeof buf, &got, nullptr)) {
      // A pipe's writer closing its end is the normal end of input.
      const DWORD err = GetLastError();
      return err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF;
    }
    if (got == 0)
      return true;
    text.append(buf, got);
  }
}

mantlet::UniqueHandle OpenCommandEvent() {
  return mantlet::UniqueHandle(OpenEventW(EVENT_MODIFY_STATE, FALSE, mantlet::kCommandEventName));
}

int Signal(const mantlet::UniqueHandle& event) {
  if (!SetEvent(event.get()))
    return Fail(kIoFailed, "cannot signal " + kEventName + ErrorSuffix(GetLastError()));
  return kSent;
}

int SignalOnly() {
  const mantlet::UniqueHandle event = OpenCommandEvent();
  if (!event) {
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND)
      return Fail(kNotRunning,
                  "Mantlet is not running: event " + kEventName + " not found" + ErrorSuffix(err));
    return Fail(kIoFailed, "cannot open event " + kEventName + ErrorSuffix(err));
  }
  if (const int rc = Signal(event); rc != kSent)
    return rc;
  Print(STD_OUTPUT_HANDLE, "mantletctl: signalled " + kEventName + "\n");
  return kSent;
}

int Send(const std::vector<mantletctl::Record>& records, bool signal) {
  const mantlet::UniqueFile slot(CreateFileW(mantlet::kMailslotName, GENERIC_WRITE, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
  if (!slot) {
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
      return Fail(kNotRunning, "Mantlet is not running: mailslot " + kSlotName + " not found" +
                                   ErrorSuffix(err));
    return Fail(kIoFailed, "cannot open mailslot " + kSlotName + ErrorSuffix(err));
  }
  // Opened before writing so that a missing event leaves no records behind
  // for some later, unrelated wake of the worker to run.
  mantlet::UniqueHandle event;
  if (signal) {
    event = OpenCommandEvent();
    if (!event)
      return Fail(kIoFailed, "cannot open event " + kEventName + ErrorSuffix(GetLastError()),
                  "nothing was written");
  }
  size_t bytes = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const mantletctl::Record& r = records[i];
    DWORD done = 0;
    const bool ok = WriteFile(slot.get(), r.data(), static_cast<DWORD>(r.size()), &done, nullptr);
    if (!ok || done != r.size()) {
      const std::string why =
          ok ? " (" + std::to_string(done) + " of " + std::to_string(r.size()) + " bytes taken)"
             : ErrorSuffix(GetLastError());
      return Fail(kIoFailed,
                  "writing record " + std::to_string(i + 1) + " of " +
                      std::to_string(records.size()) + " failed" + why,
                  i == 0 ? "nothing was written"
                         : "the records before it wait in the mailslot, unsignalled");
    }
    bytes += r.size();
  }
  if (signal) {
    if (const int rc = Signal(event); rc != kSent)
      return rc;
  }
  Print(STD_OUTPUT_HANDLE, "mantletctl: wrote " + std::to_string(records.size()) +
                               (records.size() == 1 ? " record (" : " records (") +
                               std::to_string(bytes) + " bytes)" +
                               (signal ? ", signalled" : ", not signalled") + "\n");
  return kSent;
}

}  // namespace

int main() {
  // The CRT's narrow argv has been through the ANSI code page already; names
  // and texts outside it survive only in the wide command line.
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv)
    return Fail(kUsage, "cannot read the command line" + ErrorSuffix(GetLastError()));
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(mantlet::AsU16(argv[i]));
  LocalFree(argv);

  const mantletctl::Invocation inv = mantletctl::ParseInvocation(args);
  if (!inv.ok())
    return Fail(kUsage, inv.error, inv.hint);
  switch (inv.action) {
    case mantletctl::Action::Help:
      Print(STD_OUTPUT_HANDLE, mantletctl::HelpText());
      return kSent;
    case mantletctl::Action::SignalOnly:
      return SignalOnly();
    case mantletctl::Action::Batch: {
      std::string text;
      if (!ReadStdin(text))
        return Fail(kIoFailed, "cannot read stdin" + ErrorSuffix(GetLastError()));
      const mantletctl::Parsed batch = mantletctl::ParseBatch(text);
      if (!batch.ok())
        return Fail(kUsage, batch.error, batch.hint);
      return Send(batch.records, inv.signal);
    }
    case mantletctl::Action::Send:
      return Send(inv.records, inv.signal);
  }
  return kUsage;
}
