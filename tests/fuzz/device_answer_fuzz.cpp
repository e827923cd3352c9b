// The device's answers that the module reads beyond their status, after
// offering a buffer of any size, and the share list it walks in that buffer
// (input: u32 buffer size, then the answer).
#include "fuzz_input.h"
#include "sharemapping/host_answers.h"
#include "sharemapping/host_share_list.h"

FUZZ_TARGET(input) {
  const uint32_t bufferSize = input.U32();
  const std::span<const uint8_t> block = input.Rest();
  (void)mantlet::ReadShareListAnswer(block, bufferSize);
  (void)mantlet::ReadPlatformCodeAnswer(block);
  (void)mantlet::ParseHostShares(block, bufferSize);
}
