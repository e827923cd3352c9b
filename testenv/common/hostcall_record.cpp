#include "hostcall_record.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace testenv {
namespace {

constexpr uint32_t kFieldDescription = 8394;
constexpr uint32_t kFieldVersion = 8395;
constexpr uint32_t kFieldState = 8399;
constexpr uint32_t kFieldIdentifier = 8593;

uint32_t LoadWord(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  return bytes;
}

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return {};
  std::string text;
  char chunk[65536];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
    text.append(chunk, read);
  CloseHandle(file);
  return text;
}

}  // namespace

std::vector<HostCallEvent> ReadHostCallRecord(const std::wstring& path) {
  std::vector<HostCallEvent> events;
  std::istringstream in(ReadAll(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    HostCallEvent event;
    words >> kind >> event.handle;
    if (kind == "end") {
      event.kind = HostCallEvent::kEnd;
      events.push_back(event);
      continue;
    }
    if (kind != "message")
      continue;
    std::string item;
    while (words >> item) {
      if (item.rfind("chunks=", 0) == 0)
        event.chunks = strtoul(item.c_str() + 7, nullptr, 10);
      else if (item == "overrun")
        event.overrun = true;
      else if (item.rfind("length=", 0) != 0)
        event.bytes = FromHex(item);
    }
    events.push_back(event);
  }
  return events;
}

const HostField* HostMessageView::Field(uint32_t tag) const {
  for (const HostField& field : fields) {
    if (field.tag == tag)
      return &field;
  }
  return nullptr;
}

HostMessageView ReadHostMessage(const std::vector<uint8_t>& bytes) {
  HostMessageView view;
  if (bytes.size() >= 20 && LoadWord(bytes.data()) == 17 && memcmp(&bytes[16], "[G] ", 4) == 0) {
    view.valid = true;
    view.logLine = true;
    view.type = 17;
    view.text.assign(bytes.begin() + 20, bytes.end());
    return view;
  }
  if (bytes.size() < 28)
    return view;
  for (size_t i = 0; i < 7; ++i)
    view.header.push_back(LoadWord(&bytes[4 * i]));
  view.type = view.header[0];
  const size_t end = 28 + static_cast<size_t>(view.header[4]);
  if (end != bytes.size())
    return view;
  for (size_t at = 28; at < end;) {
    if (end - at < 12)
      return view;
    HostField field;
    const uint32_t length = LoadWord(&bytes[at]);
    field.tag = LoadWord(&bytes[at + 4]);
    field.index = LoadWord(&bytes[at + 8]);
    at += 12;
    if (length > end - at)
      return view;
    field.data.assign(reinterpret_cast<const char*>(&bytes[at]), length);
    at += length;
    view.fields.push_back(field);
  }
  view.valid = true;
  return view;
}

uint32_t WordAt(const std::string& data, size_t offset) {
  if (offset + 4 > data.size())
    return 0xFFFFFFFF;
  return LoadWord(reinterpret_cast<const uint8_t*>(data.data()) + offset);
}

std::string DescribeHostMessage(const HostMessageView& message) {
  if (!message.valid)
    return "unreadable message";
  if (message.logLine) {
    std::string text = message.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    return "log line: " + text;
  }
  const HostField* id = message.Field(kFieldIdentifier);
  const std::string who = id != nullptr ? id->data : "?";
  char text[512];
  if (const HostField* version = message.Field(kFieldVersion)) {
    const HostField* description = message.Field(kFieldDescription);
    snprintf(text, sizeof(text), "registration of %s (%s), version %u.%u.%u.%u", who.c_str(),
             description != nullptr ? description->data.c_str() : "no description",
             WordAt(version->data, 0), WordAt(version->data, 4), WordAt(version->data, 8),
             WordAt(version->data, 12));
  } else if (const HostField* state = message.Field(kFieldState)) {
    snprintf(text, sizeof(text), "unregistration of %s, state %u", who.c_str(),
             WordAt(state->data, 0));
  } else {
    snprintf(text, sizeof(text), "message of type %u with %zu field(s)", message.type,
             message.fields.size());
  }
  return text;
}

std::wstring NewHostCallRecordPath() {
  static LONG counter = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  wchar_t path[MAX_PATH];
  swprintf(path, MAX_PATH, L"%lshostcalls-%lu-%ld.txt", temp, GetCurrentProcessId(),
           InterlockedIncrement(&counter));
  return path;
}

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1)
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace testenv
