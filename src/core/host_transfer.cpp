#include "core/host_transfer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace mantlet {
namespace {

constexpr int32_t kChannelReserved = -666;  // a state the host side may leave; still valid
constexpr int32_t kHighestChannelState = 3;
// Exchanges in a row that neither send nor receive a byte before a message's
// transfer is given up: a host that never answers 0 would otherwise hold the
// caller (the tool's start and stop among them) for ever.
constexpr uint32_t kMaxIdleExchanges = 1000;

// One chunk of a transfer: the first one (handle -1) opens the transfer and
// tells the host the total length, later ones carry the handle it gave.
// reply may be null when replyRoom is 0.
int SendChunk(HostTransfer& transfer, const uint8_t* data, uint32_t length, uint8_t* reply,
              uint32_t replyRoom, uint32_t* replyBytes) {
  HostChannel& channel = *transfer.channel;
  if (length != 0)
    memcpy(channel.buffer, data, length);
  const bool first = transfer.handle == -1;
  HostCallWords words = {first ? kHostCallFirstChunk : kHostCallNextChunk,
                         first ? transfer.totalLength : static_cast<uint32_t>(transfer.handle),
                         0,
                         channel.transferSize,
                         length,
                         channel.bufferWord};
  channel.port->Call(words);
  if (first)
    transfer.handle = static_cast<int32_t>(words[1]);
  *replyBytes = words[3];
  transfer.replyLength = words[4];
  transfer.state = static_cast<int32_t>(words[5]);
  if (transfer.state < 0)
    return kHostCallRefused;
  // replyRoom never exceeds the transfer size, so the copy stays inside the
  // buffer whatever the host claims.
  if (words[3] > replyRoom)
    return kHostCallReplyTooLarge;
  if (words[3] != 0)
    memcpy(reply, channel.buffer, words[3]);
  return kHostCallOk;
}

void EndTransfer(HostTransfer& transfer) {
  HostCallWords words = {kHostCallEndTransfer, static_cast<uint32_t>(transfer.handle), 0, 0, 0, 0};
  transfer.channel->port->Call(words);
  transfer.state = static_cast<int32_t>(words[5]);
}

int SendLogTransfer(HostChannel& channel, const char* text, uint32_t length) {
  HostTransfer transfer;
  transfer.channel = &channel;
  transfer.totalLength = static_cast<uint32_t>(kLogLineHeaderSize) + length;
  channel.state = kChannelBusy;
  const uint32_t chunkSize = channel.transferSize;
  if (chunkSize < kLogLineHeaderSize)
    return kHostCallBadArgument;

  const std::array<uint8_t, kLogLineHeaderSize> header = EncodeLogLineHeader();
  uint32_t replyBytes = 0;
  int result = SendChunk(transfer, header.data(), kLogLineHeaderSize, nullptr, 0, &replyBytes);
  channel.state = transfer.state;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
  for (uint32_t sent = 0; result == kHostCallOk && sent < length;) {
    const uint32_t chunk = std::min(length - sent, chunkSize);
    result = SendChunk(transfer, bytes + sent, chunk, nullptr, 0, &replyBytes);
    channel.state = transfer.state;
    sent += chunk;
  }
  // The host keeps a transfer it still answers 1 or 2 for until it is ended;
  // whether the end works changes nothing for the line.
  if (transfer.state == 1 || transfer.state == 2)
    EndTransfer(transfer);
  return result;
}

}  // namespace

int CheckHostChannel(const HostChannel* channel) {
  if (channel == nullptr)
    return kHostCallBadArgument;
  const int32_t state = channel->state;
  const bool known = state == kChannelBusy || state == kChannelReserved ||
                     (state >= kChannelClosed && state <= kHighestChannelState);
  if (channel->magic != kHostChannelMagic || !known)
    return kHostCallInvalidChannel;
  return state == kChannelClosed ? kHostCallChannelClosed : kHostCallOk;
}

int OpenHostChannel(HostCallPort& port, HostChannel* channel) {
  if (channel == nullptr)
    return kHostCallBadArgument;
  *channel = HostChannel{};
  channel->magic = kHostChannelMagic;
  channel->state = kChannelClosed;
  channel->port = &port;

  HostCallWords words = {kHostCallProbe, kHostCallProbe, 0, 0, 0, 0};
  port.Probe(words);
  if (words[0] != kHostCallPresent || words[3] != 0 || words[4] != 0 || words[5] != 0)
    return kHostCallNoHypervisor;
  if (words[1] != kHostCallProtocolVersion)
    return kHostCallWrongVersion;
  const uint32_t size = words[2];
  channel->transferSize = size;
  channel->state = kChannelBusy;

  // A zero-sized allocation fails on every platform; say so without asking.
  uint8_t* buffer = size != 0 ? port.Allocate(size) : nullptr;
  if (buffer == nullptr)
    return kHostCallNoMemory;
  if (!port.Lock(buffer, size)) {
    port.Free(buffer, size);
    return kHostCallLockFailed;
  }
  channel->buffer = buffer;
  channel->allocatedSize = size;
  channel->bufferWord = port.AddressWord(buffer);
  channel->state = kChannelOpen;
  return kHostCallOk;
}

