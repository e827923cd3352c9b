#include "hypervisor_emulator.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace testenv {
namespace {

constexpr uint32_t kProbe = 0x5F9E652;
constexpr uint32_t kFirstChunk = 0x5F9E653;
constexpr uint32_t kNextChunk = 0x5F9E654;
constexpr uint32_t kEndTransfer = 0x5F9E655;
constexpr uint32_t kPresent = 0x0B36AF47;

constexpr uint32_t kDefaultSize = 4096;
constexpr uint32_t kDefaultVersion = 2;
constexpr int32_t kMoreExpected = 1;

struct Transfer {
  uint32_t total = 0;
  uint32_t chunks = 0;
  std::vector<uint8_t> bytes;
  bool complete = false;
};

struct Emulator {
  // Read without the lock too: switched off, the handler lets every fault
  // pass on at once, as a machine without the hypervisor would.
  std::atomic<bool> enabled{true};
  std::mutex lock;  // everything below; the handler runs on the module's threads
  uint32_t size = kDefaultSize;
  uint32_t version = kDefaultVersion;
  int32_t finalState = 0;
  int32_t nextHandle = 1;
  std::map<int32_t, Transfer> transfers;
  long probes = 0, chunks = 0, messages = 0, ends = 0;
  HANDLE record = INVALID_HANDLE_VALUE;
};

Emulator g_hv;

void Append(const std::string& text) {
  if (g_hv.record == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(g_hv.record, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// One line per finished message: "message <handle> chunks=<n> length=<bytes>
// <hex>"; "overrun" marks a transfer that got more bytes than announced.
void RecordMessage(int32_t handle, const Transfer& t) {
  ++g_hv.messages;
  if (g_hv.record == INVALID_HANDLE_VALUE)
    return;  // nothing to write the line to: not built, as it is on every trapped chunk
  static const char kDigits[] = "0123456789abcdef";
  std::string line = "message " + std::to_string(handle) + " chunks=" + std::to_string(t.chunks) +
                     " length=" + std::to_string(t.bytes.size()) +
                     (t.bytes.size() > t.total ? " overrun " : " ");
  for (uint8_t b : t.bytes) {
    line += kDigits[b >> 4];
    line += kDigits[b & 15];
  }
  Append(line + "\n");
}

// Whether every byte of [address, address + length) can be read here. A
// hypervisor reads guest memory for next to nothing; ReadProcessMemory would
// cost a round trip to the Wine server on every trapped call, which is the
// stand-in's cost and not the module's, so the range is checked instead and
// then copied directly.
bool Readable(uintptr_t address, size_t length) {
  const uintptr_t end = address + length;
  if (end < address)
    return false;
  while (address < end) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof(region)) == 0)
      return false;
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 ||
        (region.Protect & PAGE_GUARD) != 0) {
      return false;
    }
    address = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
  }
  return true;
}

// Bytes from the module's transfer buffer; a bad address reads as nothing
// rather than faulting inside the handler.
bool ReadGuest(uint32_t address, uint32_t length, std::vector<uint8_t>& out) {
  if (length == 0)
    return true;
  if (!Readable(address, length))
    return false;
  const uint8_t* from = reinterpret_cast<const uint8_t*>(uintptr_t{address});
  out.insert(out.end(), from, from + length);
  return true;
}

// Chunk answer: word 1 the handle, 3 and 4 no reply, 5 the state: 1 while
// bytes are missing, the scripted state for the chunk that completes the
// message, 0 for any chunk after that.
void AnswerChunk(uint32_t (&w)[6], int32_t handle, uint32_t length, uint32_t buffer) {
  Transfer& t = g_hv.transfers[handle];
  ++g_hv.chunks;
  ++t.chunks;
  ReadGuest(buffer, length, t.bytes);
  int32_t state = 0;
  if (!t.complete && t.bytes.size() >= t.total) {
    t.complete = true;
    RecordMessage(handle, t);
    state = g_hv.finalState;
  } else if (!t.complete) {
    state = kMoreExpected;
  }
  // A transfer stays known only while the module may still call for it.
  if (t.complete && state != 1 && state != 2)
    g_hv.transfers.erase(handle);
  w[1] = static_cast<uint32_t>(handle);
  w[2] = 0;
  w[3] = 0;
  w[4] = 0;
  w[5] = static_cast<uint32_t>(state);
}

