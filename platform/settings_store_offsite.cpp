#include "platform/settings_store.h"

// The rows of OffsiteCopies.

#include "platform/settings_store_statement_internal.h"

namespace vaultwick {
namespace {

constexpr const char* kOffsiteColumns =
    "Connection, Remote, File, Size, Modified, Inode, Hash, Encrypted, Verified, Sent, ReadBackAt, "
    "Error";

}  // namespace

std::vector<OffsiteCopyRow> SettingsStore::ReadOffsiteCopies(std::string_view connection,
                                                             std::string_view remote) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement select(db_, path_,
                        std::string("SELECT ") + kOffsiteColumns +
                            " FROM OffsiteCopies WHERE Connection = ?1 AND (?2 = '' OR Remote = ?2)"
                            " ORDER BY File");
  select.Bind(1, connection).Bind(2, remote);
  std::vector<OffsiteCopyRow> rows;
  while (select.Step()) {
    OffsiteCopyRow row;
    row.connection = select.Text(0).value_or("");
    row.remote = select.Text(1).value_or("");
    row.file = select.Text(2).value_or("");
    row.size = select.Integer(3).value_or(0);
    row.modified = select.Integer(4).value_or(0);
    row.inode = select.Integer(5).value_or(0);
    row.hash = select.Text(6).value_or("");
    row.encrypted = select.Integer(7).value_or(0) != 0;
    row.verified = select.Integer(8).value_or(0) != 0;
    row.sent = select.Integer(9).value_or(0) != 0;
    row.readBackAt = select.Integer(10).value_or(0);
    row.error = select.Text(11).value_or("");
    rows.push_back(std::move(row));
  }
  return rows;
}

void SettingsStore::WriteOffsiteCopy(const OffsiteCopyRow& row) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement upsert(db_, path_,
                        std::string("INSERT OR REPLACE INTO OffsiteCopies(") + kOffsiteColumns +
                            ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
  upsert.Bind(1, row.connection).Bind(2, row.remote).Bind(3, row.file).Bind(4, row.size);
  upsert.Bind(5, row.modified).Bind(6, row.inode).Bind(7, row.hash);
  upsert.Bind(8, std::int64_t{row.encrypted}).Bind(9, std::int64_t{row.verified});
  upsert.Bind(10, std::int64_t{row.sent}).Bind(11, row.readBackAt).Bind(12, row.error);
  upsert.Step();
}

void SettingsStore::DeleteOffsiteCopy(const OffsiteCopyRow& row) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StoreStatement remove(
      db_, path_, "DELETE FROM OffsiteCopies WHERE Connection = ?1 AND Remote = ?2 AND File = ?3");
  remove.Bind(1, row.connection).Bind(2, row.remote).Bind(3, row.file);
  remove.Step();
}

}  // namespace vaultwick