int CloseHostChannel(HostChannel* channel) {
  if (channel == nullptr || channel->buffer == nullptr || channel->allocatedSize == 0 ||
      channel->port == nullptr) {
    return kHostCallBadArgument;
  }
  int result = kHostCallOk;
  // Memory that is still locked is not given back: freeing it would leave a
  // locked range behind in the working set.
  if (channel->port->Unlock(channel->buffer, channel->allocatedSize))
    channel->port->Free(channel->buffer, channel->allocatedSize);
  else
    result = kHostCallUnlockFailed;
  channel->buffer = nullptr;
  channel->allocatedSize = 0;
  channel->state = kChannelClosed;
  return result;
}

int SendHostMessage(HostChannel* channel, const uint8_t* data, uint32_t length, uint8_t* reply,
                    uint32_t replyRoom, uint32_t* replyLength) {
  if (channel == nullptr || (data == nullptr && length != 0) ||
      (reply == nullptr && replyRoom != 0) || replyLength == nullptr) {
    return kHostCallBadArgument;
  }
  if (const int check = CheckHostChannel(channel); check != kHostCallOk)
    return check;
  const uint32_t chunkSize = channel->transferSize;
  if (chunkSize == 0 || channel->buffer == nullptr)
    return kHostCallBadArgument;

  HostTransfer transfer;
  transfer.channel = channel;
  transfer.totalLength = length;
  uint32_t sent = 0;
  uint32_t received = 0;
  uint32_t idle = 0;
  do {
    if (idle == kMaxIdleExchanges) {
      if (transfer.state == 1 || transfer.state == 2)
        EndTransfer(transfer);
      return kHostCallRefused;
    }
    const uint32_t chunk = std::min(length - sent, chunkSize);
    const uint32_t room = std::min(replyRoom - received, chunkSize);
    uint32_t replyBytes = 0;
    const int result = SendChunk(transfer, data + sent, chunk, reply + received, room, &replyBytes);
    if (result == kHostCallRefused)
      channel->state = transfer.state;
    if (result != kHostCallOk)
      return result;
    sent += chunk;
    if (replyBytes > replyRoom || transfer.replyLength > replyRoom) {
      if (transfer.state == 2)
        EndTransfer(transfer);
      return kHostCallReplyTooLarge;
    }
    received += replyBytes;
    idle = chunk == 0 && replyBytes == 0 ? idle + 1 : 0;
  } while (transfer.state != 0);
  *replyLength = received;
  return kHostCallOk;
}

int SendHostLogLine(HostCallPort& port, HostChannel* channel, const char* text, size_t length) {
  if (text == nullptr || length > UINT32_MAX - kLogLineHeaderSize)
    return kHostCallBadArgument;
  if (channel != nullptr) {
    if (const int check = CheckHostChannel(channel); check != kHostCallOk)
      return check;
    if (channel->buffer == nullptr)  // an open that failed half-way
      return kHostCallBadArgument;
    return SendLogTransfer(*channel, text, static_cast<uint32_t>(length));
  }
  HostChannel own;
  if (const int opened = OpenHostChannel(port, &own); opened != kHostCallOk)
    return opened;
  const int result = SendLogTransfer(own, text, static_cast<uint32_t>(length));
  CloseHostChannel(&own);
  return result;
}

int AnnounceTool(HostCallPort& port, const ToolIdentity& tool, bool registration) {
  if (tool.identifier == nullptr)
    return kHostCallBadArgument;
  HostChannel channel;
  if (OpenHostChannel(port, &channel) != kHostCallOk)
    return kHostCallNoHypervisor;
  int result = kHostCallOk;
  HostMessageBuilder message(kToolAnnouncementType);
  if (!BuildToolAnnouncement(message, tool, registration)) {
    result = kHostCallLockFailed;
  } else {
    uint32_t replyLength = 0;
    const int sent =
        SendHostMessage(&channel, message.data(), message.size(), nullptr, 0, &replyLength);
    if (sent != kHostCallOk) {
      result =
          !registration && sent == kHostCallRefused ? kHostCallWrongVersion : kHostCallUnlockFailed;
    }
  }
  CloseHostChannel(&channel);
  return result;
}

}  // namespace mantlet