// False for a call this host does not know: the fault then passes on.
bool Emulate(uint32_t (&w)[6]) {
  std::lock_guard<std::mutex> hold(g_hv.lock);
  if (!g_hv.enabled)
    return false;
  switch (w[0]) {
    case kProbe:
      if (w[1] != kProbe)
        return false;
      ++g_hv.probes;
      w[0] = kPresent;
      w[1] = g_hv.version;
      w[2] = g_hv.size;
      w[3] = w[4] = w[5] = 0;
      return true;
    case kFirstChunk: {
      const int32_t handle = g_hv.nextHandle++;
      g_hv.transfers[handle].total = w[1];
      AnswerChunk(w, handle, w[4], w[5]);
      return true;
    }
    case kNextChunk: {
      const int32_t handle = static_cast<int32_t>(w[1]);
      if (g_hv.transfers.count(handle) == 0) {
        w[5] = static_cast<uint32_t>(-1);
        return true;
      }
      AnswerChunk(w, handle, w[4], w[5]);
      return true;
    }
    case kEndTransfer: {
      const int32_t handle = static_cast<int32_t>(w[1]);
      ++g_hv.ends;
      Append("end " + std::to_string(handle) +
             (g_hv.transfers.erase(handle) != 0 ? "\n" : " unknown\n"));
      w[5] = 0;
      return true;
    }
    default:
      return false;
  }
}

#if defined(_M_X64) || defined(__x86_64__)
#define HV_REG(c, r) (c).R##r
#else
#define HV_REG(c, r) (c).E##r
#endif

LONG CALLBACK TrapRdpmc(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_PRIV_INSTRUCTION)
    return EXCEPTION_CONTINUE_SEARCH;
  if (!g_hv.enabled)
    return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT& c = *info->ContextRecord;
  const auto* ip = reinterpret_cast<const uint8_t*>(HV_REG(c, ip));
  if (!Readable(reinterpret_cast<uintptr_t>(ip), 2) || ip[0] != 0x0F || ip[1] != 0x33)
    return EXCEPTION_CONTINUE_SEARCH;
  uint32_t w[6] = {static_cast<uint32_t>(HV_REG(c, ax)), static_cast<uint32_t>(HV_REG(c, bx)),
                   static_cast<uint32_t>(HV_REG(c, cx)), static_cast<uint32_t>(HV_REG(c, dx)),
                   static_cast<uint32_t>(HV_REG(c, si)), static_cast<uint32_t>(HV_REG(c, di))};
  if (!Emulate(w))
    return EXCEPTION_CONTINUE_SEARCH;
  HV_REG(c, ax) = w[0];
  HV_REG(c, bx) = w[1];
  HV_REG(c, cx) = w[2];
  HV_REG(c, dx) = w[3];
  HV_REG(c, si) = w[4];
  HV_REG(c, di) = w[5];
  HV_REG(c, ip) += 2;
  return EXCEPTION_CONTINUE_EXECUTION;
}

void SetRecord(const char* path) {
  if (g_hv.record != INVALID_HANDLE_VALUE)
    CloseHandle(g_hv.record);
  g_hv.record = INVALID_HANDLE_VALUE;
  if (path == nullptr)
    return;
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, MAX_PATH);
  g_hv.record = CreateFileW(wide, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void InstallHypervisorEmulator() {
  AddVectoredExceptionHandler(1, &TrapRdpmc);
}

bool HypervisorCommand(const std::string& verb, const char* rest, HostReplyFn reply) {
  if (verb != "hv")
    return false;
  char sub[32] = {};
  int consumed = 0;
  sscanf(rest, " %31s %n", sub, &consumed);
  const char* arg = rest + consumed;
  const std::string s = sub;
  std::lock_guard<std::mutex> hold(g_hv.lock);
  if (s == "on" || s == "off") {
    g_hv.enabled = s == "on";
  } else if (s == "size" && *arg != '\0') {
    g_hv.size = strtoul(arg, nullptr, 0);
  } else if (s == "version" && *arg != '\0') {
    g_hv.version = strtoul(arg, nullptr, 0);
  } else if (s == "answer" && *arg != '\0') {
    g_hv.finalState = static_cast<int32_t>(strtol(arg, nullptr, 0));
  } else if (s == "record" && *arg != '\0') {
    SetRecord(strcmp(arg, "none") == 0 ? nullptr : arg);
    if (strcmp(arg, "none") != 0 && g_hv.record == INVALID_HANDLE_VALUE) {
      reply("hv=fail err=%lu", GetLastError());
      return true;
    }
  } else if (s == "reset") {
    g_hv.enabled = true;
    g_hv.size = kDefaultSize;
    g_hv.version = kDefaultVersion;
    g_hv.finalState = 0;
    g_hv.transfers.clear();
    g_hv.probes = g_hv.chunks = g_hv.messages = g_hv.ends = 0;
  } else if (s == "stats") {
    reply("hv %s probes=%ld chunks=%ld messages=%ld ends=%ld", g_hv.enabled.load() ? "on" : "off",
          g_hv.probes, g_hv.chunks, g_hv.messages, g_hv.ends);
    return true;
  } else {
    reply("hv=usage");
    return true;
  }
  reply("hv=ok");
  return true;
}

}  // namespace testenv
