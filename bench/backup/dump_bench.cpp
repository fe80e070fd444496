// Dump throughput and memory beside mariadb-dump on the same table.
//
// Fills a scratch database on the private server with a generated table of
// about a million rows (integers, text with characters that need escaping,
// decimals, dates, NULLs), then dumps it twice, each time in a child process
// so that its peak memory is its own (wait4's ru_maxrss):
//   1. DumpDatabase (this program re-run as `dump_bench --dump-child DB FILE`),
//   2. mariadb-dump --skip-extended-insert (one INSERT per row, like ours).
// Prints seconds, rows/s, MB/s of dump file written, and peak resident memory.
//
// Run it against a private server:
//   eval "$(scripts/mariadb start /tmp/vw-bench-db)"
//   BUILD/bench/backup/dump_bench [ROWS]          (default 1000000)
//   scripts/mariadb stop /tmp/vw-bench-db

#include <mysql.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backup/dump_database.h"
#include "bench/backup/bench_server.h"
#include "bench/support/child_programs.h"

namespace {

using namespace vaultwick::bench;

int DumpChild(const char* database, const char* path) {
  Server server;
  if (!ServerFromEnvironment(&server))
    return 2;
  MYSQL* connection = Connect(server, database);
  if (connection == nullptr)
    return 2;
  vaultwick::DumpOutcome outcome = vaultwick::DumpDatabase(connection, path, nullptr);
  mysql_close(connection);
  return (outcome.failedQueries == 0 && !outcome.writeFailed) ? 0 : 1;
}

struct ChildRun {
  double seconds = 0;
  long peakKilobytes = 0;
  bool ok = false;
};

// Runs argv with stdout going to outputPath (when given) and measures it.
ChildRun RunChild(const std::vector<std::string>& args, const char* outputPath) {
  const auto start = std::chrono::steady_clock::now();
  const ChildEnd end = RunProgram(args, "", outputPath != nullptr ? outputPath : "");
  return {Seconds(start), end.peakKilobytes, end.ok};
}

double FileMegabytes(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0)
    return 0;
  return static_cast<double>(info.st_size) / 1e6;
}

void Report(const char* name, const ChildRun& run, long rows, const std::string& path) {
  double megabytes = FileMegabytes(path);
  std::printf("%-44s %7.2f s %10.0f rows/s %7.1f MB/s  file %7.1f MB  peak RSS %6.1f MB%s\n", name,
              run.seconds, rows / run.seconds, megabytes / run.seconds, megabytes,
              run.peakKilobytes / 1024.0, run.ok ? "" : "  (FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--dump-child") == 0)
    return DumpChild(argv[2], argv[3]);

  long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  Server server;
  MYSQL* connection = ConnectFromEnvironment(&server);
  if (connection == nullptr)
    return 2;
  std::string database = "vw_bench_" + std::to_string(getpid());
  std::printf("generating %ld rows in %s ...\n", rows, database.c_str());
  std::fflush(stdout);
  bool filled = CreateBenchDatabase(connection, database, rows);

  const char* temp = std::getenv("TMPDIR");
  std::string folder = temp != nullptr ? temp : "/tmp";
  std::string ourPath = folder + "/" + database + "_vaultwick.sql";
  std::string peerPath = folder + "/" + database + "_mariadb_dump.sql";
  if (filled) {
    std::remove(ourPath.c_str());
    ChildRun ours = RunChild({"/proc/self/exe", "--dump-child", database, ourPath}, nullptr);
    Report("DumpDatabase", ours, rows, ourPath);
    std::fflush(stdout);
    ChildRun peer = RunChild({"mariadb-dump", "--no-defaults", "--skip-extended-insert",
                              "--host=" + server.host, "--port=" + server.port,
                              "--user=" + server.user, "--password=" + server.password, database},
                             peerPath.c_str());
    Report("mariadb-dump --skip-extended-insert", peer, rows, peerPath);
  }
  std::remove(ourPath.c_str());
  std::remove(peerPath.c_str());
  Run(connection, "DROP DATABASE IF EXISTS " + database);
  mysql_close(connection);
  return filled ? 0 : 1;
}
