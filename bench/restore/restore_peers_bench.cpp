// `vaultwick restore` beside the loaders a user would reach for instead, on a
// database that exists (by default the real-data database): the stock
// `mariadb` client loading the dump `mariadb-dump` makes, and `myloader -t 2`
// loading what `mydumper -t 2` makes. Each dump is made once; then each load
// runs three times (interleaved) into a new database, and the medians are
// printed with our ratio to each peer. Ours is the whole restore (the check
// of the archive, the load into a staging database, the move), at each
// number of connections asked for; every one of its copies is compared with
// the source table by table (CHECKSUM TABLE).
//
//   ../shared/realdata/load-real-data.sh
//   eval "$(../shared/realdata/mariadb-sandbox.sh env)"
//   BUILD/bench/restore/restore_peers_bench [DATABASE [JOBS...]]   (realdata; 1 2 4)
//
// The server is the one BENCH_DB_HOST, _PORT, _USER and _PASSWORD name, else
// the private test server (VAULTWICK_TEST_DB_*).

#include <mysql.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "backup/dump_database.h"
#include "bench/backup/bench_server.h"
#include "bench/support/child_programs.h"
#include "restore/restore_database.h"
#include "zip/zip_single_file.h"

namespace {

using namespace vaultwick::bench;

namespace fs = std::filesystem;

constexpr int kRuns = 3;

bool ServerFromBenchEnvironment(Server* server) {
  const char* host = std::getenv("BENCH_DB_HOST");
  const char* port = std::getenv("BENCH_DB_PORT");
  const char* user = std::getenv("BENCH_DB_USER");
  const char* password = std::getenv("BENCH_DB_PASSWORD");
  if (host == nullptr || port == nullptr || user == nullptr) {
    return vaultwick::bench::ServerFromEnvironment(server);
  }
  *server = {host, port, user, password != nullptr ? password : ""};
  return true;
}

std::vector<std::string> Column(MYSQL* connection, const std::string& query, unsigned column) {
  std::vector<std::string> values;
  if (mysql_query(connection, query.c_str()) != 0) {
    return values;
  }
  MYSQL_RES* result = mysql_store_result(connection);
  while (MYSQL_ROW row = result != nullptr ? mysql_fetch_row(result) : nullptr) {
    values.emplace_back(row[column] != nullptr ? row[column] : "NULL");
  }
  mysql_free_result(result);
  return values;
}

// Each base table's name and CHECKSUM TABLE, in name order.
std::vector<std::string> Checksums(MYSQL* connection, const std::string& database) {
  std::vector<std::string> sums;
  for (const std::string& table :
       Column(connection,
              "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = '" + database +
                  "' AND TABLE_TYPE = 'BASE TABLE' ORDER BY TABLE_NAME",
              0)) {
    const std::vector<std::string> sum =
        Column(connection, "CHECKSUM TABLE `" + database + "`.`" + table + "`", 1);
    sums.push_back(table + "=" + (sum.empty() ? "?" : sum[0]));
  }
  return sums;
}

struct Loader {
  std::string name;
  std::function<bool(const std::string& target)> load;
  std::vector<double> seconds;
  bool checked = true;  // compared equal with the source, every run
  bool compare = false;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string source = argc > 1 ? argv[1] : "realdata";
  std::vector<unsigned> jobs;
  for (int i = 2; i < argc; ++i) {
    jobs.push_back(static_cast<unsigned>(std::atoi(argv[i])));
  }
  if (jobs.empty()) {
    jobs = {1, 2, 4};
  }
  Server server;
  if (!ServerFromBenchEnvironment(&server)) {
    return 2;
  }
  MYSQL* connection = Connect(server, nullptr);
  MYSQL* sourceConnection = Connect(server, source.c_str());
  if (connection == nullptr || sourceConnection == nullptr) {
    return 2;
  }
  const std::vector<std::string> sourceSums = Checksums(connection, source);
  char pattern[] = "/tmp/vw-restorepeers-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  const std::string dump = (work / "ours.sql").string();
  const std::string archive = (work / "ours.zip").string();
  const std::string peerDump = (work / "peer.sql").string();
  const std::string peerFolder = (work / "mydumper").string();

