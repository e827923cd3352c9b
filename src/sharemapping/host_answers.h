// What the tools device's answers to the share-list and platform-code
// requests tell the shortcut refresh, apart from the device calls, so that
// any block a device could hand back is checked natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace mantlet {

struct ShareListStep {
  enum class Kind {
    kDone,    // `bytes` of the buffer hold the list
    kGrow,    // send again with a buffer of `bytes`
    kFailed,  // give up
  };
  Kind kind = Kind::kFailed;
  size_t bytes = 0;
};

// block: the request block as the device gave it back; bufferSize: the size
// its descriptor named. The count the device reports never exceeds the
// buffer, and the buffer never grows beyond what a descriptor can describe.
ShareListStep ReadShareListAnswer(std::span<const uint8_t> block, size_t bufferSize);

inline constexpr size_t kPlatformCodePayloadBytes = 248;
inline constexpr size_t kPlatformCodeWord = 5;

struct PlatformCodeAnswer {
  enum class Kind { kCode, kAskAgain, kFailed };
  Kind kind = Kind::kFailed;
  uint32_t code = 0;  // with kCode
};

// Inline payload under 248 bytes, a status other than success or retry, or
// a block that does not decode: no code.
PlatformCodeAnswer ReadPlatformCodeAnswer(std::span<const uint8_t> block);

}  // namespace mantlet
