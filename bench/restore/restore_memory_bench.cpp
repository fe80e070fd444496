// Peak memory of `vaultwick restore --jobs N` (the program itself, as a user
// runs it) on the two shapes that strain it: many narrow rows (ten million
// `(id INT PRIMARY KEY, v INT)` rows by default: tiny statements, millions
// of them), and one row holding a large LONGBLOB (192 MiB by default: one
// statement larger than everything else together). The load should hold at
// most the largest statement and 64 MiB beside it, whatever N. Each archive
// is made once; then each N restores it RUNS times into a new database.
//
//   eval "$(scripts/mariadb start /tmp/vw-bench-db)"
//   BUILD/bench/restore/restore_memory_bench BUILD/cli/vaultwick [ROWS [BLOB_MIB [RUNS]]]
//   scripts/mariadb stop /tmp/vw-bench-db
//
// The server's max_allowed_packet must take the blob's statement (the
// private server's does up to 255 MiB).

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/dump_database.h"
#include "bench/backup/bench_server.h"
#include "bench/support/child_programs.h"
#include "zip/zip_single_file.h"

namespace {

using namespace vaultwick::bench;

namespace fs = std::filesystem;

struct Shape {
  std::string label;
  std::string database;
  std::vector<std::string> statements;  // make its one table
};

bool MakeArchive(MYSQL* connection, const Server& server, const Shape& shape, const fs::path& work,
                 std::string* archive) {
  bool ok = Run(connection, "CREATE DATABASE " + shape.database) &&
            Run(connection, "USE " + shape.database);
  for (const std::string& statement : shape.statements) {
    ok = ok && Run(connection, statement);
  }
  const std::string dump = (work / (shape.database + ".sql")).string();
  *archive = (work / (shape.database + ".zip")).string();
  MYSQL* source = ok ? Connect(server, shape.database.c_str()) : nullptr;
  ok = source != nullptr &&
       vaultwick::DumpDatabase(source, dump.c_str(), nullptr).failedQueries == 0 &&
       vaultwick::ZipSingleFile(dump.c_str(), archive->c_str()) == vaultwick::ZipResult::Ok;
  mysql_close(source);
  if (ok) {
    std::printf("%s: dump %.1f MB, archive %.1f MB\n", shape.label.c_str(),
                static_cast<double>(fs::file_size(dump)) / 1e6,
                static_cast<double>(fs::file_size(*archive)) / 1e6);
    std::fflush(stdout);
  }
  fs::remove(dump);
  Run(connection, "DROP DATABASE IF EXISTS " + shape.database);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s VAULTWICK [ROWS [BLOB_MIB [RUNS]]]\n", argv[0]);
    return 2;
  }
  const std::string program = fs::absolute(argv[1]).string();
  const long rows = argc > 2 ? std::atol(argv[2]) : 10000000;
  const long blobMib = argc > 3 ? std::atol(argv[3]) : 192;
  const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  Server server;
  MYSQL* connection = ConnectFromEnvironment(&server);
  if (connection == nullptr) {
    return 2;
  }
  const std::string stem = "vw_restmembench_" + std::to_string(getpid());
  const std::vector<Shape> shapes = {
      {std::to_string(rows) + " narrow rows",
       stem + "_narrow",
       {"CREATE TABLE narrow (id INT PRIMARY KEY, v INT)",
        "INSERT INTO narrow SELECT seq, seq % 1000 FROM seq_1_to_" + std::to_string(rows)}},
      {"one row of a " + std::to_string(blobMib) + " MiB LONGBLOB",
       stem + "_blob",
       {"CREATE TABLE big (id INT PRIMARY KEY, b LONGBLOB)",
        // Hex digits: the dump writes them as they are, one byte each.
        "INSERT INTO big VALUES (1, REPEAT(MD5('vaultwick'), " + std::to_string(blobMib << 15) +
            "))"}},
  };
  char pattern[] = "/tmp/vw-restmembench-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  setenv("VAULTWICK_PASSWORD", server.password.c_str(), 1);
  const int devNull = ::open("/dev/null", O_WRONLY);
  int status = 0;
  for (const Shape& shape : shapes) {
    std::string archive;
    if (!MakeArchive(connection, server, shape, work, &archive)) {
      status = 1;
      continue;
    }
    std::printf("%-36s %6s %s\n", shape.label.c_str(), "jobs", "peak MB (wall s) per run");
    for (const int jobs : {1, 2, 4}) {
      std::printf("%-36s %6d", "", jobs);
      for (int run = 0; run < runs; ++run) {
        const std::string target = shape.database + "_restored";
        const auto start = std::chrono::steady_clock::now();
        const ChildEnd end = Wait(Spawn(
            {program, "restore", "--host", server.host + ":" + server.port, "--login", server.user,
             "--archive", archive, "--database", target, "--jobs", std::to_string(jobs)},
            -1, devNull));
        std::printf("  %7.1f (%.1f)%s", static_cast<double>(end.peakKilobytes) * 1024 / 1e6,
                    Seconds(start), end.ok ? "" : " FAILED");
        std::fflush(stdout);
        status = end.ok ? status : 1;
        Run(connection, "DROP DATABASE IF EXISTS " + target);
      }
      std::printf("\n");
    }
  }
  ::close(devNull);
  mysql_close(connection);
  fs::remove_all(work);
  return status;
}
