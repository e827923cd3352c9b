#include "core/device_request.h"

#include <gtest/gtest.h>

#include <vector>

#include "unit_bytes.h"

namespace mantlet {
namespace {

using unit_bytes::Hex;

DeviceRequest Request(uint32_t code, uint32_t status, std::vector<uint8_t> payload,
                      std::vector<DeviceBuffer> buffers = {}) {
  return DeviceRequest{code, status, std::move(payload), std::move(buffers)};
}

// Header: code, status, inline size, descriptor count, reserved; then the
// inline payload; then, from the next multiple of 8, the descriptors.
TEST(DeviceRequestLayout, blocks_as_the_device_reads_them_and_back) {
  // Addresses keep a zero high half: the layout is what is pinned, not where a
  // 64-bit build happens to put its buffers.
  const DeviceBuffer kWritable{0x55667788, 0x1A0, kDeviceBufferWritable};
  const DeviceBuffer kPlain{0xABCDEF, 0, 0};
  const DeviceBuffer kHigh{0x1122334455667788ull, 4, 0};  // the address is 64 bits wide
  const struct {
    const char* what;
    DeviceRequest request;
    const char* block;
  } rows[] = {
      // clang-format off
      {"bare header",                    Request(0x8040, 0, {}),
       "40800000 00000000 0000 0000 00000000"},
      {"status as given",                Request(0x8041, 0xF0000009, {}),
       "41800000 090000f0 0000 0000 00000000"},
      {"payload without descriptors is not padded", Request(0x8500, 0, {1, 2, 3}),
       "00850000 00000000 0300 0000 00000000 010203"},
      {"descriptor right after the header", Request(0x8041, 0, {}, {kWritable}),
       "41800000 00000000 0000 0100 00000000 88776655 00000000 a0010000 01000000"},
      {"4 inline bytes: descriptor at 24", Request(0x8041, 0, {62, 0, 0, 0}, {kWritable}),
       "41800000 00000000 0400 0100 00000000 3e000000 00000000 88776655 00000000 a0010000 01000000"},
      {"8 inline bytes: no padding",     Request(0x8041, 0, {1, 2, 3, 4, 5, 6, 7, 8}, {kPlain}),
       "41800000 00000000 0800 0100 00000000 01020304 05060708 efcdab00 00000000 00000000 00000000"},
      {"9 inline bytes: descriptor at 32", Request(0x8041, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {kPlain}),
       "41800000 00000000 0900 0100 00000000 01020304 05060708 09000000 00000000 efcdab00 00000000 00000000 00000000"},
      {"two descriptors",                Request(0x8041, 0, {1}, {kPlain, kWritable}),
       "41800000 00000000 0100 0200 00000000 01000000 00000000 efcdab00 00000000 00000000 00000000 88776655 00000000 a0010000 01000000"},
      {"an address above 4 GiB",         Request(0x8041, 0, {}, {kHigh}),
       "41800000 00000000 0000 0100 00000000 88776655 44332211 04000000 00000000"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::vector<uint8_t> block = EncodeDeviceRequest(row.request);
    EXPECT_EQ(block, Hex(row.block));

    // Decoded, every field encodes again to the same block.
    const auto decoded = DecodeDeviceRequest(block);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(EncodeDeviceRequest(*decoded), block);
    EXPECT_EQ(DeviceRequestCodeOf(block), row.request.code);
    EXPECT_EQ(DeviceRequestStatus(block), row.request.status);
    // Cut anywhere, into the header, the payload, the padding or a
    // descriptor, a block is shorter than it says.
    for (size_t cut = 0; cut < block.size(); ++cut)
      EXPECT_FALSE(DecodeDeviceRequest(std::span<const uint8_t>(block.data(), cut))) << cut;
  }
}

TEST(DeviceRequestLayout, two_word_report_is_8_inline_bytes) {
  EXPECT_EQ(EncodeTwoWordReport(0x8501, 2, 0xAABBCCDD),
            Hex("01850000 00000000 0800 0000 00000000 02000000 ddccbbaa"));
}

TEST(DeviceRequestLayout, fields_of_blocks_too_short_to_hold_them) {
  const std::vector<uint8_t> block = Hex("41800000 090000f0");
  const auto cut = [&](size_t n) { return std::span<const uint8_t>(block.data(), n); };
  EXPECT_EQ(DeviceRequestCodeOf(cut(3)), 0u);
  EXPECT_EQ(DeviceRequestCodeOf(cut(4)), 0x8041u);
  EXPECT_EQ(DeviceRequestStatus(cut(7)), 0xFFFFFFFFu);
  EXPECT_EQ(DeviceRequestStatus(cut(8)), 0xF0000009u);
}

}  // namespace
}  // namespace mantlet
