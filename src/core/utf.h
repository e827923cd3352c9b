// UTF-8 <-> UTF-16 conversion without the platform. Malformed input is
// replaced with U+FFFD (one per maximal ill-formed subpart), as the system
// converter does when it is not asked to fail on invalid characters.
#pragma once

#include <string>
#include <string_view>

namespace mantlet {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace mantlet
