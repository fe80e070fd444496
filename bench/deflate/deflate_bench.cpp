// Compresses the same inputs with our compressor at level 8, on one thread
// and on N threads, and with zlib's raw deflate at levels 6, 8 and 9,
// and prints size, ratio and speed side by side, the speed ratios against
// zlib level 8, and whether the threaded stream is the one-thread stream byte
// for byte. Speeds are wall time, the best of five rounds. Inputs: the files
// named on the command line, or generated SQL dumps of about 30 and 4 MB
// when none are named.
//
//   deflate_bench [--threads N] [file...]      (N: default 2)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/deflate/compressor_runs.h"
#include "bench/deflate/sql_dump_generator.h"

namespace {

using vaultwick::bench::RunOurs;
using vaultwick::bench::RunZlib;
using Figure = vaultwick::bench::Timed;

constexpr int kRuns = 5;  // best of five

struct Input {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

void report(const char* who, const Input& input, const Figure& f) {
  const double mb = static_cast<double>(input.bytes.size()) / 1e6;
  std::printf("  %-16s %12zu bytes out  %6.2f%%  %8.2f MB/s\n", who, f.out_bytes,
              100.0 * static_cast<double>(f.out_bytes) / static_cast<double>(input.bytes.size()),
              mb / f.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  unsigned threads = 2;
  std::vector<Input> inputs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = static_cast<unsigned>(std::max(2, std::atoi(argv[++i])));
      continue;
    }
    Input input{argv[i], {}};
    if (!vaultwick::bench::ReadWholeFile(argv[i], input.bytes)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    inputs.push_back(std::move(input));
  }
  if (inputs.empty()) {
    for (std::size_t size : {30'000'000, 4'000'000}) {
      const std::string dump = vaultwick::bench::generate_sql_dump(size);
      inputs.push_back({"generated SQL dump", std::vector<std::uint8_t>(dump.begin(), dump.end())});
    }
  }

  for (const auto& input : inputs) {
    const std::size_t room = vaultwick::bench::SinkRoom(input.bytes.size());
    std::vector<std::uint8_t> sink(room);
    std::vector<std::uint8_t> one_thread_sink(room);
    std::vector<std::uint8_t> threaded_sink(room);
    std::printf("%s: %zu bytes in\n", input.name.c_str(), input.bytes.size());
    // Rounds run every compressor once, in turn, so that a busy moment on the
    // machine hurts all of them alike; each keeps its best time.
    constexpr int kZlibLevels[] = {6, 8, 9};
    Figure ours;
    Figure threaded;
    Figure zlib[3];
    for (int round = 0; round < kRuns; ++round) {
      const Figure f = RunOurs(input.bytes, 1, one_thread_sink);
      ours = round == 0 || f.seconds < ours.seconds ? f : ours;
      const Figure t = RunOurs(input.bytes, threads, threaded_sink);
      threaded = round == 0 || t.seconds < threaded.seconds ? t : threaded;
      for (int i = 0; i < 3; ++i) {
        const Figure z = RunZlib(input.bytes, kZlibLevels[i], sink);
        zlib[i] = round == 0 || z.seconds < zlib[i].seconds ? z : zlib[i];
      }
    }
    char who[32];
    report("ours level 8", input, ours);
    std::snprintf(who, sizeof who, "ours, %u threads", threads);
    report(who, input, threaded);
    for (int i = 0; i < 3; ++i) {
      std::snprintf(who, sizeof who, "zlib level %d", kZlibLevels[i]);
      report(who, input, zlib[i]);
    }
    const bool same =
        ours.out_bytes == threaded.out_bytes &&
        std::memcmp(one_thread_sink.data(), threaded_sink.data(), ours.out_bytes) == 0;
    std::printf("  ours / zlib level 8 speed: %.2f (one thread), %.2f (%u threads)\n",
                zlib[1].seconds / ours.seconds, zlib[1].seconds / threaded.seconds, threads);
    std::printf("  %u-thread stream is the one-thread stream byte for byte: %s\n\n", threads,
                same ? "yes" : "NO");
  }
  return 0;
}
