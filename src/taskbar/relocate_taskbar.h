// Strips reserved along monitor edges with invisible application bars.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/component.h"
#include "core/handles.h"
#include "core/threads.h"
#include "taskbar/appbar_plan.h"
#include "taskbar/indent_entry.h"

namespace mantlet {

// Applies the taskbar's work areas again once the strips changed; the
// argument ends a wait for the shell early.
using WorkAreaReapplier = std::function<void(HANDLE abandon)>;

class RelocateTaskbar final : public Component {
 public:
  explicit RelocateTaskbar(WorkAreaReapplier reapplyWorkAreas = {});
  ~RelocateTaskbar() override;

  bool Start() override;
  // True when nothing of the component runs any more; false when its thread
  // could not be told to stop, and the object must then stay alive.
  bool Stop() override;
  void SetIndents(const IndentEntry* entries, size_t count);  // command worker thread
  void OnNotify(HostNotification code) override;              // host's thread

 private:
  struct ThreadStart;
  static LRESULT CALLBACK AuxWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // Working thread only, from here to the end of the class.
  void RunWorkingThread(ThreadStart* start, HANDLE stop);
  void RunMessageLoop(HANDLE stop);
  void OnAuxMessage(HWND aux, UINT message);
  void HandOver(HWND aux);
  bool ApplyNextIndent(HWND aux);
  bool SetAppBar(const MONITORINFOEXW& monitor, int32_t indent, uint32_t edge);
  void RemoveAppBar(HWND window);
  bool RemoveAllIndents(HWND aux);
  void RemoveEveryAppBar();
  std::optional<UINT_PTR> CallShell(const char* what, DWORD message, const APPBARDATA& data);
  bool Stopping() const;

  // Guards m_requestedIndents. It lives as long as the object, so that
  // SetIndents and Stop stay safe after a failed Start, or without one.
  CRITICAL_SECTION m_lock;
  const WorkAreaReapplier m_reapplyWorkAreas;
  IndentHandOver m_requestedIndents;
  OwnedThread m_workingThread;
  HWND m_auxWnd = nullptr;  // set by Start once the working thread runs
  std::vector<AppBarRecord> m_appBars;
  std::vector<IndentEntry> m_workingIndents;
  bool m_busy = false;
  bool m_removeAll = false;
  bool m_reapplying = false;  // inside ReapplyWorkAreas on this thread
};

}  // namespace mantlet
