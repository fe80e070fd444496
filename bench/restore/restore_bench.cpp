// `vaultwick restore` beside its nearest peer, on the same server and the same
// generated table: the peer is the stock `mariadb` client loading the default
// dump of `mariadb-dump` (multi-row INSERTs); ours loads the archive a backup
// of the same database makes (one INSERT per row, packed). Prints both load
// times and their ratio; the reading that proves the archive is counted in ours.
// Then the same archive again with --replace over the restored copy: what a
// replacing restore costs beside a restore into a new database.
//
//   eval "$(scripts/mariadb start /tmp/vw-bench-db)"
//   BUILD/bench/restore/restore_bench [ROWS]      (default 300000)
//   scripts/mariadb stop /tmp/vw-bench-db

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

std::string RowCount(MYSQL* connection, const std::string& database) {
  const std::string query = "SELECT COUNT(*) FROM `" + database + "`.orders";
  if (mysql_query(connection, query.c_str()) != 0) {
    return "?";
  }
  MYSQL_RES* result = mysql_store_result(connection);
  MYSQL_ROW row = result != nullptr ? mysql_fetch_row(result) : nullptr;
  std::string count = row != nullptr && row[0] != nullptr ? row[0] : "?";
  mysql_free_result(result);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 300000;
  Server server;
  MYSQL* connection = ConnectFromEnvironment(&server);
  if (connection == nullptr) {
    return 2;
  }
  const std::string stem = "vw_restorebench_" + std::to_string(getpid());
  const std::string source = stem + "_source";
  const std::string peer = stem + "_peer";
  const std::string ours = stem + "_ours";
  std::printf("generating %ld rows in %s ...\n", rows, source.c_str());
  std::fflush(stdout);
  if (!CreateBenchDatabase(connection, source, rows)) {
    return 1;
  }
  char pattern[] = "/tmp/vw-restorebench-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  const std::string dump = (work / "bench.sql").string();
  const std::string archive = (work / "bench.zip").string();
  const std::string peerDump = (work / "peer.sql").string();

  MYSQL* sourceConnection = Connect(server, source.c_str());
  bool ok = sourceConnection != nullptr &&
            vaultwick::DumpDatabase(sourceConnection, dump.c_str(), nullptr).failedQueries == 0 &&
            vaultwick::ZipSingleFile(dump.c_str(), archive.c_str()) == vaultwick::ZipResult::Ok;
  mysql_close(sourceConnection);
  setenv("MYSQL_PWD", server.password.c_str(), 1);
  const std::vector<std::string> login = {"--no-defaults", "--host=" + server.host,
                                          "--port=" + server.port, "--user=" + server.user};
  std::vector<std::string> dumpArgs = {"mariadb-dump"};
  dumpArgs.insert(dumpArgs.end(), login.begin(), login.end());
  dumpArgs.push_back(source);
  ok = ok && RunProgram(dumpArgs, "", peerDump).ok && Run(connection, "CREATE DATABASE " + peer);
  if (!ok) {
    return 1;
  }

  std::vector<std::string> loadArgs = {"mariadb"};
  loadArgs.insert(loadArgs.end(), login.begin(), login.end());
  loadArgs.push_back(peer);
  auto start = std::chrono::steady_clock::now();
  const bool peerLoaded = RunProgram(loadArgs, peerDump).ok;
  const double peerSeconds = Seconds(start);

  vaultwick::RestoreRequest request;
  request.archivePath = archive;
  request.server = LoginTo(server, ours);
  start = std::chrono::steady_clock::now();
  const vaultwick::RestoreOutcome outcome = vaultwick::RestoreDatabase(request);
  const double ourSeconds = Seconds(start);
  request.replace = true;
  start = std::chrono::steady_clock::now();
  const vaultwick::RestoreOutcome replaced = vaultwick::RestoreDatabase(request);
  const double replaceSeconds = Seconds(start);

  std::printf("\n%-58s %9s %10s\n", "", "wall s", "rows");
  std::printf("%-58s %9.2f %10s%s\n", "mariadb < mariadb-dump's default dump (multi-row INSERTs)",
              peerSeconds, RowCount(connection, peer).c_str(), peerLoaded ? "" : "  (FAILED)");
  std::printf("%-58s %9.2f %10s%s\n", "vaultwick restore of the backup's archive (check + load)",
              ourSeconds, RowCount(connection, ours).c_str(),
              outcome.result == vaultwick::RestoreResult::Restored ? "" : "  (FAILED)");
  std::printf("%-58s %9.2f %10s%s\n", "vaultwick restore --replace over that copy", replaceSeconds,
              RowCount(connection, ours).c_str(),
              replaced.result == vaultwick::RestoreResult::Restored ? "" : "  (FAILED)");
  std::printf("%-58s %9.2f\n", "ratio restore / peer", ourSeconds / peerSeconds);
  std::printf("(dump %.1f MiB, archive %.1f MiB, peer dump %.1f MiB)\n",
              static_cast<double>(fs::file_size(dump)) / (1 << 20),
              static_cast<double>(fs::file_size(archive)) / (1 << 20),
              static_cast<double>(fs::file_size(peerDump)) / (1 << 20));
  for (const vaultwick::RestoreOutcome* said : {&outcome, &replaced}) {
    if (!said->message.empty()) {
      std::printf("restore: %s\n", said->message.c_str());
    }
  }
  for (const std::string& database : {source, peer, ours}) {
    Run(connection, "DROP DATABASE IF EXISTS " + database);
  }
  mysql_close(connection);
  fs::remove_all(work);
  return 0;
}
