// The registry, UTF-16 only: keys opened and created as owned handles, and
// typed reads. A value is either what the reader expects (a
// REG_DWORD of exactly 4 bytes, a REG_SZ that fits), absent, of another type
// or size, or unreadable; the caller decides what each means. Reads leave
// their out-values untouched unless the value was found.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "core/handles.h"

namespace mantlet {

// The tool's own key under HKEY_CURRENT_USER, where the user's values are
// kept between a change and its restore.
inline constexpr wchar_t kSettingsKeyPath[] = L"SOFTWARE\\Corvane\\Corvane Tools\\GuestUtilities";

LSTATUS OpenKey(HKEY root, const wchar_t* path, REGSAM access, UniqueRegKey* key);
// Opens the key, creating it (and the keys above it) when missing.
LSTATUS CreateKey(HKEY root, const wchar_t* path, REGSAM access, UniqueRegKey* key);
// ERROR_SUCCESS also when there was no such value.
LSTATUS DeleteValue(HKEY key, const wchar_t* name);

enum class ValueState {
  kFound,
  kAbsent,     // no such value (ERROR_FILE_NOT_FOUND)
  kMalformed,  // another type, or a size the reader does not take
  kFailed,     // the registry refused the read
};

struct ValueRead {
  ValueState state = ValueState::kFailed;
  // The registry's answer: ERROR_FILE_NOT_FOUND when absent, the refusal when
  // failed, ERROR_INVALID_DATA when malformed.
  LSTATUS status = ERROR_SUCCESS;
  DWORD type = REG_NONE;  // what the registry holds, when it said
  DWORD bytes = 0;

  bool found() const { return state == ValueState::kFound; }
};

// A REG_DWORD of exactly 4 bytes.
ValueRead ReadDwordValue(HKEY key, const wchar_t* name, DWORD* value);

// A REG_SZ that fits, with its terminator, into `text`, a buffer of `units`
// UTF-16 units (at most kLongestString + 1). Text stops at the first
// terminator; a value stored without one is taken whole when it fits.
inline constexpr size_t kLongestString = 1023;
ValueRead ReadStringValue(HKEY key, const wchar_t* name, wchar_t* text, size_t units);

// A REG_SZ or REG_EXPAND_SZ of any length up to `maxBytes` (terminator
// included), read again while it grows between two reads; text stops at the
// first terminator. kAnyType takes the bytes of a value of any type as text,
// as installers are known to store paths under other types.
enum class TextTypes { kStringsOnly, kAnyType };
ValueRead ReadLongStringValue(HKEY key, const wchar_t* name, size_t maxBytes, std::wstring* text,
                              TextTypes types = TextTypes::kStringsOnly);

LSTATUS WriteDwordValue(HKEY key, const wchar_t* name, DWORD value);
// Stored with its terminator.
LSTATUS WriteStringValue(HKEY key, const wchar_t* name, const wchar_t* text);

// For the user's values the tool keeps under its settings key: a kept value
// of another type or size was not written by this tool as it is (a damaged
// hive, another program) and would block every later save and restore of
// that setting, so it is logged under `tag` and deleted, and reads as absent
// from then on. `key` needs KEY_SET_VALUE for that.
ValueRead ReadSavedDword(HKEY key, const wchar_t* name, const char* tag, DWORD* value);
ValueRead ReadSavedString(HKEY key, const wchar_t* name, const char* tag, wchar_t* text,
                          size_t units);

// A value of any type as its bytes, into `data` when they fit in `capacity`
// (a longer one reads as malformed, `data` undefined); without `data`, only
// its type and size. `bytes` of the answer is its size.
ValueRead ReadRawValue(HKEY key, const wchar_t* name, void* data, DWORD capacity);

// Signals `event` at the next change of a value under `key` or its subkeys.
// It fires once: ask again after each change.
LSTATUS WatchKeyChanges(HKEY key, HANDLE event);

}  // namespace mantlet
