#include "sharemapping/host_answers.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/bytes.h"
#include "core/device_request.h"

namespace mantlet {
namespace {

std::vector<uint8_t> ShareListAnswer(uint32_t status, uint32_t written, bool descriptor = true) {
  DeviceRequest reply;
  reply.code = kHostShareListRequest;
  reply.status = status;
  reply.payload = {62, 0, 0, 0};
  if (descriptor)
    reply.buffers.push_back({0x1000, written, kDeviceBufferWritable});
  return EncodeDeviceRequest(reply);
}

TEST(ShareListAnswer, written_count_capped_at_the_buffer_and_growth_within_32_bits) {
  using Kind = ShareListStep::Kind;
  const struct {
    const char* what;
    std::vector<uint8_t> block;
    size_t buffer;
    Kind kind;
    size_t bytes;
  } cases[] = {
      // clang-format off
      {"written",               ShareListAnswer(0, 100),        256,         Kind::kDone,   100},
      {"more than the buffer",  ShareListAnswer(0, 5000),       256,         Kind::kDone,   256},
      {"no descriptor back",    ShareListAnswer(0, 100, false), 256,         Kind::kFailed, 0},
      {"too small",             ShareListAnswer(kDeviceStatusBufferTooSmall, 0), 256,         Kind::kGrow,   512},
      {"too small at 2 GiB",    ShareListAnswer(kDeviceStatusBufferTooSmall, 0), 0x80000000u, Kind::kFailed, 0},
      {"too small below 2 GiB", ShareListAnswer(kDeviceStatusBufferTooSmall, 0), 0x7FFFFFFF,  Kind::kGrow,   0xFFFFFFFE},
      {"other status",          ShareListAnswer(kDeviceStatusRetry, 100), 256,   Kind::kFailed, 0},
      {"cut block",             std::vector<uint8_t>(20, 0),    256,         Kind::kFailed, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    const ShareListStep step = ReadShareListAnswer(c.block, c.buffer);
    EXPECT_EQ(step.kind, c.kind) << c.what;
    EXPECT_EQ(step.bytes, c.bytes) << c.what;
  }
}

TEST(PlatformCodeAnswer, word_5_of_a_whole_successful_answer) {
  using Kind = PlatformCodeAnswer::Kind;
  const struct {
    uint32_t status;
    size_t payload;
    Kind kind;
  } cases[] = {
      {kDeviceStatusSuccess, 248, Kind::kCode},   {kDeviceStatusSuccess, 300, Kind::kCode},
      {kDeviceStatusSuccess, 247, Kind::kFailed}, {kDeviceStatusRetry, 248, Kind::kAskAgain},
      {kDeviceStatusRetry, 8, Kind::kFailed},     {1, 248, Kind::kFailed},
  };
  for (const auto& c : cases) {
    DeviceRequest reply;
    reply.code = kHostPlatformCodeRequest;
    reply.status = c.status;
    reply.payload.assign(c.payload, 0xAB);
    if (c.payload >= 24)
      StoreU32(reply.payload.data() + 20, 34);
    const PlatformCodeAnswer answer = ReadPlatformCodeAnswer(EncodeDeviceRequest(reply));
    EXPECT_EQ(answer.kind, c.kind) << c.status << "/" << c.payload;
    EXPECT_EQ(answer.code, c.kind == Kind::kCode ? 34u : 0u) << c.status << "/" << c.payload;
  }
}

}  // namespace
}  // namespace mantlet
