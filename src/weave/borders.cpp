#include "weave/borders.h"

#include <atomic>
#include <cwchar>

#include "core/handles.h"
#include "core/log.h"
#include "core/registry.h"
#include "core/threads.h"
#include "core/windows_version.h"
#include "weave/weave_state_controller.h"

namespace mantlet {
namespace {

constexpr UINT kNonClientMetricsSize = 504;
static_assert(sizeof(NONCLIENTMETRICSW) == kNonClientMetricsSize,
              "the full structure, with iPaddedBorderWidth");
constexpr int kPaddedBorderMetric = 92;  // SM_CXPADDEDBORDER
constexpr wchar_t kBorderWidth[] = L"BorderWidth";
constexpr wchar_t kBorderWidthSummary[] = L"BorderWidthSummary";

// Filled on first use and never changed afterwards; two threads that race to
// fill one compute the same number, so plain atomics are enough.
std::atomic<int32_t> g_logPixels{0};
std::atomic<int32_t> g_screenDpi{0};
std::atomic<int> g_captionScaling{static_cast<int>(CaptionScaling::NotTested)};

// The one adjusting thread of the process. The lock is held across a whole
// wait-then-start, so two callers cannot both find the slot free; the thread
// itself never takes it. Never destroyed: no join may run at unload.
struct AdjustingThreadSlot {
  SRWLOCK lock = SRWLOCK_INIT;
  OwnedThread thread;
  DWORD startTick = 0;
};
AdjustingThreadSlot& g_adjusting = *new AdjustingThreadSlot;

// Both halves of the backup: ERROR_SUCCESS when both are there,
// ERROR_FILE_NOT_FOUND when one is missing (a crash between the two writes or
// deletions leaves a lone half, which counts as no backup), or the registry's
// failure. Both are always read, so that a half of another type or size is
// removed even when the other one is missing.
LSTATUS ReadBorderBackup(HKEY key, DWORD* border, DWORD* summary) {
  const ValueRead halves[] = {ReadSavedDword(key, kBorderWidth, kWeaveTag, border),
                              ReadSavedDword(key, kBorderWidthSummary, kWeaveTag, summary)};
  LSTATUS status = ERROR_SUCCESS;
  for (const ValueRead& half : halves) {
    if (half.state == ValueState::kFailed)
      return half.status;
    if (!half.found())
      status = ERROR_FILE_NOT_FOUND;
  }
  return status;
}

void DeleteBorderBackup(HKEY key) {
  DeleteValue(key, kBorderWidthSummary);
  DeleteValue(key, kBorderWidth);
}

// ERROR_SUCCESS with *has set, or the registry failure of the caller.
LSTATUS HasBackedUpBorderWidths(HKEY key, bool* has) {
  DWORD ignored = 0;
  const LSTATUS status = ReadBorderBackup(key, &ignored, &ignored);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return status;
  *has = status == ERROR_SUCCESS;
  return ERROR_SUCCESS;
}

// Answers messages sent to the calling thread's windows while it waits: the
// border thread's broadcast of new metrics goes to every top-level window,
// the waiting thread's (the host's, the worker's) among them, and would
// otherwise hold the border thread up until the broadcast's time-out.
bool WaitLocked(DWORD limitMs) {
  if (!g_adjusting.thread.running())
    return true;
  const HANDLE thread = g_adjusting.thread.handle();
  for (;;) {
    const DWORD timeout = limitMs == INFINITE
                              ? INFINITE
                              : RemainingWaitMs(GetTickCount(), g_adjusting.startTick, limitMs);
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, timeout, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0)
      break;
    if (woken != WAIT_OBJECT_0 + 1)
      return false;  // still running when the time is up (or the wait failed)
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  g_adjusting.thread.Stop();  // it has ended: only the join is left
  return true;
}

}  // namespace

int32_t GetScreenDpi() {
  UniqueLibrary gdi(LoadLibraryW(L"gdi32.dll"));
  if (!gdi)
    return 96;
  using GetDeviceCapsFn = int(WINAPI*)(HDC, int);
  const auto getDeviceCaps = LookUpProc<GetDeviceCapsFn>(gdi.get(), "GetDeviceCaps");
  if (getDeviceCaps == nullptr)
    return 96;
  HDC screen = GetDC(nullptr);
  const int dpi = getDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int32_t GetLogPixels() {
  const int32_t cached = g_logPixels.load();
  if (cached != 0)
    return cached;
  int32_t logPixels = 0;
  bool read = false;
  UniqueRegKey key;
  if (OpenKey(HKEY_CURRENT_USER, L"Control Panel\\Desktop", KEY_QUERY_VALUE, &key) ==
      ERROR_SUCCESS) {
    DWORD data = 0;
    read = ReadDwordValue(key.get(), L"LogPixels", &data).found();
    logPixels = static_cast<int32_t>(data);
  }
  if (!read)
    logPixels = GetScreenDpi();
  logPixels = ClampLogPixels(logPixels);
  g_logPixels.store(logPixels);
  return logPixels;
}

namespace {

// The padded border in pixels at 96 DPI; false when the user's value cannot
// be known (the key or the value missing or of another type, a number out of
// range).
bool ReadPaddedBorder(int32_t* pixels) {
  const wchar_t* const name = L"PaddedBorderWidth";
  UniqueRegKey key;
  if (OpenKey(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  wchar_t text[16] = {};
  if (!ReadStringValue(key.get(), name, text, 16).found())
    return false;
  const MetricText parsed = ParseMetricText(AsU16(text), wcslen(text));
  if (parsed.error != 0) {
    MLOG(kLogWarning, kWeaveTag, "%d: failed to convert %ls(\"%ls\") to int", parsed.error, name,
         text);
    return false;
  }
  *pixels = MetricTo96Dpi(parsed.value, GetLogPixels());
  return true;
}

}  // namespace

int32_t GetWindowMetric(int index) {
  int32_t pixels = 0;
  if (index != kPaddedBorderMetric || !ReadPaddedBorder(&pixels))
    return 0;
  return pixels;
}

BorderWidths GetBorderWidths() {
  return {GetSystemMetrics(SM_CXBORDER), GetWindowMetric(kPaddedBorderMetric)};
}

bool SetBorderWidths(BorderWidths widths) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = kNonClientMetricsSize;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics, 0))
    return false;

  if (g_windowsVersion >= kWindows8 && GetLogPixels() > 120) {
    const CaptionMetrics asRead{metrics.iSmCaptionHeight, metrics.lfCaptionFont.lfHeight};
    if (g_captionScaling.load() == static_cast<int>(CaptionScaling::NotTested)) {
      if (!SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics, 0) ||
          !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics, 0)) {
        return false;
      }
      const CaptionMetrics reread{metrics.iSmCaptionHeight, metrics.lfCaptionFont.lfHeight};
      g_captionScaling.store(static_cast<int>(JudgeCaptionScaling(asRead, reread)));
    }
    if (g_captionScaling.load() == static_cast<int>(CaptionScaling::Scaled)) {
      const CaptionMetrics corrected = CorrectCaption(asRead, GetLogPixels());
      metrics.iSmCaptionHeight = corrected.smCaptionHeight;
      metrics.lfCaptionFont.lfHeight = corrected.captionFontHeight;
    }
  }

  int32_t screenDpi = g_screenDpi.load();
  if (screenDpi == 0) {
    screenDpi = GetScreenDpi();
    g_screenDpi.store(screenDpi);
  }
  metrics.cbSize = kNonClientMetricsSize;
  metrics.iBorderWidth = ScaleFrom96Dpi(widths.border, screenDpi);
  metrics.iPaddedBorderWidth = ScaleFrom96Dpi(widths.padded, screenDpi);
  return SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics,
                               SPIF_UPDATEINIFILE | SPIF_SENDCHANGE) != FALSE;
}

