// The arithmetic of the window-border adjustment, apart from the calls that
// read and write the system's metrics: twips to pixels to 96-DPI pixels, the
// LogPixels clamp, what is backed up and what is set, the caption correction
// and the border thread's wait budget. All of it is 32-bit signed arithmetic
// truncating toward zero, as the system's own integers are; products that
// could leave the 32-bit range wrap as a 32-bit build would, never trap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mantlet {

// Border width and padded border width, both in pixels at 96 DPI.
struct BorderWidths {
  int32_t border = 0;
  int32_t padded = 0;
};

// What the settings key keeps before a border change.
struct BorderBackup {
  int32_t borderWidth = 0;         // "BorderWidth"
  int32_t borderWidthSummary = 0;  // "BorderWidthSummary"
};

inline constexpr int32_t kMinLogPixels = 96;
inline constexpr int32_t kMaxLogPixels = 480;
// The C library's range error (ERANGE), logged with a metric that does not fit.
inline constexpr int kMetricRangeError = 34;

struct MetricText {
  int32_t value = 0;
  int error = 0;  // 0, or kMetricRangeError (value is then meaningless)
};

// A decimal wide string as the C library's wcstol reads it with a 32-bit
// long: leading white space, an optional sign, digits up to the first other
// character (none gives 0). Reads at most `length` units, stopping earlier at
// a zero unit.
MetricText ParseMetricText(const char16_t* text, size_t length);

int32_t ClampLogPixels(int32_t logPixels);

// A metric kept in the registry as negative twips, in pixels at `logPixels`
// and then scaled back to 96 DPI (a positive pixel count rounds up):
// -60 at 96 gives 4, -60 at 144 gives 6 pixels and so 4 at 96 DPI.
int32_t TwipsToPixels(int32_t twips, int32_t logPixels);
int32_t PixelsTo96Dpi(int32_t pixels, int32_t logPixels);
int32_t MetricTo96Dpi(int32_t twips, int32_t logPixels);

// A 96-DPI width at the screen's DPI, rounding up.
int32_t ScaleFrom96Dpi(int32_t width96, int32_t screenDpi);

// Entering the mode folds the padded border into the sizing border; the
// backup keeps the border and the sum, so leaving gives both parts back.
BorderBackup BackupOf(BorderWidths current);
BorderWidths AdjustedWidths(BorderWidths current);
BorderWidths RestoredWidths(int32_t borderWidth, int32_t borderWidthSummary);

// Small caption height and caption font height of the non-client metrics.
struct CaptionMetrics {
  int32_t smCaptionHeight = 0;
  int32_t captionFontHeight = 0;
};

// How the system treats caption fields written back to it, found out once
// per process by writing the metrics unchanged and reading them again.
enum class CaptionScaling : int { NotTested = 0, Faithful = 1, Scaled = 2 };
CaptionScaling JudgeCaptionScaling(CaptionMetrics written, CaptionMetrics reread);

// A system that scales the caption fields when they are written back gets
// them pre-corrected in opposite directions, so that they land unchanged.
CaptionMetrics CorrectCaption(CaptionMetrics asRead, int32_t logPixels);

// The border thread's wait budget counts from the thread's start, not from the
// caller: 32-bit tick arithmetic, so a tick count that wrapped still works.
uint32_t RemainingWaitMs(uint32_t nowTick, uint32_t startTick, uint32_t limitMs);
uint32_t WholeSecondsSince(uint32_t nowTick, uint32_t startTick);

}  // namespace mantlet
