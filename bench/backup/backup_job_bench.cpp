// The whole backup job beside its nearest peer pipeline, on the same server
// and the same generated database, in one run:
//   1. the job (dump, archive, copy into a target folder), run by this program
//      re-started as `backup_job_bench --job-child DB TARGET`;
//   2. mariadb-dump --skip-extended-insert DB | zlib_deflate_filter 8 > FILE.
// Each side runs in child processes so that its peak memory is its own
// (wait4's ru_maxrss; for the pipeline, each process's and their sum). Prints
// wall time, peak memory, bytes out, and the job-to-peer ratios.
//
//   eval "$(scripts/mariadb start /tmp/vw-bench-db)"
//   BUILD/bench/backup/backup_job_bench [ROWS]      (default 1000000)
//   scripts/mariadb stop /tmp/vw-bench-db

#include <fcntl.h>
#include <mysql.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "backup/run_backup_job.h"
#include "bench/backup/bench_server.h"
#include "bench/support/child_programs.h"

namespace {

using namespace vaultwick::bench;

namespace fs = std::filesystem;

// Notes when the dump ends and the archive step begins.
class PhaseClock : public vaultwick::StatusTextPort {
 public:
  void SetStatusText(const std::string& text) override {
    if (text == vaultwick::kTextZipping) {
      zipping = std::chrono::steady_clock::now();
    }
  }
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point zipping = start;
};

// The job as `vaultwick backup` runs it, on this process's own thread; its
// archive encrypted under `password` when there is one.
int JobChild(const char* database, const char* target, const char* password) {
  Server server;
  if (!ServerFromEnvironment(&server)) {
    return 2;
  }
  auto* request = new vaultwick::BackupRequest;
  request->name = "bench";
  request->server = LoginTo(server, database);
  request->saveTo = target;
  request->archivePassword = password != nullptr ? password : "";
  vaultwick::BackupOutcome outcome;
  request->onOutcome = [&outcome](const vaultwick::BackupOutcome& result) { outcome = result; };
  auto clock = std::make_shared<PhaseClock>();
  request->statusEcho = clock;
  vaultwick::RunBackupJob(request);
  std::printf(
      "job phases: connect and dump %.2f s, archive and copy %.2f s\n",
      std::chrono::duration<double>(clock->zipping - clock->start).count(),
      std::chrono::duration<double>(std::chrono::steady_clock::now() - clock->zipping).count());
  if (outcome.result != vaultwick::BackupResult::Complete) {
    std::fprintf(stderr, "job ended: %s\n", outcome.endText.c_str());
    return 1;
  }
  return 0;
}

double Megabytes(std::uintmax_t bytes) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--job-child") == 0) {
    return JobChild(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  }
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  Server server;
  MYSQL* connection = ConnectFromEnvironment(&server);
  if (connection == nullptr) {
    return 2;
  }
  const std::string database = "vw_jobbench_" + std::to_string(getpid());
  std::printf("generating %ld rows in %s ...\n", rows, database.c_str());
  std::fflush(stdout);
  bool ok = CreateBenchDatabase(connection, database, rows);

  char pattern[] = "/tmp/vw-jobbench-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  fs::create_directory(work / "target");
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string filter = (fs::path(self).parent_path() / "zlib_deflate_filter").string();

  if (ok) {
    auto start = std::chrono::steady_clock::now();
    const ChildEnd job = Wait(Spawn({self, "--job-child", database, (work / "target").string()}));
    const double jobSeconds = Seconds(start);
    std::uintmax_t archive = job.ok ? fs::file_size(work / "target" / "bench.zip") : 0;

    // The same job with its archive encrypted: what encryption costs.
    start = std::chrono::steady_clock::now();
    const ChildEnd encrypted = Wait(Spawn(
        {self, "--job-child", database, (work / "target").string(), "bench-archive-password"}));
    const double encryptedSeconds = Seconds(start);

    // The peer: the dump streams through a pipe into the zlib filter.
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
      return 1;
    }
    int out = open((work / "peer.sql.gz").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int counts =
        open((work / "filter.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    setenv("MYSQL_PWD", server.password.c_str(), 1);
    start = std::chrono::steady_clock::now();
    const pid_t dumping =
        Spawn({"mariadb-dump", "--no-defaults", "--skip-extended-insert", "--host=" + server.host,
               "--port=" + server.port, "--user=" + server.user, database},
              -1, pipeEnds[1], -1);
    const pid_t zipping = Spawn({filter, "8"}, pipeEnds[0], out, counts);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    close(out);
    close(counts);
    const ChildEnd dump = Wait(dumping);
    const ChildEnd zip = Wait(zipping);
    const double peerSeconds = Seconds(start);
    unsigned long long peerIn = 0, peerOut = 0;
    std::ifstream report((work / "filter.txt").string());
    std::string word;
    report >> word >> peerIn >> word >> peerOut;

    const long peerPeak = dump.peakKilobytes + zip.peakKilobytes;
    std::printf("\n%-52s %9s %12s %12s\n", "", "wall s", "peak RSS MiB", "output MiB");
    std::printf("%-52s %9.2f %12.1f %12.2f%s\n", "vaultwick job (dump, archive, copy)", jobSeconds,
                job.peakKilobytes / 1024.0, Megabytes(archive), job.ok ? "" : "  (FAILED)");
    std::printf("%-52s %9.2f %12.1f %12s%s\n", "vaultwick job, archive encrypted (AES-256)",
                encryptedSeconds, encrypted.peakKilobytes / 1024.0, "",
                encrypted.ok ? "" : "  (FAILED)");
    std::printf("%-52s %9.2f\n", "ratio encrypted / plain job", encryptedSeconds / jobSeconds);
    std::printf("%-52s %9.2f %12.1f %12.2f%s\n",
                "mariadb-dump --skip-extended-insert | zlib level 8", peerSeconds,
                peerPeak / 1024.0, Megabytes(peerOut), dump.ok && zip.ok ? "" : "  (FAILED)");
    std::printf("%-52s %9s %12.1f\n", "  of which mariadb-dump", "", dump.peakKilobytes / 1024.0);
    std::printf("%-52s %9s %12.1f\n", "  of which zlib filter", "", zip.peakKilobytes / 1024.0);
    std::printf("%-52s %9.2f %12.2f\n", "ratio job / peer", jobSeconds / peerSeconds,
                static_cast<double>(job.peakKilobytes) / static_cast<double>(peerPeak));
    std::printf("(peer's uncompressed dump: %.2f MiB; rows: %ld)\n", Megabytes(peerIn), rows);
    ok = job.ok && encrypted.ok && dump.ok && zip.ok;
  }
  fs::remove_all(work);
  Run(connection, "DROP DATABASE IF EXISTS " + database);
  mysql_close(connection);
  return ok ? 0 : 1;
}
