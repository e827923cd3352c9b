// Stand-in for the Windows shell, as far as the taskbar component sees it:
// the primary taskbar "Shell_TrayWnd" docked where the test says, its start
// button (a top-level "Button" the taskbar owns), secondary taskbars on
// request, the desktop "Progman" with its icon view "SHELLDLL_DefView", and
// the "WorkerW" that carries the view while the desktop is shown. The
// taskbar toggles the show-desktop state on WM_COMMAND 407.
//
// It also answers SHAppBarMessage. Wine's shell32 sends every appbar message
// as WM_COPYDATA to the first window of class "WineAppBar" that FindWindowW
// finds; Wine's explorer keeps a message-only one, and FindWindowW lists the
// top-level windows before the message-only ones, so this stand-in's
// top-level window is the one asked. It records the appbars and answers
// ABM_GETSTATE with the auto-hide setting the test chose (Wine's explorer
// always says auto-hide).
//
// The taskbar is topmost, as the real one is; Wine's explorer has a hidden,
// empty "Shell_TrayWnd" of its own that is not, so FindWindowW, which walks
// the z-order from the top, finds this one whatever the order of creation.
// The first line says whether both look-ups land here.
//
// A shell is not bound to answer at once: by default this one's thread is
// busy and takes what other programs send or post to its windows (the
// module's appbar messages, ShowWindow and SetWindowPos on its taskbar,
// broadcasts) only every kDefaultLateMs. Its command console answers the test
// at once all the same.
//
// Driven over stdin, one command per line, one answer line each:
//   ping | state | found | toggle | repaint | exit
//   answers prompt | answers late <ms> | answers held
//                                                   how its thread takes messages:
//                                                   at once, every <ms>, or only on
//   pump                                            (one pass over what waits)
//   hide|show taskbar|start|workerw|secondaries     behind the tool's back
//   taskbar <l> <t> <r> <b>                         move the taskbar
//   secondary <l> <t> <r> <b> | secondary clear     Shell_SecondaryTrayWnd windows
//   secondary monitors                              one along the bottom 40 pixels of each
//                                                   monitor but the primary; answers
//                                                   "secondary=<n> <l,t,r,b>..." with theirs
//   autohide 0|1                                    what ABM_GETSTATE says
//   appbars                                         the registered appbars
//   appbarlog [reset]                               the appbar messages so far, each
//                                                   "<tick> <message> <window> ..."; ';' between
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_console.h"

