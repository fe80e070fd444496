// Fuzz target: the input is a raw deflated stream, fed to the inflater in
// pieces whose size the first byte picks. No input may make it crash or read
// out of bounds; a stream it inflates must inflate the same in one piece, and
// to what zlib, the judge, inflates it to.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "readback/inflater.h"
#include "tests/deflate/zlib_oracle.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Fail(const char* what, std::size_t size) {
  std::fprintf(stderr, "inflater: %s (%zu bytes)\n", what, size);
  std::abort();
}

vaultwick::Inflater::Status Inflate(const Bytes& stream, std::size_t piece, Bytes* out,
                                    std::uint64_t* length) {
  vaultwick::Inflater inflater([out](const std::uint8_t* bytes, std::size_t count) {
    out->insert(out->end(), bytes, bytes + count);
  });
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const Bytes copy(
        stream.begin() + static_cast<std::ptrdiff_t>(at),
        stream.begin() + static_cast<std::ptrdiff_t>(std::min(at + piece, stream.size())));
    if (inflater.Feed(copy.data(), copy.size()) != vaultwick::Inflater::Status::NeedInput) {
      break;
    }
  }
  *length = inflater.InputBytes();
  return inflater.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t piece = 1 + data[0] % 64;
  const Bytes stream(data + 1, data + size);
  Bytes pieced;
  std::uint64_t length = 0;
  if (Inflate(stream, piece, &pieced, &length) != vaultwick::Inflater::Status::Ended) {
    return 0;
  }
  Bytes whole;
  std::uint64_t wholeLength = 0;
  if (Inflate(stream, stream.size(), &whole, &wholeLength) != vaultwick::Inflater::Status::Ended ||
      whole != pieced || wholeLength != length) {
    Fail("pieces and one piece differ", stream.size());
  }
  const auto judged = vaultwick::test::zlib_inflate_raw(
      Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length)));
  // Where zlib refuses a stream it may only be stricter; where it inflates
  // one, the bytes must be the same.
  if (judged.has_value() && *judged != whole) {
    Fail("zlib inflates other bytes", stream.size());
  }
  return 0;
}
