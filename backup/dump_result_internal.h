#pragma once

// Reading the server's answers: whole results, fields found by name (servers
// add and move fields), and rows read binary-safe by position.

#include <mysql.h>
#include <strings.h>

#include <memory>
#include <optional>
#include <string>

namespace vaultwick::dump {

struct ResultDeleter {
  void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};
using ResultPtr = std::unique_ptr<MYSQL_RES, ResultDeleter>;

// Runs `query` and fetches its whole answer; nullptr when either failed.
inline ResultPtr StoreQuery(MYSQL* connection, const std::string& query) {
  if (mysql_real_query(connection, query.data(), static_cast<unsigned long>(query.size())) != 0) {
    return nullptr;
  }
  return ResultPtr(mysql_store_result(connection));
}

// Positions of a result's fields, looked up by name.
class FieldPositions {
 public:
  explicit FieldPositions(MYSQL_RES* result)
      : fields_(mysql_fetch_fields(result)), count_(mysql_num_fields(result)) {}

  // -1 when the result has no field of that name.
  int Find(const char* name) const {
    for (unsigned i = 0; i < count_; ++i) {
      if (strcasecmp(fields_[i].name, name) == 0) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

 private:
  const MYSQL_FIELD* fields_;
  unsigned count_;
};

// One fetched row with its lengths, read by field position.
class RowReader {
 public:
  RowReader(MYSQL_RES* result, MYSQL_ROW row) : row_(row), lengths_(mysql_fetch_lengths(result)) {}

  std::optional<std::string> Optional(int position) const {
    if (position < 0 || row_[position] == nullptr) {
      return std::nullopt;
    }
    return std::string(row_[position], lengths_[position]);
  }
  std::string Text(int position) const { return Optional(position).value_or(std::string()); }

 private:
  MYSQL_ROW row_;
  const unsigned long* lengths_;
};

}  // namespace vaultwick::dump