namespace {

using testenv::ConsoleReply;

// Late enough that a caller sees the shell take its time, short enough that
// the suites keep their pace.
constexpr DWORD kDefaultLateMs = 100;

constexpr WPARAM kToggleDesktopCommand = 407;

// Wine's appbar message, as its shell32 packs it into WM_COPYDATA.
struct AppBarWireData {
  ULONG window;
  UINT callbackMessage;
  UINT edge;
  RECT rect;
  ULONGLONG lParam;
};
struct AppBarWireCommand {
  ULONG returnMap;
  DWORD returnProcess;
  AppBarWireData data;
};
struct AppBarWireResponse {
  ULONGLONG result;
  AppBarWireData data;
};

struct AppBar {
  HWND window = nullptr;
  UINT edge = 0;
  RECT rect = {};
  LPARAM state = 0;
  bool placed = false;
};

struct Shell {
  HWND tray = nullptr;
  HWND start = nullptr;
  HWND progman = nullptr;
  HWND view = nullptr;
  HWND worker = nullptr;
  HWND appBarService = nullptr;
  std::vector<HWND> secondaries;
  std::vector<AppBar> appBars;
  std::string appBarLog;
  bool autoHide = false;
  int toggles = 0;
  RECT monitor = {};
} g_shell;

void AppendLog(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (!g_shell.appBarLog.empty())
    g_shell.appBarLog += ';';
  g_shell.appBarLog += std::to_string(GetTickCount64()) + " " + text;
}

void Toggle() {
  ++g_shell.toggles;
  if (GetParent(g_shell.view) == g_shell.progman) {
    SetParent(g_shell.view, g_shell.worker);
    const RECT& m = g_shell.monitor;
    SetWindowPos(g_shell.worker, HWND_TOP, m.left, m.top, m.right - m.left, m.bottom - m.top,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE);
  } else {
    SetParent(g_shell.view, g_shell.progman);
    ShowWindow(g_shell.worker, SW_HIDE);
  }
  InvalidateRect(g_shell.view, nullptr, TRUE);
}

void PlaceStartButton() {
  RECT t = {};
  GetWindowRect(g_shell.tray, &t);
  const bool vertical = (t.bottom - t.top) > (t.right - t.left);
  const int w = vertical ? (t.right - t.left) - 8 : 72;
  const int h = vertical ? 32 : (t.bottom - t.top) - 8;
  SetWindowPos(g_shell.start, nullptr, t.left + 4, t.top + 4, w > 1 ? w : 1, h > 1 ? h : 1,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (wParam == kToggleDesktopCommand) {
        Toggle();
        return 0;
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT r;
      GetClientRect(window, &r);
      HBRUSH fill = CreateSolidBrush(RGB(28, 32, 40));
      FillRect(dc, &r, fill);
      DeleteObject(fill);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(220, 220, 220));
      wchar_t cls[64] = {};
      GetClassNameW(window, cls, 64);
      r.left += 90;
      DrawTextW(dc, cls, -1, &r, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The desktop background as the user set it: the desktop colour, and the
// wallpaper bitmap stretched over the screen when there is one. (Wine's
// PaintDesktop draws nothing for a window that is not its own desktop.)
void PaintBackground(HWND window, HDC dc) {
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_DESKTOP));
  wchar_t path[MAX_PATH] = {};
  if (!SystemParametersInfoW(SPI_GETDESKWALLPAPER, MAX_PATH, path, 0) || path[0] == 0)
    return;
  HBITMAP wallpaper = static_cast<HBITMAP>(
      LoadImageW(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (wallpaper == nullptr)
    return;
  BITMAP info = {};
  GetObjectW(wallpaper, sizeof(info), &info);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, wallpaper);
  RECT screen = g_shell.monitor;
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&screen), 2);
  SetStretchBltMode(dc, HALFTONE);
  StretchBlt(dc, screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top,
             source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
  DeleteObject(wallpaper);
}

// The desktop and its view paint the desktop background, a few icons, and
// the strips that appbars hold, so that a screenshot shows what the shell
// has reserved.
LRESULT CALLBACK DesktopProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTINGCHANGE || message == WM_SYSCOLORCHANGE) {
    InvalidateRect(window, nullptr, TRUE);  // wallpaper or desktop colour may have changed
  } else if (message == WM_ERASEBKGND) {
    PaintBackground(window, reinterpret_cast<HDC>(wParam));
    return 1;
  }
  if (message == WM_PAINT && window == g_shell.view) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetBkMode(dc, TRANSPARENT);
    const wchar_t* const icons[] = {L"Recycle Bin", L"Host Share", L"Documents"};
    HBRUSH iconFill = CreateSolidBrush(RGB(236, 196, 80));
    for (int i = 0; i < 3; ++i) {
      RECT icon = {40, 60 + i * 110, 88, 108 + i * 110};
      FillRect(dc, &icon, iconFill);
      RECT label = {10, 112 + i * 110, 118, 132 + i * 110};
      RECT shadow = {label.left + 1, label.top + 1, label.right + 1, label.bottom + 1};
      SetTextColor(dc, RGB(0, 0, 0));
      DrawTextW(dc, icons[i], -1, &shadow, DT_SINGLELINE | DT_CENTER);
      SetTextColor(dc, RGB(255, 255, 255));
      DrawTextW(dc, icons[i], -1, &label, DT_SINGLELINE | DT_CENTER);
    }
    DeleteObject(iconFill);
    HBRUSH stripFill = CreateSolidBrush(RGB(250, 150, 60));
    HBRUSH stripHatch = CreateHatchBrush(HS_BDIAGONAL, RGB(200, 90, 20));
    for (const AppBar& bar : g_shell.appBars) {
      if (!bar.placed)
        continue;
      RECT r = bar.rect;
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
      FillRect(dc, &r, stripFill);
      FillRect(dc, &r, stripHatch);
      FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      wchar_t text[96];
      swprintf(text, 96, L"strip reserved by an appbar (edge %u)", bar.edge);
      SetTextColor(dc, RGB(40, 20, 0));
      DrawTextW(dc, text, -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    }
    DeleteObject(stripHatch);
    DeleteObject(stripFill);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

AppBar* FindAppBar(HWND window) {
  for (AppBar& bar : g_shell.appBars) {
    if (bar.window == window)
      return &bar;
  }
  return nullptr;
}

ULONGLONG HandleAppBarMessage(DWORD message, AppBarWireData& data) {
  HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(data.window));
  switch (message) {
    case ABM_NEW:
      AppendLog("NEW %p %u", window, data.edge);
      if (FindAppBar(window) != nullptr)
        return FALSE;
      g_shell.appBars.push_back(AppBar{window, data.edge, {}, 0, false});
      return TRUE;
    case ABM_REMOVE:
      AppendLog("REMOVE %p", window);
      for (size_t i = 0; i < g_shell.appBars.size(); ++i) {
        if (g_shell.appBars[i].window == window) {
          g_shell.appBars.erase(g_shell.appBars.begin() + static_cast<ptrdiff_t>(i));
          break;
        }
      }
      InvalidateRect(g_shell.view, nullptr, TRUE);
      return TRUE;
    case ABM_QUERYPOS:
      AppendLog("QUERYPOS %p", window);
      return TRUE;
    case ABM_SETPOS:
      AppendLog("SETPOS %p %u %ld,%ld,%ld,%ld", window, data.edge, data.rect.left, data.rect.top,
                data.rect.right, data.rect.bottom);
      if (AppBar* bar = FindAppBar(window)) {
        bar->edge = data.edge;
        bar->rect = data.rect;
        bar->placed = true;
        InvalidateRect(g_shell.view, nullptr, TRUE);
      }
      return TRUE;
    case ABM_SETSTATE:
      AppendLog("SETSTATE %p %llu", window, data.lParam);
      if (AppBar* bar = FindAppBar(window))
        bar->state = static_cast<LPARAM>(data.lParam);
      return TRUE;
    case ABM_GETSTATE:
      AppendLog("GETSTATE");
      return g_shell.autoHide ? (ABS_AUTOHIDE | ABS_ALWAYSONTOP) : ABS_ALWAYSONTOP;
    case ABM_GETTASKBARPOS:
      GetWindowRect(g_shell.tray, &data.rect);
      data.edge = ABE_BOTTOM;
      return TRUE;
    default:
      AppendLog("MSG%lu", message);
      return FALSE;
  }
}

// The answer goes into a file mapping of the caller's, whose handle value
// the caller sends along.
LRESULT CALLBACK AppBarServiceProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA)
    return DefWindowProcW(window, message, wParam, lParam);
  const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (copy->cbData != sizeof(AppBarWireCommand)) {
    AppendLog("BADSIZE %lu", copy->cbData);
    return TRUE;
  }
  AppBarWireCommand command;
  memcpy(&command, copy->lpData, sizeof(command));
  AppBarWireResponse response = {};
  response.result = HandleAppBarMessage(static_cast<DWORD>(copy->dwData), command.data);
  response.data = command.data;
  HANDLE caller = OpenProcess(PROCESS_DUP_HANDLE, FALSE, command.returnProcess);
  if (caller == nullptr)
    return TRUE;
  HANDLE map = nullptr;
  if (DuplicateHandle(caller, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(command.returnMap)),
                      GetCurrentProcess(), &map, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    if (void* view = MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, sizeof(response))) {
      memcpy(view, &response, sizeof(response));
      UnmapViewOfFile(view);
    }
    CloseHandle(map);
  }
  CloseHandle(caller);
  return TRUE;
}

