#include "restore/statement_loader.h"

#include <mysqld_error.h>

#include "restore/dump_statements.h"
#include "server/server_query.h"

namespace vaultwick {

namespace {

constexpr std::size_t kShownStatement = 200;
// The server takes a statement while it and the command byte before it stay
// below max_allowed_packet.
constexpr std::size_t kPacketOverhead = 2;
// Error numbers from here on are the client library's own: the connection
// is gone or broken, and the server can be asked nothing more.
constexpr unsigned kFirstClientError = 2000;

}  // namespace

bool StatementLoader::Take(std::string_view statement, std::uint64_t line) {
  return Take(statement, line, SplitRowInsert(statement));
}

bool StatementLoader::Take(std::string_view statement, std::uint64_t line,
                           const std::optional<RowInsert>& insert) {
  if (!insert) {
    return SendBatch() && Send(statement, line);
  }
  if (insert->head != batchHead_ || batch_.size() + 1 + insert->row.size() > limits_.batchBytes) {
    if (!SendBatch()) {
      return false;
    }
    batchHead_ = insert->head;
    table_ = insert->table;
    if (statement.size() >= limits_.batchBytes) {
      // A row that fills a batch alone goes as the dump wrote it: a large
      // one is not copied.
      single_ = statement;
      batchRows_.emplace_back(insert->head.size(), insert->row.size());
      batchLines_.push_back(line);
      ++rows_;
      const bool sent = SendBatch();
      single_ = {};
      return sent;
    }
    batch_ = batchHead_;
  } else {
    batch_ += ',';
  }
  batchRows_.emplace_back(batch_.size(), insert->row.size());
  batchLines_.push_back(line);
  batch_ += insert->row;
  ++rows_;
  return true;
}

bool StatementLoader::Finish() {
  return SendBatch() && Send("COMMIT", 0);
}

bool StatementLoader::SendBatch() {
  if (batchLines_.empty()) {
    return true;
  }
  // A batch outgrows the limits only with its first row: Fits names that row.
  bool loaded = Fits(Text(), batchLines_.front());
  if (loaded) {
    const bool wasInTransaction = InTransaction();
    loaded = mysql_real_query(connection_, Text().data(), Text().size()) == 0 ||
             BatchRefused(wasInTransaction);
  }
  sinceCommit_ += Text().size();
  batchHead_.clear();
  batch_.clear();
  batchLines_.clear();
  batchRows_.clear();
  if (!loaded) {
    return false;
  }
  if (sinceCommit_ >= limits_.commitBytes) {
    sinceCommit_ = 0;
    return Send("COMMIT", 0);
  }
  return true;
}

bool StatementLoader::BatchRefused(bool wasInTransaction) {
  // Kept before anything else is asked: the next statement clears them.
  const unsigned code = mysql_errno(connection_);
  const std::string error = mysql_error(connection_);
  const std::string lines = " (in the rows of lines " + std::to_string(batchLines_.front()) +
                            " to " + std::to_string(batchLines_.back()) + ")";
  if (code >= kFirstClientError) {
    return Fail(Text(), batchLines_.front(), error + lines);
  }
  // Which row the server refused (0: none in particular). Servers that
  // cannot tell refuse the question itself; "DO 0" then stands in for it, as
  // its answer, like this one's, carries the session's transaction state.
  std::uint64_t row = 0;
  bool answered =
      RunStatement(connection_, "GET DIAGNOSTICS CONDITION 1 @vaultwick_row = ROW_NUMBER");
  if (answered) {
    const std::optional<std::string> number = QueryValue(connection_, "SELECT @vaultwick_row");
    answered = number.has_value();
    row = answered ? std::stoull(*number) : 0;
  } else {
    answered = RunStatement(connection_, "DO 0");
  }
  if (code == ER_LOCK_DEADLOCK || (answered && wasInTransaction && !InTransaction())) {
    return Fail(Text(), batchLines_.front(),
                error + lines +
                    "; the server rolled back the transaction, and with it the rows loaded since "
                    "the last commit");
  }
  if (row >= 1 && row <= batchLines_.size()) {
    const auto& [offset, length] = batchRows_[row - 1];
    return Fail(batchHead_ + std::string(Text().substr(offset, length)), batchLines_[row - 1],
                error);
  }
  if (!TableIsTransactional()) {
    // Rows before the refused one may be in the table already: sending them
    // again would load them twice. The batch is reported as a whole.
    return Fail(Text(), batchLines_.front(), error + lines);
  }
  // The refused batch left nothing behind. Row by row from its start: the
  // first row the server refuses is the one to report, the ones before it
  // stay loaded, and a batch refused for its size alone goes through.
  std::string single;
  for (std::size_t i = 0; i < batchLines_.size(); ++i) {
    single = batchHead_;
    single.append(Text().substr(batchRows_[i].first, batchRows_[i].second));
    if (!Send(single, batchLines_[i])) {
      return false;
    }
  }
  return true;
}

bool StatementLoader::TableIsTransactional() {
  // The quoted name as the dump wrote it: `a``b` is the table a`b.
  std::string name;
  for (std::size_t i = 1; i + 1 < table_.size(); ++i) {
    name += table_[i];
    if (table_[i] == '`') {
      ++i;
    }
  }
  const std::string query =
      "SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES e"
      " ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = DATABASE() AND t.TABLE_NAME = " +
      TextLiteral(connection_, name);
  return QueryValue(connection_, query) == "YES";
}

// As the server's last answer left it.
bool StatementLoader::InTransaction() const {
  return (connection_->server_status & SERVER_STATUS_IN_TRANS) != 0;
}

bool StatementLoader::Send(std::string_view statement, std::uint64_t line) {
  if (!Fits(statement, line)) {
    return false;
  }
  if (mysql_real_query(connection_, statement.data(), statement.size()) != 0) {
    return Fail(statement, line, mysql_error(connection_));
  }
  // A statement may answer rows (a SELECT in the dump): read and drop them.
  if (MYSQL_RES* result = mysql_store_result(connection_)) {
    mysql_free_result(result);
  }
  sinceCommit_ += statement.size();
  return true;
}

bool StatementLoader::Fits(std::string_view statement, std::uint64_t line) {
  if (limits_.packetBytes == 0 || statement.size() + kPacketOverhead <= limits_.packetBytes) {
    return true;
  }
  return Fail(statement, line,
              "the statement is " + std::to_string(statement.size()) +
                  " bytes, more than the server takes (its max_allowed_packet is " +
                  std::to_string(limits_.packetBytes) + " bytes)");
}

bool StatementLoader::Fail(std::string_view statement, std::uint64_t line, std::string error) {
  failure_.line = line;
  failure_.statement = std::string(statement.substr(0, kShownStatement));
  if (statement.size() > kShownStatement) {
    failure_.statement += "...";
  }
  failure_.error = std::move(error);
  return false;
}

}  // namespace vaultwick
