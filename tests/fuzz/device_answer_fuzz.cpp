// The device's answers that the module reads beyond their status: the share
// list step stays within the buffer it offered (or asks for twice as much,
// within 32 bits), a platform code comes back from word 5 of any answer the
// device builds, and browser flags keep to their four bits.
#include "core/bytes.h"
#include "core/device_request.h"
#include "fuzz_input.h"
#include "settings/browser_flags.h"
#include "sharemapping/host_answers.h"

using namespace mantlet;
using fuzzing::Check;

void CheckShareListStep(const fuzzing::Bytes& block, size_t bufferSize) {
  const ShareListStep step = ReadShareListAnswer(block, bufferSize);
  if (step.kind == ShareListStep::Kind::kDone)
    Check(step.bytes <= bufferSize);
  if (step.kind == ShareListStep::Kind::kGrow)
    Check(step.bytes == bufferSize * 2 && step.bytes <= UINT32_MAX);
}

// Input: u32 buffer size, u32 status, u32 code, then the block the device
// wrote back (also the noise of the built answer).
FUZZ_TARGET(input) {
  const uint32_t bufferSize = input.U32(), status = input.U32(), code = input.U32();
  const fuzzing::Bytes block = input.RestCopy();
  CheckShareListStep(block, bufferSize);
  CheckShareListStep(block, static_cast<size_t>(bufferSize) << 1);  // beyond 32 bits too
  (void)ReadPlatformCodeAnswer(block);

  DeviceRequest request{kHostPlatformCodeRequest, status, fuzzing::Bytes(248, 0), {}};
  std::copy_n(block.begin(), std::min<size_t>(block.size(), 248), request.payload.begin());
  StoreU32(request.payload.data() + 20, code);
  const PlatformCodeAnswer answer = ReadPlatformCodeAnswer(EncodeDeviceRequest(request));
  using Kind = PlatformCodeAnswer::Kind;
  Check(status == kDeviceStatusSuccess ? answer.kind == Kind::kCode && answer.code == code
        : status == kDeviceStatusRetry ? answer.kind == Kind::kAskAgain
                                       : answer.kind == Kind::kFailed);
  Check((ComputeBrowserFlags(static_cast<int32_t>(code)) & ~0xFu) == 0);
}
