// The installation key linked in: the registry views in the order both of
// its readers (the education launcher, the browser information) use.
#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <optional>
#include <string>

#include "core/install_key.h"
#include "install_location.h"

namespace mantlet {
namespace {

using testenv::kView32;
using testenv::kView64;
using testenv::ScopedInstallLocation;

TEST(InstallKey, install_location_comes_from_the_modules_own_view_before_the_other) {
  const REGSAM own = sizeof(void*) == 8 ? kView64 : kView32;
  const REGSAM other = own == kView64 ? kView32 : kView64;
  const std::optional<std::wstring> none, inOwn = L"C:\\own", inOther = L"C:\\other";
  const std::wstring tooLong(300, L'x');  // 602 bytes with its terminator
  const struct {
    std::optional<std::wstring> own, other;
    DWORD maxBytes;
    std::optional<std::wstring> found;
  } cases[] = {
      {none, inOther, kAnyInstallLocationLength, inOther},
      {inOwn, inOther, kAnyInstallLocationLength, inOwn},
      {tooLong, inOther, 520, inOther},  // too long for the reader counts as missing
      {tooLong, none, kAnyInstallLocationLength, tooLong},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    ScopedInstallLocation ownValue(own, cases[i].own), otherValue(other, cases[i].other);
    EXPECT_EQ(ReadInstallLocation(cases[i].maxBytes), cases[i].found) << "case " << i;
  }
}

}  // namespace
}  // namespace mantlet
