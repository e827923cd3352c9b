#include "core/registry.h"

#include <cwchar>
#include <vector>

#include "core/log.h"

namespace mantlet {
namespace {

ValueRead Refused(LSTATUS status, DWORD type, DWORD bytes) {
  ValueRead read;
  read.type = type;
  read.bytes = bytes;
  read.status = status;
  if (status == ERROR_FILE_NOT_FOUND) {
    read.state = ValueState::kAbsent;
  } else if (status == ERROR_MORE_DATA) {
    // Longer than anything the reader takes: there is a value, just not one
    // of ours.
    read.state = ValueState::kMalformed;
    read.status = ERROR_INVALID_DATA;
  } else {
    read.state = ValueState::kFailed;
  }
  return read;
}

ValueRead Malformed(DWORD type, DWORD bytes) {
  ValueRead read;
  read.state = ValueState::kMalformed;
  read.status = ERROR_INVALID_DATA;
  read.type = type;
  read.bytes = bytes;
  return read;
}

ValueRead Found(DWORD type, DWORD bytes) {
  ValueRead read;
  read.state = ValueState::kFound;
  read.status = ERROR_SUCCESS;
  read.type = type;
  read.bytes = bytes;
  return read;
}

void DiscardMalformed(HKEY key, const wchar_t* name, const char* tag, const ValueRead& read) {
  MLOG(kLogWarning, tag, "saved %ls is of another type or size (type %lu, %lu bytes); removed",
       name, static_cast<unsigned long>(read.type), static_cast<unsigned long>(read.bytes));
  const LSTATUS status = DeleteValue(key, name);
  if (status != ERROR_SUCCESS)
    MLOG_FAILURE(kLogWarning, tag, status, "failed to remove saved %ls", name);
}

}  // namespace

LSTATUS OpenKey(HKEY root, const wchar_t* path, REGSAM access, UniqueRegKey* key) {
  return RegOpenKeyExW(root, path, 0, access, key->put());
}

LSTATUS CreateKey(HKEY root, const wchar_t* path, REGSAM access, UniqueRegKey* key) {
  return RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key->put(), nullptr);
}

LSTATUS DeleteValue(HKEY key, const wchar_t* name) {
  const LSTATUS status = RegDeleteValueW(key, name);
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

ValueRead ReadDwordValue(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD data = 0;
  DWORD type = REG_NONE;
  DWORD bytes = sizeof(data);
  const LSTATUS status =
      RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes);
  if (status != ERROR_SUCCESS)
    return Refused(status, type, bytes);
  if (type != REG_DWORD || bytes != sizeof(data))
    return Malformed(type, bytes);
  *value = data;
  return Found(type, bytes);
}

ValueRead ReadStringValue(HKEY key, const wchar_t* name, wchar_t* text, size_t units) {
  if (units == 0)
    return Malformed(REG_NONE, 0);
  const size_t maxUnits = (units > kLongestString ? kLongestString + 1 : units) - 1;
  // Room for the longest text and its terminator, and nothing more: a longer
  // value is refused by the registry itself.
  wchar_t buffer[kLongestString + 1] = {};
  DWORD type = REG_NONE;
  DWORD bytes = static_cast<DWORD>((maxUnits + 1) * sizeof(wchar_t));
  const LSTATUS status =
      RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (status != ERROR_SUCCESS)
    return Refused(status, type, bytes);
  if (type != REG_SZ || bytes % sizeof(wchar_t) != 0)
    return Malformed(type, bytes);
  const size_t length = wcsnlen(buffer, bytes / sizeof(wchar_t));
  if (length > maxUnits)
    return Malformed(type, bytes);
  wmemcpy(text, buffer, length);
  text[length] = L'\0';
  return Found(type, bytes);
}

ValueRead ReadLongStringValue(HKEY key, const wchar_t* name, size_t maxBytes, std::wstring* text,
                              TextTypes types) {
  constexpr int kGrowRounds = 8;
  std::vector<BYTE> data(128);
  DWORD type = REG_NONE;
  DWORD bytes = static_cast<DWORD>(data.size());
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &bytes);
  // The value may grow between two reads; each round asks for what the
  // registry reported last, so a few rounds always settle.
  for (int round = 0; status == ERROR_MORE_DATA && bytes <= maxBytes && round < kGrowRounds;
       ++round) {
    data.resize(bytes + sizeof(wchar_t));
    bytes = static_cast<DWORD>(data.size());
    status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &bytes);
  }
  if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && bytes > maxBytes))
    return Malformed(type, bytes);
  if (status != ERROR_SUCCESS)
    return Refused(status, type, bytes);
  if (types == TextTypes::kStringsOnly && type != REG_SZ && type != REG_EXPAND_SZ)
    return Malformed(type, bytes);
  std::wstring out(bytes / sizeof(wchar_t), L'\0');
  memcpy(out.data(), data.data(), out.size() * sizeof(wchar_t));
  out.resize(wcsnlen(out.c_str(), out.size()));
  *text = std::move(out);
  return Found(type, bytes);
}

LSTATUS WriteDwordValue(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value));
}

LSTATUS WriteStringValue(HKEY key, const wchar_t* name, const wchar_t* text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

ValueRead ReadSavedDword(HKEY key, const wchar_t* name, const char* tag, DWORD* value) {
  const ValueRead read = ReadDwordValue(key, name, value);
  if (read.state == ValueState::kMalformed)
    DiscardMalformed(key, name, tag, read);
  return read;
}

ValueRead ReadSavedString(HKEY key, const wchar_t* name, const char* tag, wchar_t* text,
                          size_t units) {
  const ValueRead read = ReadStringValue(key, name, text, units);
  if (read.state == ValueState::kMalformed)
    DiscardMalformed(key, name, tag, read);
  return read;
}

ValueRead ReadRawValue(HKEY key, const wchar_t* name, void* data, DWORD size) {
  DWORD type = REG_NONE;
  const LSTATUS status =
      RegQueryValueExW(key, name, nullptr, &type, static_cast<BYTE*>(data), &size);
  return status == ERROR_SUCCESS ? Found(type, size) : Refused(status, type, size);
}

LSTATUS WatchKeyChanges(HKEY key, HANDLE event) {
  return RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
}

}  // namespace mantlet