void Register(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW c = {};
  c.cbSize = sizeof(c);
  c.lpfnWndProc = proc;
  c.hInstance = GetModuleHandleW(nullptr);
  c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  c.lpszClassName = name;
  RegisterClassExW(&c);
}

HWND MakeTaskbar(const wchar_t* cls, const RECT& r) {
  HWND w = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, cls, L"", WS_POPUP | WS_CLIPCHILDREN,
                           r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  ShowWindow(w, SW_SHOWNOACTIVATE);
  return w;
}

void CreateShell(const RECT& taskbar) {
  const RECT& m = g_shell.monitor;
  Register(L"Progman", DesktopProc);
  Register(L"SHELLDLL_DefView", DesktopProc);
  Register(L"WorkerW", DesktopProc);
  Register(L"Shell_TrayWnd", TrayProc);
  Register(L"Shell_SecondaryTrayWnd", TrayProc);
  Register(L"WineAppBar", AppBarServiceProc);
  HINSTANCE instance = GetModuleHandleW(nullptr);

  g_shell.progman = CreateWindowExW(WS_EX_TOOLWINDOW, L"Progman", L"Program Manager",
                                    WS_POPUP | WS_CLIPCHILDREN, m.left, m.top, m.right - m.left,
                                    m.bottom - m.top, nullptr, nullptr, instance, nullptr);
  g_shell.view =
      CreateWindowExW(0, L"SHELLDLL_DefView", L"", WS_CHILD | WS_VISIBLE, 0, 0, m.right - m.left,
                      m.bottom - m.top, g_shell.progman, nullptr, instance, nullptr);
  SetWindowPos(g_shell.progman, HWND_BOTTOM, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  g_shell.worker =
      CreateWindowExW(WS_EX_TOOLWINDOW, L"WorkerW", L"", WS_POPUP | WS_CLIPCHILDREN, m.left, m.top,
                      m.right - m.left, m.bottom - m.top, nullptr, nullptr, instance, nullptr);
  g_shell.tray = MakeTaskbar(L"Shell_TrayWnd", taskbar);
  g_shell.start = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Button", L"Start",
                                  WS_POPUP | BS_PUSHBUTTON, 0, 0, 1, 1, g_shell.tray, nullptr,
                                  instance, nullptr);
  PlaceStartButton();
  ShowWindow(g_shell.start, SW_SHOWNOACTIVATE);
  g_shell.appBarService = CreateWindowExW(0, L"WineAppBar", L"WineAppBar", WS_POPUP, 0, 0, 0, 0,
                                          nullptr, nullptr, instance, nullptr);
}

