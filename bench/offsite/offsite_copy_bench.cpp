// An off-site copy as a backup makes it (copy, then the proof: the local
// file's hash and the remote's, or the bytes read back) beside its peer,
// `rclone copyto` alone with rclone's own check after the transfer, on the
// same file and the same server. Prints each run's seconds and the means.
//
//   scripts/test-remote run sftp /tmp/vw-bench-remote BUILD/bench/offsite/offsite_copy_bench [MB]
//   [RUNS] (default 100 MB, 3 runs; also webdav and s3)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/support/child_programs.h"
#include "platform/child_process.h"
#include "platform/rclone_remote.h"
#include "platform/temp_folder.h"

namespace {

using vaultwick::ChildLimits;
using vaultwick::RcloneRemote;
using vaultwick::RcloneSettings;
using vaultwick::RemoteOutcome;
using vaultwick::bench::Seconds;
using Clock = std::chrono::steady_clock;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

bool WriteRandomFile(const std::string& path, std::size_t megabytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    return false;
  }
  std::mt19937_64 random(20240501);
  std::vector<std::uint64_t> block(1 << 17);
  for (std::size_t i = 0; i < megabytes; ++i) {
    for (auto& word : block) {
      word = random();
    }
    std::fwrite(block.data(), sizeof(std::uint64_t), block.size(), out);
  }
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  RcloneSettings settings{Environment("VAULTWICK_TEST_REMOTE"),
                          Environment("VAULTWICK_TEST_REMOTE_CONFIG"), "rclone"};
  if (settings.remote.empty()) {
    std::fprintf(stderr, "run inside scripts/test-remote run KIND DIR ...\n");
    return 2;
  }
  std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  auto folder = vaultwick::PrivateTempFolder::Create();
  if (!folder || !WriteRandomFile(folder->FilePath("bench.zip"), megabytes)) {
    std::fprintf(stderr, "cannot write the test file\n");
    return 1;
  }
  std::string file = folder->FilePath("bench.zip");
  auto deadline = Clock::now() + std::chrono::hours(1);
  std::printf("%s, %zu MB of random bytes\n", Environment("VAULTWICK_TEST_REMOTE_KIND").c_str(),
              megabytes);
  double oursTotal = 0;
  double peerTotal = 0;
  for (int run = 1; run <= runs; ++run) {
    std::vector<std::string> peer{"rclone",
                                  "--config",
                                  settings.configFile,
                                  "-q",
                                  "copyto",
                                  "--ignore-times",
                                  file,
                                  settings.remote + "/peer/bench.zip"};
    std::string ignored;
    auto start = Clock::now();
    bool peerDone = vaultwick::RunChildCollecting(
                        peer, ChildLimits{deadline, vaultwick::StopToken::Never()}, ignored)
                        .Succeeded();
    double peerSeconds = Seconds(start);

    RcloneRemote remote(settings, deadline);
    start = Clock::now();
    RemoteOutcome outcome = remote.Copy(file, "ours", "bench.zip");
    if (outcome.ok()) {
      outcome = remote.Prove(file, "ours", "bench.zip");
    }
    double oursSeconds = Seconds(start);
    if (!peerDone || !outcome.ok()) {
      std::fprintf(stderr, "run %d failed: %s\n", run, outcome.text.c_str());
      return 1;
    }
    std::printf("run %d: copy and proof %.2f s   rclone copyto %.2f s\n", run, oursSeconds,
                peerSeconds);
    oursTotal += oursSeconds;
    peerTotal += peerSeconds;
  }
  std::printf("mean:  copy and proof %.2f s   rclone copyto %.2f s   ratio %.2f\n",
              oursTotal / runs, peerTotal / runs, oursTotal / peerTotal);
  return 0;
}
