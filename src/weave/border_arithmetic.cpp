#include "weave/border_arithmetic.h"

namespace mantlet {
namespace {

// 32-bit signed products wrap instead of overflowing (which C++ leaves
// undefined); conversion to a signed type is modular since C++20.
int32_t Mul32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t Sub32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

bool IsSpace(char16_t c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

MetricText ParseMetricText(const char16_t* text, size_t length) {
  MetricText result;
  size_t i = 0;
  while (i < length && text[i] != 0 && IsSpace(text[i]))
    ++i;
  bool negative = false;
  if (i < length && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  // One past the largest magnitude is enough to know the number is out of range.
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t magnitude = 0;
  bool outOfRange = false;
  for (; i < length && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (!outOfRange) {
      magnitude = magnitude * 10 + (text[i] - u'0');
      outOfRange = magnitude > limit;
    }
  }
  if (outOfRange) {
    result.error = kMetricRangeError;
    return result;
  }
  result.value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return result;
}

int32_t ClampLogPixels(int32_t logPixels) {
  if (logPixels < kMinLogPixels)
    return kMinLogPixels;
  if (logPixels > kMaxLogPixels)
    return kMaxLogPixels;
  return logPixels;
}

int32_t TwipsToPixels(int32_t twips, int32_t logPixels) {
  return Mul32(logPixels, twips) / -1440;
}

int32_t PixelsTo96Dpi(int32_t pixels, int32_t logPixels) {
  if (logPixels <= 0)  // never after the clamp; keeps a stray call defined
    return pixels;
  return Add32(Mul32(pixels, 96), logPixels - 1) / logPixels;
}

int32_t MetricTo96Dpi(int32_t twips, int32_t logPixels) {
  return PixelsTo96Dpi(TwipsToPixels(twips, logPixels), logPixels);
}

int32_t ScaleFrom96Dpi(int32_t width96, int32_t screenDpi) {
  return Add32(Mul32(width96, screenDpi), 95) / 96;
}

BorderBackup BackupOf(BorderWidths current) {
  return {current.border, Add32(current.border, current.padded)};
}

BorderWidths AdjustedWidths(BorderWidths current) {
  return {Add32(current.border, current.padded), 0};
}

BorderWidths RestoredWidths(int32_t borderWidth, int32_t borderWidthSummary) {
  return {borderWidth, Sub32(borderWidthSummary, borderWidth)};
}

CaptionScaling JudgeCaptionScaling(CaptionMetrics written, CaptionMetrics reread) {
  const bool same = reread.smCaptionHeight == written.smCaptionHeight &&
                    reread.captionFontHeight == written.captionFontHeight;
  return same ? CaptionScaling::Faithful : CaptionScaling::Scaled;
}

CaptionMetrics CorrectCaption(CaptionMetrics asRead, int32_t logPixels) {
  CaptionMetrics corrected = asRead;
  if (logPixels <= 0)
    return corrected;
  corrected.smCaptionHeight = Mul32(asRead.smCaptionHeight, 96) / logPixels;
  corrected.captionFontHeight = Mul32(asRead.captionFontHeight, logPixels) / 96;
  return corrected;
}

uint32_t RemainingWaitMs(uint32_t nowTick, uint32_t startTick, uint32_t limitMs) {
  const uint32_t elapsed = nowTick - startTick;
  return elapsed > limitMs ? 0 : limitMs - elapsed;
}

uint32_t WholeSecondsSince(uint32_t nowTick, uint32_t startTick) {
  return (nowTick - startTick) / 1000;
}

}  // namespace mantlet
