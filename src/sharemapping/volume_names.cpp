#include "sharemapping/volume_names.h"

#include <string_view>

#include "core/utf.h"

namespace mantlet {

std::vector<std::u16string> DecodeVolumeNames(const CommandRecordView& record) {
  const std::span<const uint8_t> bytes = PayloadOfArgLength(record);
  const std::u16string text =
      Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  std::vector<std::u16string> names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos)
      end = text.size();
    names.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace mantlet
