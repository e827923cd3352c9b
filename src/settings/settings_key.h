// The tool's own registry key, where the user's values are kept between a
// change and its restore.
#pragma once

namespace mantlet {

inline constexpr char kGuestUtilsKeyPathA[] = "SOFTWARE\\Corvane\\Corvane Tools\\GuestUtilities";
inline constexpr wchar_t kGuestUtilsKeyPath[] = L"SOFTWARE\\Corvane\\Corvane Tools\\GuestUtilities";

}  // namespace mantlet
