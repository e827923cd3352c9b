// Strips reserved along monitor edges with invisible application bars.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/handles.h"
#include "taskbar/appbar_plan.h"
#include "taskbar/indent_entry.h"

namespace mantlet {

class RelocateTaskbar {
 public:
  RelocateTaskbar();
  ~RelocateTaskbar();
  RelocateTaskbar(const RelocateTaskbar&) = delete;
  RelocateTaskbar& operator=(const RelocateTaskbar&) = delete;

  bool Start();
  void Stop();
  void SetIndents(const IndentEntry* entries, size_t count);  // command worker thread
  void NotifyTool(uint32_t code);                             // host's thread

 private:
  struct ThreadStart;
  static DWORD WINAPI WorkingThreadMain(void* param);
  static LRESULT CALLBACK AuxWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // Working thread only, from here to the end of the class.
  void OnAuxMessage(HWND aux, UINT message);
  void HandOver(HWND aux);
  bool ApplyNextIndent(HWND aux);
  bool SetAppBar(const MONITORINFOEXW& monitor, int32_t indent, uint32_t edge);
  bool RemoveAllIndents(HWND aux);
  void RemoveRemainingAppBars();

  // Guards m_requestedIndents. It lives as long as the object, so that
  // SetIndents and Stop stay safe after a failed Start, or without one.
  CRITICAL_SECTION m_lock;
  UniqueHandle m_workingThread;
  HWND m_auxWnd = nullptr;  // set by Start once the working thread runs
  IndentHandOver m_requestedIndents;
  std::vector<AppBarRecord> m_appBars;
  std::vector<IndentEntry> m_workingIndents;
  bool m_busy = false;
  bool m_removeAll = false;
  bool m_reapplying = false;  // inside ReapplyWorkAreas on this thread
};

}  // namespace mantlet
