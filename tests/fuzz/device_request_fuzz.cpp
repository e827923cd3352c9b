// Device blocks as a device could hand them back: decoding stays inside the
// block, and what decodes encodes to the same bytes it came from.
#include <cstring>

#include "core/device_request.h"
#include "fuzz_input.h"

using namespace mantlet;
using fuzzing::Check;

FUZZ_TARGET(input) {
  const std::span<const uint8_t> block = input.All();
  (void)DeviceRequestStatus(block);
  const auto request = DecodeDeviceRequest(block);
  if (!request)
    return;
  const auto again = EncodeDeviceRequest(*request);
  // The encoder zeroes the reserved word and the padding; everything else
  // must come back as it was.
  Check(again.size() <= block.size() && std::memcmp(again.data(), block.data(), 12) == 0);
  Check(request->payload.empty() ||
        std::memcmp(again.data() + 16, block.data() + 16, request->payload.size()) == 0);
}
