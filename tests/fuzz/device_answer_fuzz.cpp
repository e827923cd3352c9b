// The device's answers that the module reads beyond their status: the share
// list step (how many bytes it wrote, or a bigger buffer), the platform code,
// and the browser flags taken from the search library's answer before they
// go out in a report.
#include "core/bytes.h"
#include "core/device_request.h"
#include "fuzz_input.h"
#include "settings/browser_flags.h"
#include "sharemapping/host_answers.h"
#include "sharemapping/shortcut_naming.h"

namespace {

using namespace mantlet;
using fuzzing::Bytes;
using fuzzing::Check;

void CheckShareListStep(const Bytes& block, size_t bufferSize) {
  const std::optional<DeviceRequest> reply = DecodeDeviceRequest(block);
  const ShareListStep step = ReadShareListAnswer(block, bufferSize);
  switch (step.kind) {
    case ShareListStep::Kind::kDone:
      Check(reply && reply->status == kDeviceStatusSuccess && !reply->buffers.empty());
      Check(step.bytes <= bufferSize && step.bytes <= reply->buffers[0].byteCount);
      break;
    case ShareListStep::Kind::kGrow:
      Check(reply && reply->status == kDeviceStatusBufferTooSmall);
      Check(step.bytes == bufferSize * 2 && step.bytes <= UINT32_MAX);
      break;
    case ShareListStep::Kind::kFailed:
      Check(
          !reply ||
          (reply->status != kDeviceStatusSuccess && reply->status != kDeviceStatusBufferTooSmall) ||
          reply->buffers.empty() || bufferSize > UINT32_MAX / 2);
      break;
  }
}

void CheckPlatformCode(const Bytes& block) {
  const std::optional<DeviceRequest> reply = DecodeDeviceRequest(block);
  const PlatformCodeAnswer answer = ReadPlatformCodeAnswer(block);
  if (answer.kind == PlatformCodeAnswer::Kind::kFailed)
    return;
  Check(reply && reply->payload.size() >= 248 && DeviceRequestStatus(block) == reply->status);
  if (answer.kind == PlatformCodeAnswer::Kind::kAskAgain) {
    Check(reply->status == kDeviceStatusRetry);
    return;
  }
  Check(reply->status == kDeviceStatusSuccess && answer.code == LoadU32(block.data() + 16 + 20));
  const std::u16string_view suffix = ShortcutSuffix(answer.code);
  Check(suffix.empty() || suffix == u" (Mac)" || suffix == u" (Host)");
}

// A platform-code answer as a device would write it: the code in word 5 of
// the 248-byte payload comes back whatever the other words hold.
void CheckPlatformCodeRoundTrip(uint32_t status, uint32_t code, std::span<const uint8_t> noise) {
  DeviceRequest request;
  request.code = kHostPlatformCodeRequest;
  request.status = status;
  request.payload.assign(248, 0);
  for (size_t i = 0; i < noise.size() && i < 248; ++i)
    request.payload[i] = noise[i];
  StoreU32(request.payload.data() + 20, code);
  const PlatformCodeAnswer answer = ReadPlatformCodeAnswer(EncodeDeviceRequest(request));
  if (status == kDeviceStatusSuccess)
    Check(answer.kind == PlatformCodeAnswer::Kind::kCode && answer.code == code);
  else if (status == kDeviceStatusRetry)
    Check(answer.kind == PlatformCodeAnswer::Kind::kAskAgain);
  else
    Check(answer.kind == PlatformCodeAnswer::Kind::kFailed);
}

void CheckBrowserFlags(uint32_t searches) {
  const int32_t value = static_cast<int32_t>(searches);
  const uint32_t flags = ComputeBrowserFlags(value);
  Check((flags & ~0xFu) == 0);
  // Only the twenty field bits count.
  Check(flags == ComputeBrowserFlags(static_cast<int32_t>(searches & kSearchFieldBits)));
  Check(HasSearchResults(value) || flags == 0);
  const Bytes report = EncodeTwoWordReport(kBrowserInfoReport, flags, searches);
  const std::optional<DeviceRequest> decoded = DecodeDeviceRequest(report);
  Check(decoded && decoded->code == kBrowserInfoReport && decoded->payload.size() == 8 &&
        LoadU32(decoded->payload.data()) == flags &&
        LoadU32(decoded->payload.data() + 4) == searches);
}

}  // namespace

// Input: u32 buffer size, u32 status, u32 code, then the block the device
// wrote back (also the noise of the built answer).
FUZZ_TARGET(input) {
  const uint32_t bufferSize = input.U32();
  const uint32_t status = input.U32();
  const uint32_t code = input.U32();
  const Bytes block = input.RestCopy();
  CheckShareListStep(block, bufferSize);
  CheckShareListStep(block, static_cast<size_t>(bufferSize) << 1);  // beyond 32 bits too
  CheckPlatformCode(block);
  CheckPlatformCodeRoundTrip(status, code, block);
  CheckBrowserFlags(code);
}