bool AdjustBorders() {
  // A padded border that cannot be read could not be put back as it was, so
  // the borders are left alone.
  BorderWidths current{GetSystemMetrics(SM_CXBORDER), 0};
  if (!ReadPaddedBorder(&current.padded)) {
    MLOG(kLogWarning, kWeaveTag, "can't read the padded border width; borders left as they are");
    return false;
  }
  UniqueRegKey key;
  LSTATUS status = CreateKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_ALL_ACCESS, &key);
  bool hasBackup = false;
  if (status == ERROR_SUCCESS)
    status = HasBackedUpBorderWidths(key.get(), &hasBackup);
  bool backedUpNow = false;
  if (status == ERROR_SUCCESS) {
    if (hasBackup) {
      // The older backup holds the user's widths (its restore failed); the
      // current ones may already be the adjusted ones.
      MLOG(kLogWarning, kWeaveTag, "already has backed up border widths");
    } else {
      // The sum first: a backup cut short by a crash then lacks
      // "BorderWidth", which every reader takes for no backup at all.
      const BorderBackup backup = BackupOf(current);
      backedUpNow = true;
      status = WriteDwordValue(key.get(), kBorderWidthSummary,
                               static_cast<DWORD>(backup.borderWidthSummary));
      if (status == ERROR_SUCCESS)
        status = WriteDwordValue(key.get(), kBorderWidth, static_cast<DWORD>(backup.borderWidth));
    }
  }
  if (status != ERROR_SUCCESS) {
    MLOG_FAILURE(kLogError, kWeaveTag, status, "error when adjusting borders");
    return false;
  }
  if (SetBorderWidths(AdjustedWidths(current)))
    return true;
  MLOG_FAILURE(kLogWarning, kWeaveTag, GetLastError(), "failed to adjust border widths");
  // Nothing changed, so a backup made just now is not needed. An older one
  // is the user's and stays for its restore.
  if (backedUpNow)
    DeleteBorderBackup(key.get());
  return false;
}

