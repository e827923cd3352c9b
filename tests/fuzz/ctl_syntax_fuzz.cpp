// Any batch text an operator could feed mantletctl: it parses or refuses.
#include "ctl_syntax.h"
#include "fuzz_input.h"

FUZZ_TARGET(input) {
  const std::span<const uint8_t> text = input.Rest();
  (void)mantletctl::ParseBatch({reinterpret_cast<const char*>(text.data()), text.size()});
}
