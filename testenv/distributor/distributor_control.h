// How tests drive the search library stand-in (its REG_DWORD values under
// the current user's key below) and where the module looks for it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace testenv::distributor {

inline constexpr wchar_t kControlKey[] = L"Software\\MantletTest\\Distributor";
inline constexpr wchar_t kCheckResult[] = L"CheckSearchesResult";  // absent: 0
inline constexpr wchar_t kCheckCount[] = L"CheckSearchesCalls";
inline constexpr wchar_t kSetCount[] = L"SetSearchesCalls";
inline constexpr wchar_t kLoadCount[] = L"Loads";
inline constexpr wchar_t kUnloadCount[] = L"Unloads";

// Below the tools' install directory.
inline constexpr wchar_t kLibraryRelativePath[] = L"\\External\\Didirad\\Distributor.dll";

}  // namespace testenv::distributor
