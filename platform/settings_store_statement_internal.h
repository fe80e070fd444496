#pragma once

// One prepared SQLite statement of the settings store, finalised on every way
// out. Any failure throws SettingsStoreError naming the store's file.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/settings_store_error.h"

namespace vaultwick {

// A column name as SQL writes it: "Name".
inline std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  quoted.append(name);
  quoted += '"';
  return quoted;
}

class StoreStatement {
 public:
  // `path` names the store in the error of a failure; it is kept by
  // reference, so it must outlive the statement (the store's own path does).
  StoreStatement(sqlite3* db, const std::string& path, std::string_view sql);
  ~StoreStatement() { sqlite3_finalize(statement_); }
  StoreStatement(const StoreStatement&) = delete;
  StoreStatement& operator=(const StoreStatement&) = delete;

  // Parameters count from 1, as in the SQL text's ?1, ?2, ...
  StoreStatement& Bind(int index, std::string_view text);
  StoreStatement& Bind(int index, std::int64_t value);

  // True when a row is ready, false when the statement has finished.
  bool Step();

  // Columns count from 0. NULL reads as nullopt.
  std::optional<std::string> Text(int column) const;
  std::optional<std::int64_t> Integer(int column) const;

  // The text of a store failure with SQLite's result code `code`.
  static std::string Describe(sqlite3* db, int code);

 private:
  void Check(int code) const;

  sqlite3* db_;
  const std::string& path_;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace vaultwick
