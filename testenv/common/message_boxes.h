// Message boxes as another process sees them: under Wine (as on Windows) a
// box is a dialog window of class "#32770" whose static control 0xFFFF holds
// the text and whose window text is the caption.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace testenv {

struct MessageBoxWindow {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;
  std::vector<std::wstring> buttons;  // button texts, in child order
};

// The visible boxes of a process, topmost first.
std::vector<MessageBoxWindow> FindMessageBoxes(DWORD processId);

// Waits until the process shows a box; nullopt on time-out.
std::optional<MessageBoxWindow> WaitForMessageBox(DWORD processId, DWORD timeoutMs);

// Asks the box to close (as its close button would) and waits until the
// window is gone. Under Xvfb without a window manager Wine takes about two
// seconds to take a closed window down.
bool CloseMessageBox(HWND box, DWORD timeoutMs = 15000);

}  // namespace testenv
