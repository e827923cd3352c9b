// How tests drive the notification platform stand-in: everything lives in
// the current user's registry, so the test process, the module's process
// and the local server all see the same state.
#pragma once

#include <windows.h>

namespace testenv::notifplat {

inline constexpr wchar_t kControlKey[] = L"Software\\MantletTest\\NotificationPlatform";

// REG_DWORD "Setting<id>": a setting's value; setting 4 (the notifications
// switch) reads 1 (enabled) while absent.
inline constexpr wchar_t kNotificationsSetting[] = L"Setting4";
// REG_DWORD HRESULTs the stand-in answers with instead of working, when
// present: creation of the platform object, platform method 6, endpoint
// methods 4 and 6.
inline constexpr wchar_t kFailCreate[] = L"FailCreate";
inline constexpr wchar_t kFailEndpoint[] = L"FailEndpoint";
inline constexpr wchar_t kFailGet[] = L"FailGet";
inline constexpr wchar_t kFailSet[] = L"FailSet";
// REG_DWORD counters of the calls that reached the stand-in (failed ones too).
inline constexpr wchar_t kCreateCount[] = L"Creates";
inline constexpr wchar_t kGetCount[] = L"Gets";
inline constexpr wchar_t kSetCount[] = L"Sets";

inline constexpr wchar_t kPlatformClassId[] = L"{0C9281F9-6DA1-4006-8729-DE6E6B61581C}";

}  // namespace testenv::notifplat
