// The host call channel against a host whose every answer comes from the
// input (reply bytes, announced length and state per call; a host that has
// said all it had answers 0). Every operation ends (a hang fails the run),
// and a reply never lands past the room given, an exact allocation. Input:
// operation, reply room, transfer size, failing memory calls, a
// length-prefixed text, then the answers.
#include <memory>

#include "core/host_transfer.h"
#include "fuzz_input.h"

using namespace mantlet;

namespace {

class FuzzedHost final : public HostCallPort {
  fuzzing::Input& in_;
  uint32_t size_;
  uint8_t failures_;
  uint8_t* kept_ = nullptr;

 public:
  explicit FuzzedHost(fuzzing::Input& in) : in_(in), size_(in.U8()), failures_(in.U8()) {}
  ~FuzzedHost() { delete[] kept_; }  // what a failed unlock left behind

  void Probe(HostCallWords& w) override {
    w = {kHostCallPresent, kHostCallProtocolVersion, size_, 0, 0, 0};
  }
  void Call(HostCallWords& w) override {
    // Reply bytes, announced length, state: a braced list reads them in order.
    w = {w[0], w[1], 0, in_.U8(), in_.U8(), static_cast<uint32_t>(static_cast<int8_t>(in_.U8()))};
  }
  uint8_t* Allocate(uint32_t size) override {
    return (failures_ & 1) != 0 ? nullptr : (kept_ = new uint8_t[size]());
  }
  bool Lock(uint8_t*, uint32_t) override { return (failures_ & 2) == 0; }
  bool Unlock(uint8_t*, uint32_t) override { return (failures_ & 4) == 0; }
  void Free(uint8_t*, uint32_t) override { delete[] std::exchange(kept_, nullptr); }
  uint32_t AddressWord(const uint8_t*) override { return 0x1000; }
};

}  // namespace

FUZZ_TARGET(input) {
  const uint8_t op = input.U8() % 4, room = input.U8();
  FuzzedHost host(input);
  const std::string text = input.Text();
  HostChannel channel;
  if (op == 3) {
    AnnounceTool(host, {text.c_str(), text.c_str(), {1, 4, 2, 318}}, room % 2 == 0);
  } else if (op == 0 || OpenHostChannel(host, &channel) == kHostCallOk) {
    const std::unique_ptr<uint8_t[]> reply(new uint8_t[room]);
    uint32_t n = 0;
    if (op < 2)
      SendHostLogLine(host, op == 0 ? nullptr : &channel, text.data(), text.size());
    else if (SendHostMessage(&channel, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                             reply.get(), room, &n) == kHostCallOk)
      FUZZ_CHECK(n <= room);
    CloseHostChannel(&channel);
  }
}
