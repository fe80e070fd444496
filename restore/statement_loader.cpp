#include "restore/statement_loader.h"

#include "restore/dump_statements.h"
#include "server/server_query.h"

namespace vaultwick {

namespace {

constexpr std::size_t kShownStatement = 200;

}  // namespace

bool StatementLoader::Take(std::string_view statement, std::uint64_t line) {
  const std::optional<RowInsert> insert = SplitRowInsert(statement);
  if (!insert) {
    return SendBatch() && Send(statement, line);
  }
  if (insert->head != batchHead_ || batch_.size() + 1 + insert->row.size() > limits_.batchBytes) {
    if (!SendBatch()) {
      return false;
    }
    batchHead_ = insert->head;
    batch_ = batchHead_;
    table_ = insert->table;
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
  bool loaded = mysql_real_query(connection_, batch_.data(), batch_.size()) == 0;
  if (!loaded && !TableIsTransactional()) {
    // Rows before the refused one may be in the table already: sending them
    // again would load them twice. The batch is reported as a whole.
    Fail(batch_, batchLines_.front());
    failure_.error += " (in the rows of lines " + std::to_string(batchLines_.front()) + " to " +
                      std::to_string(batchLines_.back()) + ")";
  } else if (!loaded) {
    // The refused batch left nothing behind. Row by row from its start: the
    // first row the server refuses is the one to report, the ones before it
    // stay loaded, and a batch refused for its size alone goes through.
    loaded = true;
    std::string single;
    for (std::size_t i = 0; i < batchLines_.size() && loaded; ++i) {
      single = batchHead_;
      single.append(batch_, batchRows_[i].first, batchRows_[i].second);
      loaded = Send(single, batchLines_[i]);
    }
  }
  sinceCommit_ += batch_.size();
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

bool StatementLoader::Send(std::string_view statement, std::uint64_t line) {
  if (mysql_real_query(connection_, statement.data(), statement.size()) != 0) {
    return Fail(statement, line);
  }
  // A statement may answer rows (a SELECT in the dump): read and drop them.
  if (MYSQL_RES* result = mysql_store_result(connection_)) {
    mysql_free_result(result);
  }
  sinceCommit_ += statement.size();
  return true;
}

bool StatementLoader::Fail(std::string_view statement, std::uint64_t line) {
  failure_.line = line;
  failure_.statement = std::string(statement.substr(0, kShownStatement));
  if (statement.size() > kShownStatement) {
    failure_.statement += "...";
  }
  failure_.error = mysql_error(connection_);
  return false;
}

}  // namespace vaultwick
