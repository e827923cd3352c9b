#include "core/device_request.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/bytes.h"

namespace mantlet {
namespace {

TEST(DeviceRequestLayout, host_event_wait_is_a_bare_16_byte_header) {
  DeviceRequest request;
  request.code = kHostEventWaitRequest;
  const std::vector<uint8_t> block = EncodeDeviceRequest(request);
  const std::vector<uint8_t> expected = {0x40, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(block, expected);
}

TEST(DeviceRequestLayout, share_list_request_puts_its_descriptor_at_24_of_40) {
  DeviceRequest request;
  request.code = kHostShareListRequest;
  request.payload = {62, 0, 0, 0};
  request.buffers.push_back({0x1122334455667788ull, 256, kDeviceBufferWritable});
  const std::vector<uint8_t> block = EncodeDeviceRequest(request);
  ASSERT_EQ(block.size(), 40u);
  EXPECT_EQ(LoadU16(block.data() + 8), 4);
  EXPECT_EQ(LoadU16(block.data() + 10), 1);
  EXPECT_EQ(LoadU32(block.data() + 16), 62u);
  EXPECT_EQ(LoadU32(block.data() + 20), 0u);  // padding to the next multiple of 8
  EXPECT_EQ(LoadU32(block.data() + 24), 0x55667788u);
  EXPECT_EQ(LoadU32(block.data() + 28), 0x11223344u);
  EXPECT_EQ(LoadU32(block.data() + 32), 256u);
  EXPECT_EQ(LoadU32(block.data() + 36), 1u);
}

TEST(DeviceRequestLayout, sizes_of_the_known_requests) {
  DeviceRequest platform;
  platform.code = kHostPlatformCodeRequest;
  platform.payload.resize(248);
  EXPECT_EQ(EncodeDeviceRequest(platform).size(), 264u);
  EXPECT_EQ(EncodeTwoWordReport(kTaskbarStateReport, 1, 0).size(), 24u);
  EXPECT_EQ(DeviceBufferOffset(0), 16u);
  EXPECT_EQ(DeviceBufferOffset(1), 24u);
  EXPECT_EQ(DeviceBufferOffset(8), 24u);
  EXPECT_EQ(DeviceBufferOffset(9), 32u);
}

TEST(DeviceRequestLayout, two_word_report) {
  const std::vector<uint8_t> block = EncodeTwoWordReport(kKeyboardHotkeysReport, 2, 3);
  EXPECT_EQ(LoadU32(block.data()), 0x8501u);
  EXPECT_EQ(LoadU32(block.data() + 4), 0u);
  EXPECT_EQ(LoadU16(block.data() + 8), 8);
  EXPECT_EQ(LoadU16(block.data() + 10), 0);
  EXPECT_EQ(LoadU32(block.data() + 16), 2u);
  EXPECT_EQ(LoadU32(block.data() + 20), 3u);
}

TEST(DeviceRequestLayout, decode_round_trips_and_rejects_short_blocks) {
  DeviceRequest request;
  request.code = kHostShareListRequest;
  request.status = kDeviceStatusBufferTooSmall;
  request.payload = {1, 2, 3};
  request.buffers.push_back({0xABCDEF, 512, 1});
  request.buffers.push_back({0x10, 0, 0});
  const std::vector<uint8_t> block = EncodeDeviceRequest(request);
  const auto decoded = DecodeDeviceRequest(block);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->code, request.code);
  EXPECT_EQ(decoded->status, request.status);
  EXPECT_EQ(decoded->payload, request.payload);
  ASSERT_EQ(decoded->buffers.size(), 2u);
  EXPECT_EQ(decoded->buffers[0].address, 0xABCDEFu);
  EXPECT_EQ(decoded->buffers[0].byteCount, 512u);
  EXPECT_EQ(DeviceRequestStatus(block), kDeviceStatusBufferTooSmall);

  for (size_t cut : {size_t{0}, size_t{15}, size_t{18}, block.size() - 1}) {
    EXPECT_FALSE(DecodeDeviceRequest(std::span<const uint8_t>(block.data(), cut))) << cut;
  }
  EXPECT_EQ(DeviceRequestStatus(std::span<const uint8_t>(block.data(), 7)), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace mantlet