// A real shell docks a secondary taskbar on every monitor but the primary.
BOOL CALLBACK AddSecondaryTaskbar(HMONITOR monitor, HDC, LPRECT, LPARAM placed) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(monitor, &info) || (info.dwFlags & MONITORINFOF_PRIMARY) != 0)
    return TRUE;
  const RECT& m = info.rcMonitor;
  const RECT r = {m.left, m.bottom - 40, m.right, m.bottom};
  g_shell.secondaries.push_back(MakeTaskbar(L"Shell_SecondaryTrayWnd", r));
  char text[64];
  snprintf(text, sizeof(text), " %ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
  *reinterpret_cast<std::string*>(placed) += text;
  return TRUE;
}

// "prompt", "late <ms>" or "held" -> the console's message pace.
bool SetAnswers(const char* words) {
  char mode[16] = {};
  unsigned long ms = 0;
  const int n = sscanf(words, "%15s %lu", mode, &ms);
  if (n >= 1 && strcmp(mode, "prompt") == 0) {
    testenv::SetMessagePace(testenv::kPromptly);
  } else if (n >= 1 && strcmp(mode, "held") == 0) {
    testenv::SetMessagePace(testenv::kWhenTold);
  } else if (n == 2 && strcmp(mode, "late") == 0 && ms > 0 && ms < testenv::kWhenTold) {
    testenv::SetMessagePace(ms);
  } else {
    return false;
  }
  return true;
}

void ReplyAnswers() {
  const DWORD pace = testenv::MessagePace();
  if (pace == testenv::kPromptly)
    ConsoleReply("answers=prompt");
  else if (pace == testenv::kWhenTold)
    ConsoleReply("answers=held");
  else
    ConsoleReply("answers=late %lu", pace);
}

HWND Target(const char* what) {
  if (strcmp(what, "taskbar") == 0)
    return g_shell.tray;
  if (strcmp(what, "start") == 0)
    return g_shell.start;
  if (strcmp(what, "workerw") == 0)
    return g_shell.worker;
  return nullptr;
}

