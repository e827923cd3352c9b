#include "core/hypercall.h"

#include <windows.h>

#include <cstdint>

// The probe's instruction carries a global symbol so that the guard can tell
// its fault from any other. MSVC builds take both calls from the assembly
// files next to this one (x64 MSVC has no inline assembly).
extern "C" const unsigned char MantletProbeSite[];

namespace mantlet {
namespace {

// Written only by the loader thread at load and unload.
PVOID g_guard = nullptr;

// Without the guard the probe's instruction would fault out of the module
// where there is no hypervisor: the probe then reports none without trying.
bool ProbeRefused(uint32_t words[6]) {
  if (g_guard != nullptr)
    return false;
  for (int i = 0; i < 6; ++i)
    words[i] = 0;
  return true;
}

}  // namespace
}  // namespace mantlet

#if defined(__GNUC__) || defined(__clang__)

#define MANTLET_STRINGIFY2(x) #x
#define MANTLET_STRINGIFY(x) MANTLET_STRINGIFY2(x)
// i686 C symbols carry a leading underscore, x86-64 ones do not.
#define MANTLET_PROBE_SITE MANTLET_STRINGIFY(__USER_LABEL_PREFIX__) "MantletProbeSite"

#if defined(__x86_64__)
// RBX is callee-saved but free to name as an operand: the compiler saves it.
#define MANTLET_RDPMC_ASM(label)                                                        \
  asm volatile(label "rdpmc"                                                            \
               : "+a"(w[0]), "+b"(w[1]), "+c"(w[2]), "+d"(w[3]), "+S"(w[4]), "+D"(w[5]) \
               :                                                                        \
               : "memory")
#elif defined(__i386__)
// EBX may be the PIC or frame base register on i686, so it is never handed to
// the compiler: word 1 goes in and out through a stack slot, swapped with EBX
// around the instruction, which leaves EBX as it was. The words are local
// copies so that no operand is addressed through a register the asm changes.
#define MANTLET_RDPMC_ASM(label)                                                             \
  asm volatile("xchgl %%ebx, %[w1]\n\t" label "rdpmc\n\txchgl %%ebx, %[w1]"                  \
               : "+a"(w[0]), [w1] "+m"(w[1]), "+c"(w[2]), "+d"(w[3]), "+S"(w[4]), "+D"(w[5]) \
               :                                                                             \
               : "memory")
#else
#error "the hypervisor call needs an x86 processor"
#endif

namespace mantlet {

void Hypercall(uint32_t words[6]) {
  uint32_t w[6] = {words[0], words[1], words[2], words[3], words[4], words[5]};
  MANTLET_RDPMC_ASM("");
  for (int i = 0; i < 6; ++i)
    words[i] = w[i];
}

// Never inlined or cloned: the symbol must name exactly one instruction.
#if defined(__clang__)
__attribute__((noinline))
#else
__attribute__((noinline, noclone))
#endif
void HypercallProbe(uint32_t words[6]) {
  if (ProbeRefused(words))
    return;
  uint32_t w[6] = {words[0], words[1], words[2], words[3], words[4], words[5]};
  MANTLET_RDPMC_ASM(".globl " MANTLET_PROBE_SITE "\n" MANTLET_PROBE_SITE ":\n\t");
  for (int i = 0; i < 6; ++i)
    words[i] = w[i];
}

}  // namespace mantlet

#else  // MSVC: hypercall_msvc_x64.asm / hypercall_msvc_x86.asm

extern "C" void MantletHypercall(uint32_t* words);
extern "C" void MantletHypercallProbe(uint32_t* words);

namespace mantlet {

void Hypercall(uint32_t words[6]) {
  MantletHypercall(words);
}

void HypercallProbe(uint32_t words[6]) {
  if (!ProbeRefused(words))
    MantletHypercallProbe(words);
}

}  // namespace mantlet

#endif

namespace mantlet {
namespace {

constexpr uintptr_t kRdpmcLength = 2;  // 0F 33

LONG CALLBACK ProbeGuard(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  // Windows raises the privileged-instruction fault for rdpmc in user mode;
  // Wine raises an access violation at the same address instead.
  if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION)
    return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT& context = *info->ContextRecord;
  const uintptr_t site = reinterpret_cast<uintptr_t>(MantletProbeSite);
#if defined(_M_X64) || defined(__x86_64__)
  if (context.Rip != site)
    return EXCEPTION_CONTINUE_SEARCH;
  // No presence mark in any word: the probe reports no hypervisor.
  context.Rax = context.Rbx = context.Rcx = context.Rdx = context.Rsi = context.Rdi = 0;
  context.Rip += kRdpmcLength;
#else
  if (context.Eip != site)
    return EXCEPTION_CONTINUE_SEARCH;
  context.Eax = context.Ebx = context.Ecx = context.Edx = context.Esi = context.Edi = 0;
  context.Eip += kRdpmcLength;
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool InstallHostCallGuard() {
  if (g_guard == nullptr)
    g_guard = AddVectoredExceptionHandler(0, &ProbeGuard);
  return g_guard != nullptr;
}

void RemoveHostCallGuard() {
  if (g_guard != nullptr) {
    RemoveVectoredExceptionHandler(g_guard);
    g_guard = nullptr;
  }
}

}  // namespace mantlet
