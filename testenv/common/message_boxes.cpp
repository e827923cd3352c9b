#include "message_boxes.h"

#include "wait_until.h"

namespace testenv {
namespace {

constexpr int kMessageTextId = 0xFFFF;

// WM_GETTEXT is marshalled across processes; GetWindowTextW is not for
// another process's controls.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  text.resize(copied);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct Search {
  DWORD processId;
  std::vector<MessageBoxWindow> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM context) {
  Search& search = *reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.processId || !IsWindowVisible(window) || ClassOf(window) != L"#32770")
    return TRUE;
  MessageBoxWindow box;
  box.window = window;
  box.caption = TextOf(window);
  if (HWND text = GetDlgItem(window, kMessageTextId))
    box.text = TextOf(text);
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == L"Button")
      box.buttons.push_back(TextOf(child));
  }
  search.found.push_back(std::move(box));
  return TRUE;
}

}  // namespace

std::vector<MessageBoxWindow> FindMessageBoxes(DWORD processId) {
  Search search{processId, {}};
  EnumWindows(&CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::optional<MessageBoxWindow> WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
  std::optional<MessageBoxWindow> box;
  WaitUntil(
      [&] {
        std::vector<MessageBoxWindow> boxes = FindMessageBoxes(processId);
        if (!boxes.empty())
          box = std::move(boxes.front());
        return box.has_value();
      },
      timeoutMs);
  return box;
}

bool CloseMessageBox(HWND box, DWORD timeoutMs) {
  PostMessageW(box, WM_CLOSE, 0, 0);
  return WaitUntil([&] { return !IsWindow(box); }, timeoutMs);
}

}  // namespace testenv
