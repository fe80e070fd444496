// The whole backup job beside its peers, on the same server and the same
// database, in one run:
//   1. the job (dump, archive, check, copy into a target folder), run by this
//      program re-started as `backup_job_bench --job-child ...`, plain and
//      encrypted, each with and without the check before placing;
//   2. mariadb-dump --skip-extended-insert DB | zlib_deflate_filter 8 > FILE;
//   3. mariadb-dump DB | gzip -8 > FILE;
//   4. mydumper -t 2 -c (two threads, gzip files).
// Every side runs RUNS times (default 3), the sides taking turns so that a
// change of the machine's load falls on all of them; the table shows medians.
// Each side runs in child processes so that its peak memory is its own
// (wait4's ru_maxrss; for a pipeline, the sum of its processes').
//
//   eval "$(scripts/mariadb start /tmp/vw-bench-db)"
//   BUILD/bench/backup/backup_job_bench [ROWS [RUNS]]    (default 1000000 rows, 3 runs)
//   BUILD/bench/backup/backup_job_bench --database NAME [RUNS]   (an existing database)
//   scripts/mariadb stop /tmp/vw-bench-db

#include <fcntl.h>
#include <mysql.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backup/run_backup_job.h"
#include "bench/backup/bench_server.h"
#include "bench/support/child_programs.h"

namespace {

using vaultwick::bench::ChildEnd;
using vaultwick::bench::Connect;
using vaultwick::bench::CreateBenchDatabase;
using vaultwick::bench::Run;
using vaultwick::bench::Server;
using vaultwick::bench::ServerFromEnvironment;
using vaultwick::bench::Spawn;
using vaultwick::bench::Wait;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kArchivePassword = "bench-archive-password";

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// When the job's steps end: the dump, the packing after it, and the rest
// (the check before placing, then the copy into the target folder).
struct PhaseTimes {
  Clock::time_point start = Clock::now();
  Clock::time_point dumped = start;
  Clock::time_point packed = start;
};

// The job as `vaultwick backup` runs it, on this process's own thread. Writes
// "dump packing placing" (seconds) to `phasesPath`.
int JobChild(const char* database, const char* target, const char* phasesPath, bool check,
             const char* password) {
  Server server;
  if (!ServerFromEnvironment(&server)) {
    return 2;
  }
  auto* request = new vaultwick::BackupRequest;
  request->job.name = "bench";
  request->job.server = vaultwick::bench::LoginTo(server, database);
  request->job.saveTo = target;
  request->job.archivePassword = password;
  vaultwick::BackupOutcome outcome;
  request->onOutcome = [&outcome](const vaultwick::BackupOutcome& result) { outcome = result; };
  PhaseTimes phases;
  request->testHooks.afterDump = [&phases](const std::string&, const std::string&) {
    phases.dumped = Clock::now();
  };
  request->testHooks.beforeCopy = [&phases](const std::string&) { phases.packed = Clock::now(); };
  request->testHooks.skipArchiveCheck = !check;
  vaultwick::RunBackupJob(request);
  std::ofstream(phasesPath) << Seconds(phases.start, phases.dumped) << ' '
                            << Seconds(phases.dumped, phases.packed) << ' '
                            << vaultwick::bench::Seconds(phases.packed) << '\n';
  if (outcome.result != vaultwick::BackupResult::Complete) {
    std::fprintf(stderr, "job ended: %s\n", outcome.endText.c_str());
    return 1;
  }
  return 0;
}

double Megabytes(std::uintmax_t bytes) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One side's runs.
struct Side {
  explicit Side(std::string name) : label(std::move(name)) {}
  std::string label;
  std::vector<double> wall, peakMiB, outMiB;
  std::vector<double> dump, packing, placing;  // the job's phases
  bool ok = true;
};

struct Bench {
  Server server;
  std::string database;
  std::string self;
  fs::path work;
};

void RunJob(const Bench& bench, Side& side, bool check, const char* password) {
  const fs::path target = bench.work / "target";
  fs::remove_all(target);
  fs::create_directory(target);
  const std::string phasesPath = (bench.work / "phases.txt").string();
  std::vector<std::string> args = {bench.self,      "--job-child", bench.database,
                                   target.string(), phasesPath,    check ? "check" : "no-check"};
  if (password != nullptr) {
    args.push_back(password);
  }
  const auto start = Clock::now();
  const ChildEnd job = Wait(Spawn(args));
  side.wall.push_back(vaultwick::bench::Seconds(start));
  side.peakMiB.push_back(job.peakKilobytes / 1024.0);
  std::error_code error;
  side.outMiB.push_back(Megabytes(fs::file_size(target / "bench.zip", error)));
  double dump = 0, packing = 0, placing = 0;
  std::ifstream(phasesPath) >> dump >> packing >> placing;
  side.dump.push_back(dump);
  side.packing.push_back(packing);
  side.placing.push_back(placing);
  side.ok = side.ok && job.ok && !error;
}

// `dumper | filter > FILE`.
void RunPipeline(const Bench& bench, Side& side, const std::vector<std::string>& dumper,
                 const std::vector<std::string>& filter) {
  const fs::path file = bench.work / "peer.out";
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    side.ok = false;
    return;
  }
  const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const auto start = Clock::now();
  const pid_t dumping = Spawn(dumper, -1, pipeEnds[1], -1);
  const pid_t packing = Spawn(filter, pipeEnds[0], out, quiet);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  close(out);
  close(quiet);
  const ChildEnd dump = Wait(dumping);
  const ChildEnd zip = Wait(packing);
  side.wall.push_back(vaultwick::bench::Seconds(start));
  side.peakMiB.push_back((dump.peakKilobytes + zip.peakKilobytes) / 1024.0);
  side.outMiB.push_back(Megabytes(fs::file_size(file)));
  side.ok = side.ok && dump.ok && zip.ok;
}

