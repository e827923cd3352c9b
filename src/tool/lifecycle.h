// Load and unload, start and stop of the tool, the host's notifications and
// configuration, and the process-wide state all of it shares.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/channel_names.h"
#include "core/handles.h"
#include "core/host_notification.h"
#include "core/threads.h"
#include "tool/component_slot.h"

namespace mantlet {

class GuestShareMapping;
class ShowHideTaskBarAndDesktop;
class WeaveStateController;
class RelocateTaskbar;
class MessageBoxHandler;
class CKeyboardLayout;
class CCursorUtils;
class BrowserSearchInfo;

inline constexpr char kToolTag[] = "MANTLETDLL";
inline constexpr wchar_t kSingleInstanceMutexName[] = L"{5B1E0C7A-93D2-4f61-8A0E-2C7D94B3E615}";
inline constexpr uint32_t kNotificationsOptionId = 3;

// Process-wide state. The entry points run one at a time on the host's
// threads; the worker thread reads the channel handles and the holders while
// it runs, and the stop routine joins it before it touches either.
struct ToolState {
  HMODULE instance = nullptr;
  UniqueHandle singleInstanceMutex;
  UniqueFile mailslot;
  UniqueHandle commandEvent;
  OwnedThread worker;  // its stop event is the worker's terminate event
  bool started = false;
  uint32_t lastNotificationsOption = 0;
  // COM is initialised by StartTool on the calling thread; the stop routine
  // undoes exactly that initialisation, and only on that thread.
  bool comInitialized = false;
  DWORD comThreadId = 0;
};

struct ComponentHolders {
  ComponentSlot<GuestShareMapping> shareMapping;
  ComponentSlot<ShowHideTaskBarAndDesktop> showHide;
  ComponentSlot<WeaveStateController> weave;
  ComponentSlot<RelocateTaskbar> relocate;
  ComponentSlot<MessageBoxHandler> messageBoxes;
  ComponentSlot<CKeyboardLayout> keyboard;
  ComponentSlot<CCursorUtils> cursor;
  ComponentSlot<BrowserSearchInfo> browsers;
};

extern ToolState g_tool;
extern ComponentHolders g_components;

// DLL entry: false refuses the load (a second copy in this session).
bool OnProcessAttach(HMODULE instance);
void OnProcessDetach();

int StartTool();
int StopTool();
int NotifyTool(uint32_t code, uint32_t arg);
int VConfigChanged(uint32_t arg);
void StopToolInternal(bool restoreTaskbar);

// The host's VConfigGetOption, resolved in the host's main module; 0 with the
// captured last error when the host does not export it.
uint32_t GetHostOption(uint32_t optionId, void* buffer, uint32_t bufferSize);

}  // namespace mantlet
