#include "core/device_request.h"

#include <gtest/gtest.h>

#include "unit_bytes.h"

using namespace mantlet;
using unit_bytes::Hex;

// Header: code, status, inline size, descriptor count, reserved; then the
// inline payload; then, from the next multiple of 8, the descriptors.
TEST(DeviceRequestLayout, blocks_as_the_device_reads_them_and_back) {
  // Addresses keep a zero high half but one: the layout is what is pinned,
  // not where a 64-bit build happens to put its buffers.
  const DeviceBuffer w{0x55667788, 0x1A0, kDeviceBufferWritable}, p{0xABCDEF, 0, 0},
      high{0x1122334455667788ull, 4, 0};
  const std::pair<DeviceRequest, const char*> rows[] = {
      // clang-format off
      {{0x8041, 0xF0000009, {}, {}}, "41800000 090000f0 0000 0000 00000000"},
      {{0x8500, 0, {1, 2, 3}, {}}, "00850000 00000000 0300 0000 00000000 010203"},  // no descriptor, no padding
      {{0x8041, 0, {}, {w}}, "41800000 00000000 0000 0100 00000000 88776655 00000000 a0010000 01000000"},
      {{0x8041, 0, {62, 0, 0, 0}, {w}}, "41800000 00000000 0400 0100 00000000 3e000000 00000000 88776655 00000000 a0010000 01000000"},
      {{0x8041, 0, {1, 2, 3, 4, 5, 6, 7, 8}, {p}}, "41800000 00000000 0800 0100 00000000 01020304 05060708 efcdab00 00000000 00000000 00000000"},
      {{0x8041, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {p}}, "41800000 00000000 0900 0100 00000000 01020304 05060708 09000000 00000000 efcdab00 00000000 00000000 00000000"},
      {{0x8041, 0, {1}, {p, w}}, "41800000 00000000 0100 0200 00000000 01000000 00000000 efcdab00 00000000 00000000 00000000 88776655 00000000 a0010000 01000000"},
      {{0x8041, 0, {}, {high}}, "41800000 00000000 0000 0100 00000000 88776655 44332211 04000000 00000000"},
      // clang-format on
  };
  for (const auto& [request, hex] : rows) {
    SCOPED_TRACE(hex);
    const std::vector<uint8_t> block = EncodeDeviceRequest(request);
    EXPECT_EQ(block, Hex(hex));
    // Decoded, every field encodes again to the same block.
    const auto decoded = DecodeDeviceRequest(block);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(EncodeDeviceRequest(*decoded), block);
    EXPECT_EQ(DeviceRequestCodeOf(block), request.code);
    EXPECT_EQ(DeviceRequestStatus(block), request.status);
    // Cut anywhere, into the header, the payload, the padding or a
    // descriptor, a block is shorter than it says.
    for (size_t cut = 0; cut < block.size(); ++cut)
      EXPECT_FALSE(DecodeDeviceRequest(std::span<const uint8_t>(block.data(), cut))) << cut;
  }
  EXPECT_EQ(EncodeTwoWordReport(0x8501, 2, 0xAABBCCDD),
            Hex("01850000 00000000 0800 0000 00000000 02000000 ddccbbaa"));
}

TEST(DeviceRequestLayout, fields_of_blocks_too_short_to_hold_them) {
  const std::vector<uint8_t> block = Hex("41800000 090000f0");
  const auto cut = [&](size_t n) { return std::span<const uint8_t>(block.data(), n); };
  EXPECT_EQ(std::make_pair(DeviceRequestCodeOf(cut(3)), DeviceRequestCodeOf(cut(4))),
            std::make_pair(0u, 0x8041u));
  EXPECT_EQ(std::make_pair(DeviceRequestStatus(cut(7)), DeviceRequestStatus(cut(8))),
            std::make_pair(0xFFFFFFFFu, 0xF0000009u));
}
