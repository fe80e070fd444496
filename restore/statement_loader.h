#pragma once

// Sends a dump's statements to the server, fast: consecutive rows of one
// table go as one multi-row INSERT of up to a batch's bytes, and the session
// commits every few megabytes instead of after every row.
//
// A batch the server refuses is named by the row it refused, with the
// server's own text. Where the server tells which row of the batch that was,
// that row is named; a batch of a transactional table (whose refusal left
// none of its rows behind) is otherwise sent again row by row, so that the
// refused row fails on its own. A refusal that rolled back the whole
// transaction (a deadlock, say) took the rows since the last commit with it:
// it always fails the load, so that no lost row goes unnoticed.

#include <mysql.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "restore/dump_statements.h"

namespace vaultwick {

class StatementLoader {
 public:
  struct Limits {
    std::size_t batchBytes = 1 << 20;
    std::size_t commitBytes = 16 << 20;
    // The server's max_allowed_packet; 0 when not known. A statement that
    // does not fit is refused here, before the server would drop the
    // connection over it.
    std::size_t packetBytes = 0;
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
  // The same, with the statement already read as rows by SplitRowInsert:
  // what that said of it, its views into `statement`.
  bool Take(std::string_view statement, std::uint64_t line, const std::optional<RowInsert>& insert);
  // Sends what is still held back and commits.
  bool Finish();

  const Failure& failure() const { return failure_; }
  std::uint64_t rows() const { return rows_; }
  // The quoted name of the table whose rows were taken last.
  const std::string& table() const { return table_; }

 private:
  bool SendBatch();
  // What SendBatch sends: the batch, or the statement of a row sent alone.
  std::string_view Text() const { return single_.empty() ? std::string_view(batch_) : single_; }
  // Names the row of a refused batch (see above); always false.
  bool BatchRefused(bool wasInTransaction);
  // Whether the table of the batch keeps a refused statement from leaving
  // rows behind.
  bool TableIsTransactional();
  bool InTransaction() const;
  bool Send(std::string_view statement, std::uint64_t line);
  bool Fits(std::string_view statement, std::uint64_t line);
  bool Fail(std::string_view statement, std::uint64_t line, std::string error);

  MYSQL* connection_;
  Limits limits_;
  std::string batchHead_;
  std::string batch_;
  std::string_view single_;  // a row sent alone, during Take
  std::vector<std::uint64_t> batchLines_;
  std::vector<std::pair<std::size_t, std::size_t>> batchRows_;  // offset, length in batch_
  std::size_t sinceCommit_ = 0;
  std::uint64_t rows_ = 0;
  std::string table_;
  Failure failure_;
};

}  // namespace vaultwick