bool RestoreBorders() {
  if (g_windowsVersion < kWindowsVista)
    return false;
  UniqueRegKey key;
  DWORD border = 0;
  DWORD summary = 0;
  LSTATUS status = OpenKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_ALL_ACCESS, &key);
  if (status == ERROR_SUCCESS)
    status = ReadBorderBackup(key.get(), &border, &summary);
  if (status != ERROR_SUCCESS) {
    // No key or no backup is the ordinary case outside Weave mode.
    if (status != ERROR_FILE_NOT_FOUND) {
      MLOG_FAILURE(kLogError, kWeaveTag, status, "error when restoring borders");
    }
    return false;
  }
  if (!SetBorderWidths(
          RestoredWidths(static_cast<int32_t>(border), static_cast<int32_t>(summary)))) {
    MLOG_FAILURE(kLogWarning, kWeaveTag, GetLastError(),
                 "failed to restore border widths; the backup is kept");
    return false;
  }
  DeleteBorderBackup(key.get());
  return true;
}

bool WaitAdjustingBordersThread(DWORD limitMs) {
  AcquireSRWLockExclusive(&g_adjusting.lock);
  const bool ended = WaitLocked(limitMs);
  ReleaseSRWLockExclusive(&g_adjusting.lock);
  return ended;
}

void StartAdjustingBordersThread(bool restore) {
  if (g_windowsVersion < kWindowsVista)
    return;
  AcquireSRWLockExclusive(&g_adjusting.lock);
  if (WaitLocked(kBorderThreadBudgetMs)) {
    if (g_adjusting.thread.Start("AdjustingBordersThread", [restore](HANDLE) {
          restore ? RestoreBorders() : AdjustBorders();
        }))
      g_adjusting.startTick = GetTickCount();
  } else {
    MLOG(kLogWarning, kWeaveTag, "AdjustingBordersThread is already running for %d secs",
         static_cast<int>(WholeSecondsSince(GetTickCount(), g_adjusting.startTick)));
  }
  ReleaseSRWLockExclusive(&g_adjusting.lock);
}

uint32_t AdjustingBordersThreadSeconds() {
  AcquireSRWLockShared(&g_adjusting.lock);
  const uint32_t seconds = WholeSecondsSince(GetTickCount(), g_adjusting.startTick);
  ReleaseSRWLockShared(&g_adjusting.lock);
  return seconds;
}

}  // namespace mantlet
