#include "core/host_message.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>

#include "core/bytes.h"

namespace mantlet {
namespace {

constexpr size_t kFieldListLengthOffset = 16;

}  // namespace

HostMessageBuilder::HostMessageBuilder(uint32_t type)
    : m_buffer(new (std::nothrow) uint8_t[kHostMessageInitialCapacity]),
      m_capacity(m_buffer ? kHostMessageInitialCapacity : 0) {
  if (!m_buffer)
    return;
  const uint32_t header[] = {type, 0, 1, 0, 0, 4096, 0};
  for (size_t i = 0; i < std::size(header); ++i)
    StoreU32(m_buffer.get() + 4 * i, header[i]);
  m_size = kHostMessageHeaderSize;
}

bool HostMessageBuilder::AddField(uint32_t tag, const void* data, uint32_t length) {
  if (!m_buffer || (data == nullptr && length != 0))
    return false;
  const size_t needed = m_size + kHostFieldHeaderSize + length;
  if (needed > UINT32_MAX) {
    m_buffer.reset();
    return false;
  }
  if (needed > m_capacity) {
    size_t grown = m_capacity;
    while (grown < needed)
      grown *= 2;
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[grown]);
    if (!bigger) {
      m_buffer.reset();
      return false;
    }
    memcpy(bigger.get(), m_buffer.get(), m_size);
    m_buffer = std::move(bigger);
    m_capacity = grown;
  }
  uint8_t* field = m_buffer.get() + m_size;
  StoreU32(field, length);
  StoreU32(field + 4, tag);
  StoreU32(field + 8, m_nextIndex++);
  if (length != 0)
    memcpy(field + kHostFieldHeaderSize, data, length);
  m_size = needed;
  StoreU32(m_buffer.get() + kFieldListLengthOffset,
           static_cast<uint32_t>(m_size - kHostMessageHeaderSize));
  return true;
}

bool HostMessageBuilder::AddU32Field(uint32_t tag, uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  return AddField(tag, bytes, sizeof(bytes));
}

std::array<uint8_t, kVersionRecordSize> EncodeVersionRecord(const ToolVersion& version) {
  std::array<uint8_t, kVersionRecordSize> record = {};
  StoreU32(&record[0], version.major);
  StoreU32(&record[4], version.minor);
  StoreU32(&record[8], version.build);
  StoreU32(&record[12], version.revision);
  StoreU32(&record[16], 1);
  return record;
}

std::array<uint8_t, kLogLineHeaderSize> EncodeLogLineHeader() {
  std::array<uint8_t, kLogLineHeaderSize> header = {};
  StoreU32(&header[0], kLogLineMessageType);
  memcpy(&header[16], "[G] ", 4);
  return header;
}

bool BuildToolAnnouncement(HostMessageBuilder& message, const ToolIdentity& tool,
                           bool registration) {
  if (tool.identifier == nullptr)
    return false;
  uint8_t protocol[8];
  StoreU32(protocol, 1);
  StoreU32(protocol + 4, 3);
  bool ok = message.AddField(kFieldProtocol, protocol, sizeof(protocol));
  if (registration) {
    const char* description = tool.description != nullptr ? tool.description : "";
    const std::array<uint8_t, kVersionRecordSize> version = EncodeVersionRecord(tool.version);
    ok = ok &&
         message.AddField(kFieldDescription, description,
                          static_cast<uint32_t>(strlen(description))) &&
         message.AddField(kFieldVersion, version.data(), kVersionRecordSize);
  } else {
    ok = ok && message.AddU32Field(kFieldToolState, kToolStateUnregistered);
  }
  return ok && message.AddField(kFieldIdentifier, tool.identifier,
                                static_cast<uint32_t>(strlen(tool.identifier)));
}

}  // namespace mantlet