bool Execute(const std::string& line) {
  char verb[32] = {}, word[32] = {};
  long l = 0, t = 0, r = 0, b = 0;
  sscanf(line.c_str(), "%31s %31s", verb, word);
  const std::string v = verb;
  if (v.empty())
    return true;
  if (v == "ping") {
    ConsoleReply("pong");
  } else if (v == "state") {
    int secondariesVisible = 0;
    for (HWND s : g_shell.secondaries)
      secondariesVisible += IsWindowVisible(s) ? 1 : 0;
    ConsoleReply("taskbar=%d start=%d desktop=%d secondaries=%zu/%d toggles=%d icons=%d",
                 IsWindowVisible(g_shell.tray) ? 1 : 0, IsWindowVisible(g_shell.start) ? 1 : 0,
                 GetParent(g_shell.view) == g_shell.worker ? 1 : 0, g_shell.secondaries.size(),
                 secondariesVisible, g_shell.toggles, IsWindowVisible(g_shell.view) ? 1 : 0);
  } else if (v == "found") {
    ConsoleReply("found tray=%d appbar=%d", FindWindowW(L"Shell_TrayWnd", nullptr) == g_shell.tray,
                 FindWindowW(L"WineAppBar", nullptr) == g_shell.appBarService);
  } else if (v == "toggle") {
    Toggle();
    ConsoleReply("toggle=ok");
  } else if (v == "answers") {
    if (word[0] != 0 && !SetAnswers(line.c_str() + line.find(word)))
      ConsoleReply("answers=usage");
    else
      ReplyAnswers();
  } else if (v == "pump") {
    testenv::PumpThreadMessages();
    ConsoleReply("pump=ok");
  } else if (v == "hide" || v == "show") {
    const int command = v == "hide" ? SW_HIDE : SW_SHOWNOACTIVATE;
    if (strcmp(word, "secondaries") == 0) {
      for (HWND s : g_shell.secondaries)
        ShowWindow(s, command);
    } else if (HWND target = Target(word)) {
      ShowWindow(target, command);
    } else {
      ConsoleReply("%s=unknown", verb);
      return true;
    }
    ConsoleReply("%s=ok", verb);
  } else if (v == "taskbar" && sscanf(line.c_str(), "%*s %ld %ld %ld %ld", &l, &t, &r, &b) == 4) {
    SetWindowPos(g_shell.tray, nullptr, l, t, r - l, b - t, SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceStartButton();
    ConsoleReply("taskbar=ok");
  } else if (v == "secondary" && strcmp(word, "clear") == 0) {
    for (HWND s : g_shell.secondaries)
      DestroyWindow(s);
    g_shell.secondaries.clear();
    ConsoleReply("secondary=0");
  } else if (v == "secondary" && strcmp(word, "monitors") == 0) {
    std::string placed;
    EnumDisplayMonitors(nullptr, nullptr, &AddSecondaryTaskbar, reinterpret_cast<LPARAM>(&placed));
    ConsoleReply("secondary=%zu%s", g_shell.secondaries.size(), placed.c_str());
  } else if (v == "secondary" && sscanf(line.c_str(), "%*s %ld %ld %ld %ld", &l, &t, &r, &b) == 4) {
    g_shell.secondaries.push_back(MakeTaskbar(L"Shell_SecondaryTrayWnd", RECT{l, t, r, b}));
    ConsoleReply("secondary=%zu", g_shell.secondaries.size());
  } else if (v == "autohide") {
    g_shell.autoHide = strcmp(word, "1") == 0;
    ConsoleReply("autohide=%d", g_shell.autoHide ? 1 : 0);
  } else if (v == "appbars") {
    std::string text = "appbars=" + std::to_string(g_shell.appBars.size());
    for (const AppBar& bar : g_shell.appBars) {
      char item[128];
      snprintf(item, sizeof(item), " %p:%u:%ld,%ld,%ld,%ld:%ld:%d", bar.window, bar.edge,
               bar.rect.left, bar.rect.top, bar.rect.right, bar.rect.bottom,
               static_cast<long>(bar.state), bar.placed ? 1 : 0);
      text += item;
    }
    ConsoleReply("%s", text.c_str());
  } else if (v == "appbarlog") {
    if (strcmp(word, "reset") == 0) {
      g_shell.appBarLog.clear();
      ConsoleReply("appbarlog=");
    } else {
      ConsoleReply("appbarlog=%s", g_shell.appBarLog.c_str());
    }
  } else if (v == "repaint") {
    // The taskbar and its button stay above the desktop's windows, as a real
    // shell keeps them; under Wine's virtual desktop they can end up below the
    // desktop after being hidden and shown by another process. Visibility is
    // left as it is.
    for (HWND w : {g_shell.tray, g_shell.start}) {
      SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    for (HWND w : {g_shell.progman, g_shell.worker, g_shell.tray, g_shell.start}) {
      RedrawWindow(w, nullptr, nullptr,
                   RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
    ConsoleReply("repaint=ok");
  } else if (v == "exit") {
    ConsoleReply("exit=ok");
    return false;
  } else {
    ConsoleReply("unknown=%s", verb);
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  g_shell.monitor = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  const RECT& m = g_shell.monitor;
  RECT taskbar = {m.left, m.bottom - 40, m.right, m.bottom};
  if (argc >= 2) {
    swscanf(argv[1], L"%ld,%ld,%ld,%ld", &taskbar.left, &taskbar.top, &taskbar.right,
            &taskbar.bottom);
  }
  testenv::SetMessagePace(kDefaultLateMs);
  if (argc >= 4 && wcscmp(argv[2], L"--answers") == 0) {
    char words[32] = {};
    snprintf(words, sizeof(words), "%ls", argv[3]);
    if (!SetAnswers(words)) {
      ConsoleReply("shell=usage answers");
      return 2;
    }
  }
  CreateShell(taskbar);
  ConsoleReply("shell=ready tray=%d appbar=%d",
               FindWindowW(L"Shell_TrayWnd", nullptr) == g_shell.tray,
               FindWindowW(L"WineAppBar", nullptr) == g_shell.appBarService);

  testenv::RunCommandConsole(&Execute);
  return 0;
}