// mydumper's files, each table's gzip'd, in a folder of their own.
void RunMydumper(const Bench& bench, Side& side) {
  const fs::path folder = bench.work / "mydumper";
  fs::remove_all(folder);
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const auto start = Clock::now();
  const ChildEnd dumper =
      Wait(Spawn({"mydumper", "--threads=2", "--compress", "--host=" + bench.server.host,
                  "--port=" + bench.server.port, "--user=" + bench.server.user,
                  "--password=" + bench.server.password, "--database=" + bench.database,
                  "--outputdir=" + folder.string()},
                 -1, quiet, quiet));
  close(quiet);
  side.wall.push_back(vaultwick::bench::Seconds(start));
  side.peakMiB.push_back(dumper.peakKilobytes / 1024.0);
  std::uintmax_t bytes = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    bytes += entry.file_size();
  }
  side.outMiB.push_back(Megabytes(bytes));
  side.ok = side.ok && dumper.ok && !error;
}

void PrintRow(const Side& side) {
  std::printf("%-58s %8.2f %12.1f %11.3f%s\n", side.label.c_str(), Median(side.wall),
              Median(side.peakMiB), Median(side.outMiB), side.ok ? "" : "  (FAILED)");
}

void PrintPhases(const Side& side) {
  std::printf("  %-56s dump %.2f s, packing after it %.2f s, check and copy %.2f s\n",
              side.label.c_str(), Median(side.dump), Median(side.packing), Median(side.placing));
}

