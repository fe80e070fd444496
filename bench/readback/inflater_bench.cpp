// Inflating a member's data: our inflater against zlib's, on the generated
// SQL dump packed by our compressor (level 8) and by zlib (levels 1 and 6),
// and on a file given as the first argument. The output's CRC-32 is counted
// as the check does. Medians of five runs.
//
// Usage: inflater_bench [FILE]

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/deflate/compressor_runs.h"
#include "bench/deflate/sql_dump_generator.h"
#include "readback/inflater.h"
#include "zip/zip_crc32.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using vaultwick::Inflater;

constexpr std::size_t kPiece = 256 * 1024;  // as the check reads the file
constexpr int kRuns = 5;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// withCrc false: the inflater alone, its output only counted.
std::uint32_t InflateOurs(const Bytes& stream, bool withCrc = true) {
  std::uint32_t crc = 0;
  Inflater inflater([&crc, withCrc](const std::uint8_t* bytes, std::size_t count) {
    crc = withCrc ? vaultwick::crc32Update(crc, bytes, count)
                  : crc + static_cast<std::uint32_t>(count);
  });
  for (std::size_t at = 0; at < stream.size(); at += kPiece) {
    inflater.Feed(stream.data() + at, std::min(kPiece, stream.size() - at));
  }
  if (inflater.Close() != Inflater::Status::Ended) {
    std::fprintf(stderr, "inflater: %s\n", inflater.Error().c_str());
    std::exit(1);
  }
  return crc;
}

std::uint32_t InflateZlib(const Bytes& stream) {
  z_stream z{};
  inflateInit2(&z, -15);
  Bytes out(kPiece * 4);
  auto crc = static_cast<std::uint32_t>(crc32(0, Z_NULL, 0));
  int status = Z_OK;
  for (std::size_t at = 0; at < stream.size() && status != Z_STREAM_END; at += kPiece) {
    z.next_in = const_cast<std::uint8_t*>(stream.data() + at);
    z.avail_in = static_cast<uInt>(std::min(kPiece, stream.size() - at));
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = inflate(&z, Z_NO_FLUSH);
      crc = static_cast<std::uint32_t>(
          crc32(crc, out.data(), static_cast<uInt>(out.size() - z.avail_out)));
    } while (status == Z_OK && z.avail_out == 0);
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) {
    std::fprintf(stderr, "zlib refuses the stream\n");
    std::exit(1);
  }
  return crc;
}

void Compare(const char* label, const Bytes& input, const Bytes& stream) {
  std::vector<double> ours;
  std::vector<double> zlib;
  std::vector<double> alone;
  for (int run = 0; run < kRuns; ++run) {
    auto start = std::chrono::steady_clock::now();
    InflateOurs(stream, false);
    alone.push_back(Seconds(start));
    start = std::chrono::steady_clock::now();
    const std::uint32_t ourCrc = InflateOurs(stream);
    ours.push_back(Seconds(start));
    start = std::chrono::steady_clock::now();
    const std::uint32_t zlibCrc = InflateZlib(stream);
    zlib.push_back(Seconds(start));
    if (ourCrc != zlibCrc) {
      std::fprintf(stderr, "%s: the inflaters disagree\n", label);
      std::exit(1);
    }
  }
  const double mb = static_cast<double>(input.size()) / 1e6;
  std::printf(
      "%-26s %8.1f MB -> %7.1f MB   ours %7.1f MB/s (no CRC %7.1f)   zlib %7.1f MB/s   "
      "ours/zlib %.2fx time\n",
      label, mb, static_cast<double>(stream.size()) / 1e6, mb / Median(ours), mb / Median(alone),
      mb / Median(zlib), Median(ours) / Median(zlib));
}

}  // namespace

int main(int argc, char** argv) {
  Bytes input;
  std::string name = "generated SQL dump";
  if (argc > 1) {
    if (!vaultwick::bench::ReadWholeFile(argv[1], input)) {
      std::fprintf(stderr, "cannot read %s\n", argv[1]);
      return 1;
    }
    name = argv[1];
  } else {
    const std::string dump = vaultwick::bench::generate_sql_dump(64u << 20);
    input.assign(dump.begin(), dump.end());
  }
  std::printf("inflating %s (output CRC-32 counted), medians of %d runs\n", name.c_str(), kRuns);
  Bytes sink(vaultwick::bench::SinkRoom(input.size()));
  Bytes stream;
  const auto ours = vaultwick::bench::RunOurs(input, 1, sink);
  stream.assign(sink.begin(), sink.begin() + static_cast<std::ptrdiff_t>(ours.out_bytes));
  Compare("our compressor, level 8", input, stream);
  for (const int level : {1, 6}) {
    const auto zlib = vaultwick::bench::RunZlib(input, level, sink);
    stream.assign(sink.begin(), sink.begin() + static_cast<std::ptrdiff_t>(zlib.out_bytes));
    Compare(level == 1 ? "zlib level 1" : "zlib level 6", input, stream);
  }
  return 0;
}
