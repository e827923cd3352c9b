// The window-border adjustment of Weave mode: process-wide, not per
// controller. One AdjustingBordersThread at a time runs AdjustBorders or
// RestoreBorders; it uses no controller member, only its own handle of the
// settings key, so it may outlive the call that started it until Stop waits
// for it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "weave/border_arithmetic.h"

namespace mantlet {

inline constexpr DWORD kBorderThreadBudgetMs = 5000;

// LOGPIXELSY of the screen, 96 when gdi32 cannot be loaded.
int32_t GetScreenDpi();
// "LogPixels" of the user's desktop settings (else the screen's DPI),
// clamped to 96..480; the first result is kept for the process.
int32_t GetLogPixels();
// SM_CXPADDEDBORDER from the user's window metrics, in pixels at 96 DPI; 0
// for any other index and on any failure.
int32_t GetWindowMetric(int index);
BorderWidths GetBorderWidths();
bool SetBorderWidths(BorderWidths widths);

// Entering Weave mode: back up the widths (unless a backup is there) and fold
// the padded border into the sizing border.
bool AdjustBorders();
// Leaving it, starting and stopping: put the backup back and delete it.
bool RestoreBorders();

// Waits for the adjusting thread until `limitMs` after its start (INFINITE:
// no limit); true when no thread is held any more.
bool WaitAdjustingBordersThread(DWORD limitMs);
// Starts a thread for the change unless one has been running for the whole
// budget, in which case the change is dropped with a log line.
void StartAdjustingBordersThread(bool restore);
// Whole seconds since the adjusting thread started (for log lines).
uint32_t AdjustingBordersThreadSeconds();

}  // namespace mantlet
