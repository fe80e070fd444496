// Whether threads ever slow our compressor down: each input compressed at
// level 8 on one thread and on N threads (and by zlib level 8 on one thread,
// the peer), R rounds in turn, and the medians printed as a table with the
// ratio one thread / N threads. Rows where N threads take more than 1.02
// times one thread's time are marked. The inputs are the ones where parse
// workers gain least (incompressible bytes, one long run, periods that a
// match covers exactly or not at all), a generated SQL dump, text (this
// machine's C headers) and binaries (its shared libraries), and the files
// named on the command line (real dumps).
//
// Other programs on the machine change wall times, so the table also gives
// the processor time of both ways (every thread of the process) and the
// load average when each row was done.
//
//   deflate_threads_bench [--threads N] [--runs R] [--no-generated] [--only WORD] [file...]
//       N: default 2; R: default 3; WORD: only the inputs whose name holds it

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
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

// The regular files under `folder` whose name holds one of `endings`, in
// path order, one after the other up to `size` bytes.
std::vector<std::uint8_t> FilesUnder(const char* folder, std::initializer_list<const char*> endings,
                                     std::size_t size) {
  namespace fs = std::filesystem;
  std::vector<fs::path> paths;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    const bool wanted = std::any_of(endings.begin(), endings.end(), [&](const char* ending) {
      return name.find(ending) != std::string::npos;
    });
    if (wanted && it->is_regular_file(error) && !it->is_symlink(error)) {
      paths.push_back(it->path());
    }
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::uint8_t> out;
  for (const fs::path& path : paths) {
    if (out.size() >= size) {
      break;
    }
    std::ifstream file(path, std::ios::binary);
    out.insert(out.end(), std::istreambuf_iterator<char>(file), {});
  }
  out.resize(std::min(out.size(), size));
  return out;
}

bool Wanted(const std::string& name, const char* only) {
  return only == nullptr || name.find(only) != std::string::npos;
}

std::vector<Input> GeneratedInputs(const char* only) {
  std::vector<Input> inputs;
  const auto add = [&](const char* name, const std::function<std::vector<std::uint8_t>()>& make) {
    if (Wanted(name, only)) {
      inputs.push_back({name, make()});
    }
  };
  add("random bytes", [] { return RandomBytes(64 * kMiB, 1); });
  add("zeros", [] { return std::vector<std::uint8_t>(64 * kMiB, 0); });
  add("3-byte period", [] { return Periodic(3, 32 * kMiB); });
  add("258-byte period", [] { return Periodic(258, 32 * kMiB); });
  add("generated SQL dump", [] {
    const std::string dump = vaultwick::bench::generate_sql_dump(30'000'000);
    return std::vector<std::uint8_t>(dump.begin(), dump.end());
  });
  add("text (/usr/include)", [] { return FilesUnder("/usr/include", {".h"}, 32 * kMiB); });
  add("binary (/usr/lib .so)",
      [] { return FilesUnder("/usr/lib/x86_64-linux-gnu", {".so"}, 32 * kMiB); });
  return inputs;
}

// The machine's load average over the last minute.
double LoadAverage() {
  std::ifstream file("/proc/loadavg");
  double load = -1;
  file >> load;
  return load;
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
  const char* only = nullptr;
  std::vector<Input> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = static_cast<unsigned>(std::max(2, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--no-generated") == 0) {
      generated = false;
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else {
      Input input{argv[i], {}};
      if (!vaultwick::bench::ReadWholeFile(argv[i], input.bytes)) {
        std::fprintf(stderr, "cannot read %s\n", argv[i]);
        return 1;
      }
      files.push_back(std::move(input));
    }
  }
  std::vector<Input> inputs = generated ? GeneratedInputs(only) : std::vector<Input>{};
  for (Input& file : files) {
    inputs.push_back(std::move(file));
  }

  std::printf(
      "level 8, %d rounds, medians; ratio = 1 thread / %u threads (wall time);\n"
      "cpu: processor time of every thread; load: 1-minute load average after the row\n"
      "(%u cores, load %.2f at the start)\n\n",
      runs, threads, std::thread::hardware_concurrency(), LoadAverage());
  const std::string many_name = std::to_string(threads) + " threads";
  std::printf("%-24s %10s %9s %9s %6s %9s %9s %9s %5s  %s\n", "input", "bytes", "1 thread",
              many_name.c_str(), "ratio", "cpu 1", "cpu many", "zlib -8", "load", "same stream");
  for (const Input& input : inputs) {
    const std::size_t room = vaultwick::bench::SinkRoom(input.bytes.size());
    std::vector<std::uint8_t> one_sink(room);
    std::vector<std::uint8_t> many_sink(room);
    std::vector<std::uint8_t> zlib_sink(room);
    std::vector<double> one;
    std::vector<double> many;
    std::vector<double> one_cpu;
    std::vector<double> many_cpu;
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
      one_cpu.push_back(a.cpu_seconds);
      many_cpu.push_back(b.cpu_seconds);
      zlib.push_back(z.seconds);
    }
    const double one_median = Median(one);
    const double many_median = Median(many);
    std::printf("%-24s %10zu %8.3fs %8.3fs %5.2fx %8.3fs %8.3fs %8.3fs %5.2f  %s%s\n",
                Shorten(input.name, 24).c_str(), input.bytes.size(), one_median, many_median,
                one_median / many_median, Median(one_cpu), Median(many_cpu), Median(zlib),
                LoadAverage(), same ? "yes" : "NO",
                many_median > kNeverSlowerThan * one_median ? "  (slower)" : "");
    std::fflush(stdout);
  }
  return 0;
}