void PrintRatio(const char* label, const Side& over, const Side& under) {
  std::printf("%-58s %8.2f\n", label, Median(over.wall) / Median(under.wall));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 6 && std::strcmp(argv[1], "--job-child") == 0) {
    return JobChild(argv[2], argv[3], argv[4], std::strcmp(argv[5], "check") == 0,
                    argc > 6 ? argv[6] : "");
  }
  const bool existing = argc > 2 && std::strcmp(argv[1], "--database") == 0;
  const long rows = existing ? 0 : argc > 1 ? std::atol(argv[1]) : 1000000;
  const int runsArg = existing ? 3 : 2;
  const int runs = argc > runsArg ? std::max(1, std::atoi(argv[runsArg])) : 3;
  Bench bench;
  if (!ServerFromEnvironment(&bench.server)) {
    return 2;
  }
  MYSQL* connection = Connect(bench.server, nullptr);
  if (connection == nullptr) {
    return 2;
  }
  bench.database = existing ? argv[2] : "vw_jobbench_" + std::to_string(getpid());
  bool ok = true;
  if (!existing) {
    std::printf("generating %ld rows in %s ...\n", rows, bench.database.c_str());
    std::fflush(stdout);
    ok = CreateBenchDatabase(connection, bench.database, rows);
  }

  char pattern[] = "/tmp/vw-jobbench-XXXXXX";
  bench.work = mkdtemp(pattern);
  bench.self = fs::read_symlink("/proc/self/exe").string();
  const std::string filter = (fs::path(bench.self).parent_path() / "zlib_deflate_filter").string();
  setenv("MYSQL_PWD", bench.server.password.c_str(), 1);
  const std::vector<std::string> dumpArgs = {
      "mariadb-dump", "--no-defaults", "--host=" + bench.server.host, "--port=" + bench.server.port,
      "--user=" + bench.server.user};

  Side job("vaultwick job (dump, archive, check, copy)");
  Side unchecked("vaultwick job, no check before placing");
  Side encrypted("vaultwick job, encrypted (AES-256)");
  Side encryptedUnchecked("vaultwick job, encrypted, no check");
  Side zlibPeer("mariadb-dump --skip-extended-insert | zlib 8");
  Side gzipPeer("mariadb-dump | gzip -8");
  Side mydumper("mydumper -t 2 -c");
  for (int run = 0; ok && run < runs; ++run) {
    std::printf("run %d of %d ...\n", run + 1, runs);
    std::fflush(stdout);
    RunJob(bench, job, true, nullptr);
    RunJob(bench, unchecked, false, nullptr);
    RunJob(bench, encrypted, true, kArchivePassword);
    RunJob(bench, encryptedUnchecked, false, kArchivePassword);
    std::vector<std::string> skipExtended = dumpArgs;
    skipExtended.insert(skipExtended.begin() + 2, "--skip-extended-insert");
    skipExtended.push_back(bench.database);
    RunPipeline(bench, zlibPeer, skipExtended, {filter, "8"});
    std::vector<std::string> plain = dumpArgs;
    plain.push_back(bench.database);
    RunPipeline(bench, gzipPeer, plain, {"gzip", "-8"});
    RunMydumper(bench, mydumper);
  }

  if (ok) {
    std::printf("\nmedians of %d runs (%s)\n", runs, bench.database.c_str());
    std::printf("%-58s %8s %12s %11s\n", "", "wall s", "peak RSS MiB", "output MiB");
    for (const Side* side :
         {&job, &unchecked, &encrypted, &encryptedUnchecked, &zlibPeer, &gzipPeer, &mydumper}) {
      PrintRow(*side);
    }
    std::printf("\nwhere the job's time goes (medians)\n");
    for (const Side* side : {&job, &unchecked, &encrypted, &encryptedUnchecked}) {
      PrintPhases(*side);
    }
    std::printf(
        "  check alone (check and copy, with less without) %.2f s plain, %.2f s encrypted\n",
        Median(job.placing) - Median(unchecked.placing),
        Median(encrypted.placing) - Median(encryptedUnchecked.placing));
    std::printf("\n");
    PrintRatio("ratio job with check / without", job, unchecked);
    PrintRatio("ratio encrypted job with check / without", encrypted, encryptedUnchecked);
    PrintRatio("ratio encrypted / plain job", encrypted, job);
    PrintRatio("ratio job / mydumper -t 2 -c", job, mydumper);
    PrintRatio("ratio job / mariadb-dump | gzip -8", job, gzipPeer);
    PrintRatio("ratio job / mariadb-dump --skip-extended-insert | zlib 8", job, zlibPeer);
    ok = job.ok && unchecked.ok && encrypted.ok && encryptedUnchecked.ok && zlibPeer.ok &&
         gzipPeer.ok && mydumper.ok;
  }
  fs::remove_all(bench.work);
  if (!existing) {
    Run(connection, "DROP DATABASE IF EXISTS " + bench.database);
  }
  mysql_close(connection);
  return ok ? 0 : 1;
}
