// Device blocks as a device could hand them back: decoding stays inside the
// block, and what decodes encodes to a block that decodes to the same again.
#include "core/device_request.h"
#include "fuzz_input.h"

FUZZ_TARGET(input) {
  if (const auto request = mantlet::DecodeDeviceRequest(input.Rest())) {
    const std::vector<uint8_t> block = mantlet::EncodeDeviceRequest(*request);
    const auto again = mantlet::DecodeDeviceRequest(block);
    FUZZ_CHECK(again && mantlet::EncodeDeviceRequest(*again) == block);
  }
}
