#include "platform/settings_store_statement_internal.h"

namespace vaultwick {

StoreStatement::StoreStatement(sqlite3* db, const std::string& path, std::string_view sql)
    : db_(db), path_(path) {
  Check(sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr));
}

StoreStatement& StoreStatement::Bind(int index, std::string_view text) {
  Check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT));
  return *this;
}

StoreStatement& StoreStatement::Bind(int index, std::int64_t value) {
  Check(sqlite3_bind_int64(statement_, index, value));
  return *this;
}

bool StoreStatement::Step() {
  int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) {
    return true;
  }
  if (code != SQLITE_DONE) {
    Check(code);
  }
  return false;
}

std::optional<std::string> StoreStatement::Text(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) {
    return std::nullopt;
  }
  const unsigned char* text = sqlite3_column_text(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

std::optional<std::int64_t> StoreStatement::Integer(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) {
    return std::nullopt;
  }
  return sqlite3_column_int64(statement_, column);
}

void StoreStatement::Check(int code) const {
  if (code != SQLITE_OK) {
    throw StoreError(path_, Describe(db_, code));
  }
}

std::string StoreStatement::Describe(sqlite3* db, int code) {
  switch (code & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return "damaged or not a settings store (left as it is)";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "busy: another program kept it locked for too long";
    case SQLITE_CANTOPEN:
      return "cannot open it";
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return "cannot write to it";
    default:
      return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  }
}

}  // namespace vaultwick
