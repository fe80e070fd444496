// Whether threads ever slow our compressor down: each input compressed at
// level 8 on one thread and on N threads (and by zlib level 8 on one thread,
// the peer), R rounds in turn, and the medians printed as a table with the
// ratio one thread / N threads. Rows where N threads take more than 1.02
// times one thread's time are marked. The inputs are the ones where parse
// workers gain least (incompressible bytes, one long run, periods that a
// match covers exactly or not at all), a generated SQL dump, and the files
// named on the command line (real dumps, text, binaries).
//
//   deflate_threads_bench [--threads N] [--runs R] [--no-generated] [file...]
//                                                   (N: default 2, R: default 3)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/deflate/compressor_runs.h"
#include "bench/deflate/sql_dump_generator.h"

namespace {

using vaultwick::bench::RunOurs;
using vaultwick::bench::RunZlib;
using vaultwick::bench::Timed;

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr double kNeverSlowerThan = 1.02;

struct Input {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> out(size);
  for (auto& byte : out) {
    byte = static_cast<std::uint8_t>(gen());
  }
  return out;
}

std::vector<std::uint8_t> Periodic(std::size_t period, std::size_t size) {
  const std::vector<std::uint8_t> pattern = RandomBytes(period, static_cast<std::uint32_t>(period));
  std::vector<std::uint8_t> out(size);
  for (std::size_t i = 0; i < size; ++i) {
    out[i] = pattern[i % period];
  }
  return out;
}

std::vector<Input> GeneratedInputs() {
  std::vector<Input> inputs;
  inputs.push_back({"random bytes", RandomBytes(64 * kMiB, 1)});
  inputs.push_back({"zeros", std::vector<std::uint8_t>(64 * kMiB, 0)});
  inputs.push_back({"3-byte period", Periodic(3, 32 * kMiB)});
  inputs.push_back({"258-byte period", Periodic(258, 32 * kMiB)});
  const std::string dump = vaultwick::bench::generate_sql_dump(30'000'000);
  inputs.push_back({"generated SQL dump", std::vector<std::uint8_t>(dump.begin(), dump.end())});
  return inputs;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Shorten(const std::string& name, std::size_t width) {
  return name.size() <= width ? name : "..." + name.substr(name.size() - (width - 3));
}

}  // namespace

int main(int argc, char** argv) {
  unsigned threads = 2;
  int runs = 3;
  bool generated = true;
  std::vector<Input> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = static_cast<unsigned>(std::max(2, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--no-generated") == 0) {
      generated = false;
    } else {
      Input input{argv[i], {}};
      if (!vaultwick::bench::ReadWholeFile(argv[i], input.bytes)) {
        std::fprintf(stderr, "cannot read %s\n", argv[i]);
        return 1;
      }
      files.push_back(std::move(input));
    }
  }
  std::vector<Input> inputs = generated ? GeneratedInputs() : std::vector<Input>{};
  for (Input& file : files) {
    inputs.push_back(std::move(file));
  }

  std::printf("level 8, %d rounds, medians of wall time; ratio = 1 thread / %u threads\n\n", runs,
              threads);
  std::printf("%-28s %12s %10s %10s %7s %10s  %s\n", "input", "bytes", "1 thread",
              (std::to_string(threads) + " threads").c_str(), "ratio", "zlib -8", "same stream");
  for (const Input& input : inputs) {
    const std::size_t room = vaultwick::bench::SinkRoom(input.bytes.size());
    std::vector<std::uint8_t> one_sink(room);
    std::vector<std::uint8_t> many_sink(room);
    std::vector<std::uint8_t> zlib_sink(room);
    std::vector<double> one;
    std::vector<double> many;
    std::vector<double> zlib;
    bool same = true;
    // Each round runs every compressor once, in turn, so that a busy moment
    // on the machine hurts all of them alike.
    for (int round = 0; round < runs; ++round) {
      const Timed a = RunOurs(input.bytes, 1, one_sink);
      const Timed b = RunOurs(input.bytes, threads, many_sink);
      const Timed z = RunZlib(input.bytes, 8, zlib_sink);
      same = same && a.out_bytes == b.out_bytes &&
             std::memcmp(one_sink.data(), many_sink.data(), a.out_bytes) == 0;
      one.push_back(a.seconds);
      many.push_back(b.seconds);
      zlib.push_back(z.seconds);
    }
    const double one_median = Median(one);
    const double many_median = Median(many);
    std::printf("%-28s %12zu %9.3fs %9.3fs %6.2fx %9.3fs  %s%s\n", Shorten(input.name, 28).c_str(),
                input.bytes.size(), one_median, many_median, one_median / many_median, Median(zlib),
                same ? "yes" : "NO",
                many_median > kNeverSlowerThan * one_median ? "  (slower)" : "");
    std::fflush(stdout);
  }
  return 0;
}
