// Names of the command channel, shared by the module and everything that
// writes commands to it.
#pragma once

namespace mantlet {

inline constexpr wchar_t kMailslotName[] = L"\\\\.\\mailslot\\cvn_Mantlet";
inline constexpr wchar_t kCommandEventName[] = L"Local\\cvn_MantletCmdEvent";

}  // namespace mantlet