  std::printf("dumping %s (%zu tables) three ways ...\n", source.c_str(), sourceSums.size());
  std::fflush(stdout);
  bool ok = vaultwick::DumpDatabase(sourceConnection, dump.c_str(), nullptr).failedQueries == 0 &&
            vaultwick::ZipSingleFile(dump.c_str(), archive.c_str()) == vaultwick::ZipResult::Ok;
  mysql_close(sourceConnection);
  setenv("MYSQL_PWD", server.password.c_str(), 1);
  const std::vector<std::string> login = {"--host=" + server.host, "--port=" + server.port,
                                          "--user=" + server.user};
  auto with = [&](std::vector<std::string> args, std::vector<std::string> more) {
    args.insert(args.end(), login.begin(), login.end());
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  ok = ok && RunProgram(with({"mariadb-dump", "--no-defaults"}, {source}), "", peerDump).ok &&
       RunProgram(with({"mydumper"}, {"--password=" + server.password, "--threads=2",
                                      "--database=" + source, "--outputdir=" + peerFolder}))
           .ok;
  if (!ok) {
    std::fprintf(stderr, "a dump failed\n");
    return 1;
  }

  std::vector<Loader> loaders;
  loaders.push_back({"mariadb < mariadb-dump's dump",
                     [&](const std::string& target) {
                       return Run(connection, "CREATE DATABASE " + target) &&
                              RunProgram(with({"mariadb", "--no-defaults"}, {target}), peerDump).ok;
                     },
                     {},
                     true,
                     false});
  loaders.push_back(
      {"myloader -t 2 (mydumper -t 2's dump)",
       [&](const std::string& target) {
         return RunProgram(
                    with({"myloader"}, {"--password=" + server.password, "--threads=2",
                                        "--directory=" + peerFolder, "--database=" + target}))
             .ok;
       },
       {},
       true,
       false});
  for (const unsigned n : jobs) {
    loaders.push_back({"vaultwick restore --jobs " + std::to_string(n),
                       [&, n](const std::string& target) {
                         vaultwick::RestoreRequest request;
                         request.archivePath = archive;
                         request.server = LoginTo(server, target);
                         request.jobs = n;
                         const vaultwick::RestoreOutcome outcome =
                             vaultwick::RestoreDatabase(request);
                         if (outcome.result != vaultwick::RestoreResult::Restored) {
                           std::fprintf(stderr, "restore: %s\n", outcome.message.c_str());
                         }
                         return outcome.result == vaultwick::RestoreResult::Restored;
                       },
                       {},
                       true,
                       true});
  }

  const std::string target = "vw_restorepeers_" + std::to_string(getpid());
  for (int run = 0; run < kRuns; ++run) {
    for (Loader& loader : loaders) {
      Run(connection, "DROP DATABASE IF EXISTS " + target);
      const auto start = std::chrono::steady_clock::now();
      const bool loaded = loader.load(target);
      loader.seconds.push_back(Seconds(start));
      loader.checked = loader.checked && loaded;
      if (loader.compare && loaded) {
        loader.checked = loader.checked && Checksums(connection, target) == sourceSums;
      }
      std::printf("  run %d  %-40s %6.2f s%s\n", run + 1, loader.name.c_str(),
                  loader.seconds.back(), loaded ? "" : "  (FAILED)");
      std::fflush(stdout);
    }
  }
  Run(connection, "DROP DATABASE IF EXISTS " + target);

  const double mariadb = Median(loaders[0].seconds);
  const double myloader = Median(loaders[1].seconds);
  std::printf("\n%-40s %9s %12s %12s %s\n", "median of 3, wall s", "seconds", "/ myloader",
              "/ mariadb", "");
  for (const Loader& loader : loaders) {
    const double median = Median(loader.seconds);
    std::printf("%-40s %9.2f %12.2f %12.2f %s\n", loader.name.c_str(), median, median / myloader,
                median / mariadb,
                !loader.checked  ? "FAILED or differs"
                : loader.compare ? "equal checksums"
                                 : "");
  }
  std::printf("(our dump %.1f MiB, archive %.1f MiB; mariadb-dump's %.1f MiB)\n",
              static_cast<double>(fs::file_size(dump)) / (1 << 20),
              static_cast<double>(fs::file_size(archive)) / (1 << 20),
              static_cast<double>(fs::file_size(peerDump)) / (1 << 20));
  mysql_close(connection);
  fs::remove_all(work);
  return 0;
}
