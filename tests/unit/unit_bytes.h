// Bytes written by hand for the unit tables: hex text, little-endian words,
// UTF-16LE units, text and their concatenation.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace unit_bytes {

using Bytes = std::vector<uint8_t>;

// Bytes from hex digits; blanks only group them for the eye.
inline Bytes Hex(std::string_view digits) {
  std::string s(digits);
  std::erase(s, ' ');
  Bytes out;
  for (size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(s.substr(i, 2), nullptr, 16)));
  return out;
}

inline Bytes Le32(std::initializer_list<uint32_t> words) {
  Bytes out;
  for (const uint32_t v : words)
    out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  return out;
}

inline Bytes Utf16(std::u16string_view units, bool terminated = false) {
  Bytes out;
  for (const char16_t c : units)
    out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8)});
  if (terminated)
    out.insert(out.end(), {0, 0});
  return out;
}

inline Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace unit_bytes
