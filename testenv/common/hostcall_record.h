// What the host stand-in's emulated hypervisor received, as it records it
// ("hv record <path>"), and a reading of those messages as the host side
// understands them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testenv {

struct HostCallEvent {
  enum Kind { kMessage, kEnd } kind = kMessage;
  int32_t handle = 0;
  uint32_t chunks = 0;  // messages only
  bool overrun = false;
  std::vector<uint8_t> bytes;
};

std::vector<HostCallEvent> ReadHostCallRecord(const std::wstring& path);

struct HostField {
  uint32_t tag = 0;
  uint32_t index = 0;
  std::string data;
};

// A message as the host reads it: a field message (type, fields) or a log
// line (17 with the "[G] " header).
struct HostMessageView {
  bool valid = false;
  bool logLine = false;
  uint32_t type = 0;
  std::vector<uint32_t> header;  // the seven header words of a field message
  std::vector<HostField> fields;
  std::string text;  // a log line's text
  const HostField* Field(uint32_t tag) const;
};

HostMessageView ReadHostMessage(const std::vector<uint8_t>& bytes);

uint32_t WordAt(const std::string& data, size_t offset);

// One line for an account: "registration of <id> (<description>), version
// a.b.c.d", "unregistration of <id>, state 2", "log line: <text>".
std::string DescribeHostMessage(const HostMessageView& message);

// A temporary file path for a record, unique to this process.
std::wstring NewHostCallRecordPath();
std::string Utf8(const std::wstring& text);

}  // namespace testenv
