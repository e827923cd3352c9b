#include "sharemapping/host_answers.h"

#include <algorithm>
#include <optional>

#include "core/bytes.h"
#include "core/device_request.h"

namespace mantlet {

ShareListStep ReadShareListAnswer(std::span<const uint8_t> block, size_t bufferSize) {
  const std::optional<DeviceRequest> reply = DecodeDeviceRequest(block);
  if (!reply)
    return {};
  if (reply->status == kDeviceStatusSuccess && !reply->buffers.empty())
    return {ShareListStep::Kind::kDone, std::min<size_t>(reply->buffers[0].byteCount, bufferSize)};
  // A descriptor counts its buffer in 32 bits: no larger buffer can be described.
  if (reply->status != kDeviceStatusBufferTooSmall || bufferSize > UINT32_MAX / 2)
    return {};
  return {ShareListStep::Kind::kGrow, bufferSize * 2};
}

PlatformCodeAnswer ReadPlatformCodeAnswer(std::span<const uint8_t> block) {
  const std::optional<DeviceRequest> reply = DecodeDeviceRequest(block);
  if (!reply || reply->payload.size() < kPlatformCodePayloadBytes)
    return {};
  if (reply->status == kDeviceStatusRetry)
    return {PlatformCodeAnswer::Kind::kAskAgain};
  if (reply->status != kDeviceStatusSuccess)
    return {};
  return {PlatformCodeAnswer::Kind::kCode, LoadU32(reply->payload.data() + kPlatformCodeWord * 4)};
}

}  // namespace mantlet
