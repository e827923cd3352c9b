// Device blocks as a device could hand them back: decoding stays inside the
// block, and what decodes encodes to the same bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "core/device_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mantlet;
  const std::span<const uint8_t> block(data, size);
  (void)DeviceRequestStatus(block);
  const auto request = DecodeDeviceRequest(block);
  if (!request)
    return 0;
  const auto again = EncodeDeviceRequest(*request);
  // The encoder zeroes the reserved word and the padding; everything else
  // must come back as it was.
  if (again.size() > size || std::memcmp(again.data(), data, 12) != 0)
    __builtin_trap();
  if (!request->payload.empty() &&
      std::memcmp(again.data() + 16, data + 16, request->payload.size()) != 0) {
    __builtin_trap();
  }
  return 0;
}
