#include "sharemapping/host_answers.h"

#include <gtest/gtest.h>

#include "core/bytes.h"
#include "core/device_request.h"

using namespace mantlet;
namespace {

std::vector<uint8_t> Answer(uint32_t code, uint32_t status, std::vector<uint8_t> payload,
                            std::vector<DeviceBuffer> buffers = {}) {
  return EncodeDeviceRequest({code, status, std::move(payload), std::move(buffers)});
}

std::vector<uint8_t> ListAnswer(uint32_t status, uint32_t written, bool descriptor = true) {
  return Answer(kHostShareListRequest, status, {62, 0, 0, 0},
                descriptor ? std::vector<DeviceBuffer>{{0x1000, written, kDeviceBufferWritable}}
                           : std::vector<DeviceBuffer>{});
}

}  // namespace

TEST(ShareListAnswer, written_count_capped_at_the_buffer_and_growth_within_32_bits) {
  using Kind = ShareListStep::Kind;
  constexpr uint32_t kSmall = kDeviceStatusBufferTooSmall;
  const std::tuple<std::vector<uint8_t>, size_t, Kind, size_t> cases[] = {
      // clang-format off
      {ListAnswer(0, 100), 256, Kind::kDone, 100},         {ListAnswer(0, 5000), 256, Kind::kDone, 256},
      {ListAnswer(0, 100, false), 256, Kind::kFailed, 0},  // no descriptor back
      {ListAnswer(kSmall, 0), 256, Kind::kGrow, 512},      {ListAnswer(kSmall, 0), 0x80000000u, Kind::kFailed, 0},
      {ListAnswer(kSmall, 0), 0x7FFFFFFF, Kind::kGrow, 0xFFFFFFFE},
      {ListAnswer(kDeviceStatusRetry, 100), 256, Kind::kFailed, 0}, {std::vector<uint8_t>(20, 0), 256, Kind::kFailed, 0},
      // clang-format on
  };
  for (const auto& [block, buffer, kind, bytes] : cases) {
    const ShareListStep step = ReadShareListAnswer(block, buffer);
    EXPECT_EQ(std::make_pair(step.kind, step.bytes), std::make_pair(kind, bytes))
        << buffer << " " << block.size();
  }
}

TEST(PlatformCodeAnswer, word_5_of_a_whole_successful_answer) {
  using Kind = PlatformCodeAnswer::Kind;
  const std::tuple<uint32_t, size_t, Kind> cases[] = {
      // clang-format off
      {kDeviceStatusSuccess, 248, Kind::kCode}, {kDeviceStatusSuccess, 300, Kind::kCode}, {kDeviceStatusSuccess, 247, Kind::kFailed},
      {kDeviceStatusRetry, 248, Kind::kAskAgain}, {kDeviceStatusRetry, 8, Kind::kFailed}, {1, 248, Kind::kFailed},
      // clang-format on
  };
  for (const auto& [status, size, kind] : cases) {
    std::vector<uint8_t> payload(size, 0xAB);
    if (size >= 24)
      StoreU32(payload.data() + 20, 34);
    const PlatformCodeAnswer answer =
        ReadPlatformCodeAnswer(Answer(kHostPlatformCodeRequest, status, payload));
    EXPECT_EQ(std::make_pair(answer.kind, answer.code),
              std::make_pair(kind, kind == Kind::kCode ? 34u : 0u))
        << status << "/" << size;
  }
}
