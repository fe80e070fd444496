// Fuzz target: the first byte picks the pack level (1 to 8), the rest is the
// member. Whatever the input, the stream must inflate back to it (zlib's raw
// inflate as the judge), no internal check may fail, and the size flate_run
// returns must be the number of bytes it handed over.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/deflate/flate_harness.h"
#include "tests/deflate/zlib_oracle.h"

namespace {

[[noreturn]] void fail(const char* what, int level, std::size_t size) {
  std::fprintf(stderr, "deflate round trip: %s (level %d, %zu bytes)\n", what, level, size);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const int level = 1 + data[0] % 8;
  const std::vector<std::uint8_t> input(data + 1, data + size);
  const auto out = vaultwick::test::compress(input, level);
  if (out.error_text != nullptr) {
    fail(out.error_text, level, input.size());
  }
  if (out.returned_size != out.bytes.size()) {
    fail("returned size differs from the bytes written", level, input.size());
  }
  const auto inflated = vaultwick::test::zlib_inflate_raw(out.bytes);
  if (!inflated.has_value()) {
    fail("zlib rejects the stream", level, input.size());
  }
  if (*inflated != input) {
    fail("inflated bytes differ from the input", level, input.size());
  }
  return 0;
}
