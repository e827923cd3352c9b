#include "weave/border_arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace mantlet {
namespace {

struct ParseCase {
  std::u16string text;
  int32_t value;
  int error;
};

TEST(MetricText, reads_decimal_text_as_the_c_library_does_with_a_32_bit_long) {
  const ParseCase cases[] = {
      {u"-60", -60, 0},
      {u"  \t-15", -15, 0},
      {u"+42", 42, 0},
      {u"4", 4, 0},
      {u"-60twips", -60, 0},  // stops at the first non-digit
      {u"", 0, 0},
      {u"abc", 0, 0},
      {u"-", 0, 0},
      {u"0x10", 0, 0},  // decimal only
      {u"2147483647", 2147483647, 0},
      {u"-2147483648", INT32_MIN, 0},
      {u"2147483648", 0, kMetricRangeError},
      {u"-2147483649", 0, kMetricRangeError},
      {u"99999999999999", 0, kMetricRangeError},
  };
  for (const ParseCase& c : cases) {
    const MetricText parsed = ParseMetricText(c.text.c_str(), c.text.size());
    EXPECT_EQ(parsed.error, c.error) << std::string(c.text.begin(), c.text.end());
    if (c.error == 0) {
      EXPECT_EQ(parsed.value, c.value) << std::string(c.text.begin(), c.text.end());
    }
  }
}

TEST(MetricText, never_reads_past_the_given_length_or_a_zero_unit) {
  const char16_t unterminated[4] = {u'-', u'1', u'2', u'3'};
  EXPECT_EQ(ParseMetricText(unterminated, 3).value, -12);
  const char16_t stopped[] = {u'7', 0, u'9'};
  EXPECT_EQ(ParseMetricText(stopped, 3).value, 7);
  // Sixteen digits fill a whole 32-byte value and are out of range.
  const std::u16string sixteen(16, u'9');
  EXPECT_EQ(ParseMetricText(sixteen.c_str(), 16).error, kMetricRangeError);
}

TEST(LogPixels, clamps_to_96_through_480) {
  const int32_t cases[][2] = {{72, 96},   {0, 96},    {-5, 96},   {96, 96},
                              {120, 120}, {144, 144}, {480, 480}, {500, 480}};
  for (const auto& c : cases)
    EXPECT_EQ(ClampLogPixels(c[0]), c[1]) << c[0];
}

struct MetricCase {
  int32_t twips;
  int32_t logPixels;
  int32_t pixels;
  int32_t at96;
};

TEST(WindowMetric, negative_twips_become_pixels_and_then_96_dpi_pixels) {
  const MetricCase cases[] = {
      {-60, 96, 4, 4},   // the usual padded border
      {-60, 144, 6, 4},  // 150 %: six pixels, four at 96 DPI
      {-60, 120, 5, 4},  // 125 %: (5 * 96 + 119) / 120 = 4
      {-15, 96, 1, 1},   // the usual sizing border
      {-15, 144, 1, 1},  // 1.5 truncates to 1, which rounds up to 1 at 96 DPI
      {-75, 120, 6, 5},  // (6 * 96 + 119) / 120 = 5 (rounded up from 4.8)
      {0, 96, 0, 0},     // no padded border
      {4, 96, 0, 0},     // a positive number is not twips: it truncates to 0
      {-1440, 480, 480, 96},
  };
  for (const MetricCase& c : cases) {
    EXPECT_EQ(TwipsToPixels(c.twips, c.logPixels), c.pixels) << c.twips << " @" << c.logPixels;
    EXPECT_EQ(MetricTo96Dpi(c.twips, c.logPixels), c.at96) << c.twips << " @" << c.logPixels;
  }
}

TEST(WindowMetric, extreme_registry_values_wrap_instead_of_trapping) {
  // A 32-bit build multiplies first and wraps; the result is garbage but
  // defined, and the sanitizers would flag an overflow here.
  EXPECT_EQ(TwipsToPixels(INT32_MIN, 96), 0);
  EXPECT_EQ(TwipsToPixels(INT32_MAX, 480), static_cast<int32_t>(0xFFFFFE20u) / -1440);
  EXPECT_EQ(PixelsTo96Dpi(INT32_MAX, 96), static_cast<int32_t>(0xFFFFFFA0u + 95u) / 96);
}

TEST(BorderWidths, backup_set_and_restore_give_the_user_widths_back) {
  const BorderWidths user{1, 4};
  const BorderBackup backup = BackupOf(user);
  EXPECT_EQ(backup.borderWidth, 1);
  EXPECT_EQ(backup.borderWidthSummary, 5);
  const BorderWidths adjusted = AdjustedWidths(user);
  EXPECT_EQ(adjusted.border, 5);
  EXPECT_EQ(adjusted.padded, 0);
  const BorderWidths restored = RestoredWidths(backup.borderWidth, backup.borderWidthSummary);
  EXPECT_EQ(restored.border, 1);
  EXPECT_EQ(restored.padded, 4);
  // A backup that someone changed by hand still gives border and difference.
  const BorderWidths odd = RestoredWidths(3, 2);
  EXPECT_EQ(odd.border, 3);
  EXPECT_EQ(odd.padded, -1);
}

TEST(BorderWidths, scale_to_the_screen_dpi_rounding_up) {
  const int32_t cases[][3] = {
      // width at 96 DPI, screen DPI, pixels
      {5, 96, 5},  {0, 96, 0},  {1, 120, 2}, {4, 120, 5},
      {5, 144, 8}, {4, 144, 6}, {1, 0, 0},  // a screen without a DPI gives 0 pixels
      {-1, 96, 0},                          // truncation toward zero: (-96 + 95) / 96
  };
  for (const auto& c : cases)
    EXPECT_EQ(ScaleFrom96Dpi(c[0], c[1]), c[2]) << c[0] << " @" << c[1];
}

TEST(CaptionCorrection, moves_the_two_fields_in_opposite_directions) {
  const CaptionMetrics asRead{22, -16};
  const CaptionMetrics at144 = CorrectCaption(asRead, 144);
  EXPECT_EQ(at144.smCaptionHeight, 14);     // 22 * 96 / 144 = 14.67
  EXPECT_EQ(at144.captionFontHeight, -24);  // -16 * 144 / 96
  const CaptionMetrics at192 = CorrectCaption({15, -11}, 192);
  EXPECT_EQ(at192.smCaptionHeight, 7);
  EXPECT_EQ(at192.captionFontHeight, -22);
  const CaptionMetrics at96 = CorrectCaption({15, -11}, 96);
  EXPECT_EQ(at96.smCaptionHeight, 15);
  EXPECT_EQ(at96.captionFontHeight, -11);
}

TEST(CaptionCorrection, a_reread_that_differs_in_either_field_means_scaled) {
  const CaptionMetrics written{15, -11};
  EXPECT_EQ(JudgeCaptionScaling(written, {15, -11}), CaptionScaling::Faithful);
  EXPECT_EQ(JudgeCaptionScaling(written, {22, -11}), CaptionScaling::Scaled);
  EXPECT_EQ(JudgeCaptionScaling(written, {15, -16}), CaptionScaling::Scaled);
}

struct WaitCase {
  uint32_t now;
  uint32_t start;
  uint32_t limit;
  uint32_t remaining;
  uint32_t seconds;
};

TEST(BorderThreadWait, budget_counts_from_the_thread_start_across_a_tick_wrap) {
  const WaitCase cases[] = {
      {1000, 1000, 5000, 5000, 0},  // just started: the whole budget
      {3000, 1000, 5000, 3000, 2},  // leaving 2 s after entering waits 3 s more
      {6000, 1000, 5000, 0, 5},     // exactly at the budget
      {6001, 1000, 5000, 0, 5},     // past it: no wait at all
      {99000, 1000, 5000, 0, 98},
      {1500, 0xFFFFFC18u, 5000, 2500, 2},  // started 1 s before the wrap
      {0xFFFFFFFFu, 0, 5000, 0, 4294967},
  };
  for (const WaitCase& c : cases) {
    EXPECT_EQ(RemainingWaitMs(c.now, c.start, c.limit), c.remaining) << c.now << " " << c.start;
    EXPECT_EQ(WholeSecondsSince(c.now, c.start), c.seconds) << c.now << " " << c.start;
  }
}

}  // namespace
}  // namespace mantlet
