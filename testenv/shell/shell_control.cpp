#include "shell_control.h"

#include <cstdio>
#include <sstream>

namespace testenv {

std::string RectText(const RECT& r) {
  char text[64];
  snprintf(text, sizeof(text), "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
  return text;
}

bool ShellStandIn::Launch(std::optional<RECT> taskbar, std::optional<ShellAnswers> answers) {
  HostOptions options;
  options.executable = L"shell_standin.exe";
  const std::string rect = taskbar ? RectText(*taskbar) : "default";
  options.modulePath = std::wstring(rect.begin(), rect.end());
  if (answers) {
    const std::string& words = answers->Words();
    options.extraArgs = {L"--answers", std::wstring(words.begin(), words.end())};
  }
  return process_.Launch(options) == "shell=ready tray=1 appbar=1";
}

bool ShellStandIn::SetAnswers(const ShellAnswers& answers) {
  return Call("answers " + answers.Words()) == "answers=" + answers.Words();
}

void ShellStandIn::Close() {
  if (process_.Running())
    process_.Call("exit", 5000);
  process_.Close(5000);
}

std::optional<ShellState> ShellStandIn::State() {
  ShellState s;
  int taskbar = 0, start = 0, desktop = 0, icons = 0;
  const std::string answer = Call("state");
  if (sscanf(answer.c_str(), "taskbar=%d start=%d desktop=%d secondaries=%d/%d toggles=%d icons=%d",
             &taskbar, &start, &desktop, &s.secondaries, &s.secondariesVisible, &s.toggles,
             &icons) != 7) {
    return std::nullopt;
  }
  s.icons = icons != 0;
  s.taskbar = taskbar != 0;
  s.start = start != 0;
  s.desktopShown = desktop != 0;
  return s;
}

std::vector<ShellAppBar> ShellStandIn::AppBars() {
  std::vector<ShellAppBar> bars;
  std::istringstream in(Call("appbars"));
  std::string head, item;
  in >> head;
  while (in >> item) {
    ShellAppBar bar;
    unsigned long long window = 0;
    int placed = 0;
    if (sscanf(item.c_str(), "%llx:%u:%ld,%ld,%ld,%ld:%ld:%d", &window, &bar.edge, &bar.rect.left,
               &bar.rect.top, &bar.rect.right, &bar.rect.bottom, &bar.state, &placed) == 8) {
      bar.window = static_cast<uintptr_t>(window);
      bar.placed = placed != 0;
      bars.push_back(bar);
    }
  }
  return bars;
}

std::string ShellStandIn::AppBarLog() {
  const std::string answer = Call("appbarlog");
  return answer.rfind("appbarlog=", 0) == 0 ? answer.substr(10) : std::string();
}

std::vector<ShellAppBarEvent> ShellStandIn::AppBarEvents() {
  std::vector<ShellAppBarEvent> events;
  std::istringstream in(AppBarLog());
  std::string item;
  while (std::getline(in, item, ';')) {
    std::istringstream fields(item);
    ShellAppBarEvent event;
    fields >> event.tick >> event.message;
    std::getline(fields, event.rest);
    if (!event.rest.empty() && event.rest[0] == ' ')
      event.rest.erase(0, 1);
    events.push_back(event);
  }
  return events;
}

}  // namespace testenv
