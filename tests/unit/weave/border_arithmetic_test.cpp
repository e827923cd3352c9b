#include "weave/border_arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

namespace mantlet {
namespace {

TEST(BorderMetric, text_reads_as_the_c_library_reads_a_32_bit_decimal) {
  const struct {
    std::u16string text;
    int32_t value;
    int error;
  } cases[] = {
      // clang-format off
      {u"-60", -60, 0},      {u"  \t-15", -15, 0},  {u"+42", 42, 0},   {u"-60twips", -60, 0},
      {u"", 0, 0},           {u"abc", 0, 0},        {u"0x10", 0, 0},   {u"-2147483648", INT32_MIN, 0},
      {u"2147483648", 0, kMetricRangeError},        {u"-99999999999", 0, kMetricRangeError},
      {std::u16string(16, u'9'), 0, kMetricRangeError},  // a whole 32-byte value
      // clang-format on
  };
  for (const auto& c : cases) {
    const MetricText parsed = ParseMetricText(c.text.c_str(), c.text.size());
    EXPECT_EQ(parsed.error, c.error) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(parsed.error == 0 ? parsed.value : 0, c.value);
  }
  const char16_t unterminated[] = {u'-', u'1', u'2', u'3'};
  EXPECT_EQ(ParseMetricText(unterminated, 3).value, -12);
}

TEST(BorderMetric, twips_become_pixels_at_log_pixels_then_96_dpi_pixels) {
  const int32_t cases[][4] = {
      // twips, LogPixels, pixels, at 96 DPI
      {-60, 96, 4, 4},       {-60, 144, 6, 4}, {-60, 120, 5, 4},
      {-15, 144, 1, 1},      {-75, 120, 6, 5},  // 4.8 rounds up
      {0, 96, 0, 0},         {4, 96, 0, 0},     // a positive number is not twips
      {INT32_MIN, 96, 0, 0},                    // wraps as 32-bit arithmetic does, defined
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TwipsToPixels(c[0], c[1]), c[2]) << c[0] << " @" << c[1];
    EXPECT_EQ(MetricTo96Dpi(c[0], c[1]), c[3]) << c[0] << " @" << c[1];
  }
  const int32_t clamps[][2] = {{72, 96}, {-5, 96}, {96, 96}, {144, 144}, {480, 480}, {500, 480}};
  for (const auto& c : clamps)
    EXPECT_EQ(ClampLogPixels(c[0]), c[1]) << c[0];
  // A 96-DPI border width at the screen's DPI: width, DPI, pixels (rounded up).
  const int32_t scaled[][3] = {{5, 96, 5},  {1, 120, 2}, {4, 120, 5},
                               {5, 144, 8}, {1, 0, 0},   {-1, 96, 0}};
  for (const auto& c : scaled)
    EXPECT_EQ(ScaleFrom96Dpi(c[0], c[1]), c[2]) << c[0] << " @" << c[1];
}

// The sums that go into the settings key are pinned by the weave round trip;
// the padded border is not, as Wine ignores the one a caller sets.
TEST(BorderWidths, entering_folds_the_padded_border_in_and_leaving_gives_it_back) {
  EXPECT_EQ(AdjustedWidths({1, 4}).padded, 0);
  EXPECT_EQ(RestoredWidths(1, 5).padded, 4);
}

TEST(CaptionCorrection, a_scaling_system_gets_both_fields_corrected_in_opposite_directions) {
  EXPECT_EQ(JudgeCaptionScaling({15, -11}, {15, -11}), CaptionScaling::Faithful);
  EXPECT_EQ(JudgeCaptionScaling({15, -11}, {22, -11}), CaptionScaling::Scaled);
  EXPECT_EQ(JudgeCaptionScaling({15, -11}, {15, -16}), CaptionScaling::Scaled);
  const CaptionMetrics at144 = CorrectCaption({22, -16}, 144),
                       at192 = CorrectCaption({15, -11}, 192);
  EXPECT_EQ(std::tie(at144.smCaptionHeight, at144.captionFontHeight),
            std::make_tuple(14, -24));  // 22 * 96 / 144 = 14.67
  EXPECT_EQ(std::tie(at192.smCaptionHeight, at192.captionFontHeight), std::make_tuple(7, -22));
}

TEST(BorderThreadWait, budget_counts_from_the_thread_start_across_a_tick_wrap) {
  const uint32_t cases[][5] = {
      // now, start, limit, remaining, whole seconds since the start
      // clang-format off
      {1000, 1000, 5000, 5000, 0}, {3000, 1000, 5000, 3000, 2},  // leaving 2 s after entering waits 3 s more
      {6000, 1000, 5000, 0, 5},    {6001, 1000, 5000, 0, 5},
      {1500, 0xFFFFFC18u, 5000, 2500, 2},  // started 1 s before the wrap
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RemainingWaitMs(c[0], c[1], c[2]), c[3]) << c[0] << " " << c[1];
    EXPECT_EQ(WholeSecondsSince(c[0], c[1]), c[4]) << c[0] << " " << c[1];
  }
}

}  // namespace
}  // namespace mantlet
