// Owners for Win32 handles. Each knows its own empty value, and closing keeps
// the thread's last-error code so that a failure can be logged after the
// clean-up that followed it.
#pragma once

#include <windows.h>
#include <winnetwk.h>

#include <utility>

namespace mantlet {

// Restores the thread's last-error code when it goes out of scope.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : m_error(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(m_error); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;
  DWORD value() const { return m_error; }

 private:
  DWORD m_error;
};

template <typename Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() = default;
  explicit UniqueAny(Type value) : m_value(value) {}
  ~UniqueAny() { reset(); }
  UniqueAny(UniqueAny&& other) noexcept : m_value(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  Type get() const { return m_value; }
  bool valid() const { return m_value != Traits::Empty(); }
  explicit operator bool() const { return valid(); }

  Type release() { return std::exchange(m_value, Traits::Empty()); }
  void reset(Type value = Traits::Empty()) {
    const Type old = std::exchange(m_value, value);
    if (old != Traits::Empty()) {
      LastErrorKeeper keep;
      Traits::Close(old);
    }
  }
  // For out-parameters of creating calls: resets, then hands out the slot.
  Type* put() {
    reset();
    return &m_value;
  }

 private:
  Type m_value = Traits::Empty();
};

struct KernelHandleTraits {  // events, threads, processes, mutexes: empty is null
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { CloseHandle(h); }
};

struct FileHandleTraits {  // files, mailslots, devices: empty is INVALID_HANDLE_VALUE
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { RegCloseKey(h); }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};

struct LibraryTraits {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};

using UniqueHandle = UniqueAny<KernelHandleTraits>;
using UniqueFile = UniqueAny<FileHandleTraits>;
using UniqueRegKey = UniqueAny<RegKeyTraits>;
using UniqueFind = UniqueAny<FindHandleTraits>;
using UniqueLibrary = UniqueAny<LibraryTraits>;

// A critical section held for a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
  ~CriticalSectionLock() { LeaveCriticalSection(&m_cs); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& m_cs;
};

// GetProcAddress gives a generic function pointer; the caller names the type.
template <typename Fn>
Fn LookUpProc(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// std::u16string and wchar_t strings share their representation on Windows.
inline const wchar_t* AsWide(const char16_t* s) {
  return reinterpret_cast<const wchar_t*>(s);
}
inline const char16_t* AsU16(const wchar_t* s) {
  return reinterpret_cast<const char16_t*>(s);
}

struct NetEnumTraits {  // network resource enumerations (WNetOpenEnum)
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { WNetCloseEnum(h); }
};
using UniqueNetEnum = UniqueAny<NetEnumTraits>;

// LocalAlloc'd blocks the system hands out (security descriptors, SIDs, ACLs).
template <typename T>
struct LocalTraits {
  using Type = T;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { LocalFree(h); }
};
template <typename T>
using UniqueLocal = UniqueAny<LocalTraits<T>>;

}  // namespace mantlet
