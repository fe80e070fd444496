// What encrypting an archive costs: the same generated SQL dump packed into an
// archive file plain and encrypted (AES-256), each several times in turn,
// with the wall time of every run and the archive sizes.
//
//   zip_encryption_bench [--megabytes N] [--runs N] [--threads N] [folder]
//   (defaults: 1000 MB, 3 runs, 1 thread, the system's temporary folder)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/deflate/sql_dump_generator.h"
#include "zip/zip_single_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double packSeconds(const std::string& dump, const std::string& archive, unsigned threads,
                   const char* password) {
  const Clock::time_point start = Clock::now();
  const vaultwick::ZipResult result = vaultwick::ZipSingleFile(
      dump.c_str(), archive.c_str(), vaultwick::StopToken::Never(), nullptr, threads, password);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (result != vaultwick::ZipResult::Ok) {
    std::fprintf(stderr, "packing failed: %s\n", vaultwick::zipResultMessage(result).c_str());
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t megabytes = 1000;
  int runs = 3;
  unsigned threads = 1;
  std::string folder = std::filesystem::temp_directory_path().string();
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--megabytes") == 0 && hasValue) {
      megabytes = std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--runs") == 0 && hasValue) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--threads") == 0 && hasValue) {
      threads = static_cast<unsigned>(std::atoi(argv[++i]));
    } else {
      folder = argv[i];
    }
  }
  const std::string base = folder + "/vaultwick-encryption-bench-" + std::to_string(getpid());
  const std::string dump = base + ".sql";
  {
    const std::string text = vaultwick::bench::generate_sql_dump(megabytes * 1000 * 1000);
    std::ofstream out(dump, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::printf("dump: %zu bytes of generated SQL, %u thread(s)\n", text.size(), threads);
  }
  const std::string archive = base + ".zip";
  for (int run = 1; run <= runs; ++run) {
    for (const char* password : {static_cast<const char*>(nullptr), "bench password"}) {
      const double seconds = packSeconds(dump, archive, threads, password);
      std::printf("run %d %-9s %7.2f s  %llu bytes\n", run, password ? "encrypted" : "plain",
                  seconds, static_cast<unsigned long long>(std::filesystem::file_size(archive)));
      std::fflush(stdout);
    }
  }
  std::filesystem::remove(archive);
  std::filesystem::remove(dump);
  return 0;
}
