// The request block exchanged with the tools device: both the input and the
// output buffer of one DeviceIoControl. Layout (little-endian):
//   0 u32 code, 4 u32 status, 8 u16 inlineSize, 10 u16 bufferCount,
//   12 u32 reserved, 16 inline payload, then at the next multiple of 8 the
//   16-byte buffer descriptors {u32 address low, u32 address high,
//   u32 byte count, u32 flags}.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace mantlet {

inline constexpr uint32_t kToolsDeviceIoControl = 0x22A004;

enum DeviceRequestCode : uint32_t {
  kHostEventWaitRequest = 0x8040,
  kHostShareListRequest = 0x8041,
  kHostPlatformCodeRequest = 0x8320,
  kTaskbarStateReport = 0x8500,
  kKeyboardHotkeysReport = 0x8501,
  kBrowserInfoReport = 0x8502,
};

enum DeviceStatus : uint32_t {
  kDeviceStatusSuccess = 0,
  kDeviceStatusBufferTooSmall = 0xF0000009,  // share list: double the buffer
  kDeviceStatusWaitAgain = 0xF0000020,       // host event wait: send again at once
  kDeviceStatusRetry = 0xF0000025,           // platform code: send again at once
};

inline constexpr size_t kDeviceRequestHeaderSize = 16;
inline constexpr size_t kDeviceBufferSize = 16;
inline constexpr uint32_t kDeviceBufferWritable = 0x1;

struct DeviceBuffer {
  uint64_t address = 0;  // low and high halves; the high half is 0 in a 32-bit build
  uint32_t byteCount = 0;
  uint32_t flags = 0;
};

struct DeviceRequest {
  uint32_t code = 0;
  uint32_t status = 0;
  std::vector<uint8_t> payload;
  std::vector<DeviceBuffer> buffers;
};

// Offset of the first descriptor for a given inline size.
constexpr size_t DeviceBufferOffset(size_t inlineSize) {
  return (kDeviceRequestHeaderSize + inlineSize + 7) & ~static_cast<size_t>(7);
}

std::vector<uint8_t> EncodeDeviceRequest(const DeviceRequest& request);

// nullopt when the block is shorter than its header says.
std::optional<DeviceRequest> DecodeDeviceRequest(std::span<const uint8_t> block);

// Status field of a block, 0xFFFFFFFF for a block too short to have one.
uint32_t DeviceRequestStatus(std::span<const uint8_t> block);

// Code field of a block, 0 for a block too short to have one.
uint32_t DeviceRequestCodeOf(std::span<const uint8_t> block);

// A report block: code, inline size 8, no descriptors, two payload words.
std::vector<uint8_t> EncodeTwoWordReport(uint32_t code, uint32_t first, uint32_t second);

}  // namespace mantlet
