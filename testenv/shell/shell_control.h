// Drives the shell stand-in (shell_standin.exe) from tests and the simulated
// guest: start it with a taskbar where the test wants it, change its windows
// behind the tool's back, and read back what it saw.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host_process.h"

namespace testenv {

struct ShellState {
  bool taskbar = false;       // the primary taskbar is visible
  bool start = false;         // the start button is visible
  bool desktopShown = false;  // the icon view sits on the WorkerW
  int secondaries = 0;
  int secondariesVisible = 0;
  int toggles = 0;     // show-desktop toggles so far
  bool icons = false;  // the icon view is visible
};

struct ShellAppBar {
  uintptr_t window = 0;
  unsigned edge = 0;
  RECT rect = {};
  long state = 0;
  bool placed = false;  // has had an ABM_SETPOS
};

// One appbar message the shell received: "NEW", "SETSTATE", "SETPOS",
// "REMOVE", "GETSTATE", ...; `rest` holds the window and what follows it.
struct ShellAppBarEvent {
  ULONGLONG tick = 0;
  std::string message;
  std::string rest;
};

// How the shell's thread answers what other programs send its windows
// (appbar messages, ShowWindow and SetWindowPos on the taskbar, broadcasts).
// By default it is busy and answers late, every so often (the stand-in's
// default pace); a test that is about something else can ask for Prompt().
class ShellAnswers {
 public:
  static ShellAnswers Prompt() { return ShellAnswers("prompt"); }  // at once
  const std::string& Words() const { return words_; }

 private:
  explicit ShellAnswers(std::string words) : words_(std::move(words)) {}
  std::string words_;
};

class ShellStandIn {
 public:
  ShellStandIn() = default;
  ~ShellStandIn() { Close(); }
  ShellStandIn(const ShellStandIn&) = delete;
  ShellStandIn& operator=(const ShellStandIn&) = delete;

  // Starts the stand-in with its taskbar at `taskbar` (default: the bottom
  // 40 pixels of the screen), answering at the stand-in's default pace
  // unless `answers` says otherwise. True once it runs and FindWindowW finds
  // its taskbar and its appbar service rather than Wine's own.
  bool Launch(std::optional<RECT> taskbar = std::nullopt,
              std::optional<ShellAnswers> answers = std::nullopt);
  bool SetAnswers(const ShellAnswers& answers);
  std::string Call(const std::string& line) { return process_.Call(line, 15000); }
  bool Running() const { return process_.Running(); }
  void Kill() { process_.Kill(); }  // as a crashing shell goes
  void Close();

  std::optional<ShellState> State();
  std::vector<ShellAppBar> AppBars();
  std::string AppBarLog();
  std::vector<ShellAppBarEvent> AppBarEvents();

 private:
  HostProcess process_;
};

// "0,1040,1920,1080"
std::string RectText(const RECT& r);

}  // namespace testenv
