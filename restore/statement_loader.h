#pragma once

// Sends a dump's statements to the server, fast: consecutive rows of one
// table go as one multi-row INSERT of up to a batch's bytes, and the session
// commits every few megabytes instead of after every row. A batch the server
// refuses is sent again row by row, so that the row it refuses is named with
// its own line, and the rows before it are loaded, as a statement-by-statement
// load would have loaded them.

#include <mysql.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vaultwick {

class StatementLoader {
 public:
  struct Limits {
    std::size_t batchBytes = 1 << 20;
    std::size_t commitBytes = 16 << 20;
  };
  struct Failure {
    std::uint64_t line = 0;
    std::string statement;  // its start, cut to a readable length
    std::string error;      // the server's
  };

  StatementLoader(MYSQL* connection, Limits limits) : connection_(connection), limits_(limits) {}

  // One statement of the dump and the line it starts on. False once a
  // statement failed; failure() tells which.
  bool Take(std::string_view statement, std::uint64_t line);
  // Sends what is still held back and commits.
  bool Finish();

  const Failure& failure() const { return failure_; }
  std::uint64_t rows() const { return rows_; }
  // The quoted name of the table whose rows were taken last.
  const std::string& table() const { return table_; }

 private:
  bool SendBatch();
  // Whether the table of the batch keeps a refused statement from leaving
  // rows behind.
  bool TableIsTransactional();
  bool Send(std::string_view statement, std::uint64_t line);
  bool Fail(std::string_view statement, std::uint64_t line);

  MYSQL* connection_;
  Limits limits_;
  std::string batchHead_;
  std::string batch_;
  std::vector<std::uint64_t> batchLines_;
  std::vector<std::pair<std::size_t, std::size_t>> batchRows_;  // offset, length in batch_
  std::size_t sinceCommit_ = 0;
  std::uint64_t rows_ = 0;
  std::string table_;
  Failure failure_;
};

}  // namespace vaultwick
