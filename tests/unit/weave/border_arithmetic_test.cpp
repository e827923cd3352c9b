#include "weave/border_arithmetic.h"

#include <gtest/gtest.h>

using namespace mantlet;

TEST(BorderMetric, text_reads_as_the_c_library_reads_a_32_bit_decimal) {
  const std::tuple<std::u16string, int32_t, int> cases[] = {
      // clang-format off
      {u"-60", -60, 0}, {u"  \t-15", -15, 0}, {u"+42", 42, 0}, {u"-60twips", -60, 0}, {u"", 0, 0}, {u"abc", 0, 0},
      {u"0x10", 0, 0}, {u"-2147483648", INT32_MIN, 0}, {u"2147483648", 0, kMetricRangeError},
      {u"-99999999999", 0, kMetricRangeError}, {std::u16string(16, u'9'), 0, kMetricRangeError},  // a whole 32-byte value
      // clang-format on
  };
  for (const auto& [text, value, error] : cases) {
    const MetricText parsed = ParseMetricText(text.c_str(), text.size());
    EXPECT_EQ(parsed.error, error) << std::string(text.begin(), text.end());
    EXPECT_EQ(parsed.error == 0 ? parsed.value : 0, value);
  }
  EXPECT_EQ(ParseMetricText(u"-1234", 3).value, -12);  // the length ends the text
}

TEST(BorderMetric, twips_become_pixels_at_log_pixels_then_96_dpi_pixels) {
  // twips, LogPixels, pixels, at 96 DPI; 4.8 rounds up, a positive number is
  // not twips, and INT32_MIN wraps as 32-bit arithmetic does.
  const int32_t cases[][4] = {{-60, 96, 4, 4},  {-60, 144, 6, 4},     {-60, 120, 5, 4},
                              {-15, 144, 1, 1}, {-75, 120, 6, 5},     {0, 96, 0, 0},
                              {4, 96, 0, 0},    {INT32_MIN, 96, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(TwipsToPixels(c[0], c[1]), c[2]) << c[0] << " @" << c[1];
    EXPECT_EQ(MetricTo96Dpi(c[0], c[1]), c[3]) << c[0] << " @" << c[1];
  }
  for (const auto& [in, out] : {std::pair{72, 96}, {-5, 96}, {144, 144}, {480, 480}, {500, 480}})
    EXPECT_EQ(ClampLogPixels(in), out) << in;
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
  const CaptionMetrics at144 = CorrectCaption({22, -16}, 144);  // 22 * 96 / 144 = 14.67
  EXPECT_EQ(std::tie(at144.smCaptionHeight, at144.captionFontHeight), std::make_tuple(14, -24));
}

TEST(BorderThreadWait, budget_counts_from_the_thread_start_across_a_tick_wrap) {
  // now, start, limit, remaining, whole seconds since the start
  const uint32_t cases[][5] = {{1000, 1000, 5000, 5000, 0},
                               {3000, 1000, 5000, 3000, 2},
                               {6000, 1000, 5000, 0, 5},
                               {6001, 1000, 5000, 0, 5},
                               {1500, 0xFFFFFC18u, 5000, 2500, 2}};  // started 1 s before the wrap
  for (const auto& c : cases) {
    EXPECT_EQ(RemainingWaitMs(c[0], c[1], c[2]), c[3]) << c[0] << " " << c[1];
    EXPECT_EQ(WholeSecondsSince(c[0], c[1]), c[4]) << c[0] << " " << c[1];
  }
}
