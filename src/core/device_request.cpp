#include "core/device_request.h"

#include "core/bytes.h"

namespace mantlet {

std::vector<uint8_t> EncodeDeviceRequest(const DeviceRequest& request) {
  const size_t inlineSize = request.payload.size();
  const size_t buffersAt = request.buffers.empty() ? kDeviceRequestHeaderSize + inlineSize
                                                   : DeviceBufferOffset(inlineSize);
  std::vector<uint8_t> block(buffersAt + request.buffers.size() * kDeviceBufferSize, 0);
  uint8_t* p = block.data();
  StoreU32(p, request.code);
  StoreU32(p + 4, request.status);
  StoreU16(p + 8, static_cast<uint16_t>(inlineSize));
  StoreU16(p + 10, static_cast<uint16_t>(request.buffers.size()));
  if (inlineSize != 0) {
    std::memcpy(p + kDeviceRequestHeaderSize, request.payload.data(), inlineSize);
  }
  for (size_t i = 0; i < request.buffers.size(); ++i) {
    uint8_t* d = p + buffersAt + i * kDeviceBufferSize;
    const DeviceBuffer& b = request.buffers[i];
    StoreU32(d, static_cast<uint32_t>(b.address));
    StoreU32(d + 4, static_cast<uint32_t>(b.address >> 32));
    StoreU32(d + 8, b.byteCount);
    StoreU32(d + 12, b.flags);
  }
  return block;
}

std::optional<DeviceRequest> DecodeDeviceRequest(std::span<const uint8_t> block) {
  if (block.size() < kDeviceRequestHeaderSize)
    return std::nullopt;
  const uint8_t* p = block.data();
  DeviceRequest request;
  request.code = LoadU32(p);
  request.status = LoadU32(p + 4);
  const size_t inlineSize = LoadU16(p + 8);
  const size_t bufferCount = LoadU16(p + 10);
  if (block.size() < kDeviceRequestHeaderSize + inlineSize)
    return std::nullopt;
  request.payload.assign(p + kDeviceRequestHeaderSize, p + kDeviceRequestHeaderSize + inlineSize);
  if (bufferCount == 0)
    return request;
  const size_t buffersAt = DeviceBufferOffset(inlineSize);
  if (block.size() < buffersAt + bufferCount * kDeviceBufferSize)
    return std::nullopt;
  request.buffers.resize(bufferCount);
  for (size_t i = 0; i < bufferCount; ++i) {
    const uint8_t* d = p + buffersAt + i * kDeviceBufferSize;
    request.buffers[i].address = LoadU32(d) | (static_cast<uint64_t>(LoadU32(d + 4)) << 32);
    request.buffers[i].byteCount = LoadU32(d + 8);
    request.buffers[i].flags = LoadU32(d + 12);
  }
  return request;
}

uint32_t DeviceRequestStatus(std::span<const uint8_t> block) {
  return block.size() < 8 ? 0xFFFFFFFFu : LoadU32(block.data() + 4);
}

uint32_t DeviceRequestCodeOf(std::span<const uint8_t> block) {
  return block.size() < 4 ? 0 : LoadU32(block.data());
}

std::vector<uint8_t> EncodeTwoWordReport(uint32_t code, uint32_t first, uint32_t second) {
  DeviceRequest request;
  request.code = code;
  request.payload.resize(8);
  StoreU32(request.payload.data(), first);
  StoreU32(request.payload.data() + 4, second);
  return EncodeDeviceRequest(request);
}

}  // namespace mantlet
