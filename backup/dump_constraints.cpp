#include "backup/dump_constraints_internal.h"

#include "backup/dump_sql_text_internal.h"
#include "server/server_query.h"

namespace vaultwick::dump {
namespace {

void AppendColumnList(std::string& text, const std::vector<std::string>& columns) {
  text += '(';
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) {
      text += ',';
    }
    AppendQuotedIdentifier(text, columns[i]);
  }
  text += ')';
}

void AppendForeignKey(std::string& text, const ForeignKey& key) {
  text += "ADD CONSTRAINT ";
  AppendQuotedIdentifier(text, key.name);
  text += " FOREIGN KEY ";
  AppendColumnList(text, key.columns);
  text += " REFERENCES ";
  if (!key.referencedSchema.empty()) {
    AppendQuotedIdentifier(text, key.referencedSchema);
    text += '.';
  }
  AppendQuotedIdentifier(text, key.referencedTable);
  text += ' ';
  AppendColumnList(text, key.referencedColumns);
  // RESTRICT is what no clause gives; written out, the server records NO ACTION.
  if (key.deleteRule != "RESTRICT") {
    text += " ON DELETE " + key.deleteRule;
  }
  if (key.updateRule != "RESTRICT") {
    text += " ON UPDATE " + key.updateRule;
  }
}

void AppendCheck(std::string& text, const CheckConstraint& check) {
  text += "ADD CONSTRAINT ";
  AppendQuotedIdentifier(text, check.name);
  text += " CHECK (" + check.clause + ")";
}

// Appends "ALTER TABLE `t`\n\tADD ...,\n\tADD ...;\n" for each run of items
// of one table.
template <typename Item, typename AppendItem>
void AppendAlterTables(std::string& text, const std::vector<const Item*>& items,
                       AppendItem appendItem) {
  const std::string* table = nullptr;
  for (const Item* item : items) {
    if (table != nullptr && *table == item->table) {
      text += ",\n\t";
    } else {
      if (table != nullptr) {
        text += ";\n";
      }
      table = &item->table;
      text += "ALTER TABLE ";
      AppendQuotedIdentifier(text, item->table);
      text += "\n\t";
    }
    appendItem(text, *item);
  }
  if (table != nullptr) {
    text += ";\n";
  }
}

}  // namespace

bool ReadForeignKeys(MYSQL* connection, std::vector<ForeignKey>* foreignKeys) {
  foreignKeys->clear();
  const std::string query =
      "SELECT r.TABLE_NAME, r.CONSTRAINT_NAME, IF(k.REFERENCED_TABLE_SCHEMA = "
      "r.CONSTRAINT_SCHEMA, '', k.REFERENCED_TABLE_SCHEMA), r.REFERENCED_TABLE_NAME, "
      "k.COLUMN_NAME, k.REFERENCED_COLUMN_NAME, r.UPDATE_RULE, r.DELETE_RULE "
      "FROM information_schema.REFERENTIAL_CONSTRAINTS r "
      "JOIN information_schema.KEY_COLUMN_USAGE k ON k.CONSTRAINT_SCHEMA = r.CONSTRAINT_SCHEMA "
      "AND k.TABLE_NAME = r.TABLE_NAME AND k.CONSTRAINT_NAME = r.CONSTRAINT_NAME "
      "WHERE r.CONSTRAINT_SCHEMA = DATABASE() "
      "ORDER BY r.TABLE_NAME, r.CONSTRAINT_NAME, k.ORDINAL_POSITION";
  ResultPtr result = StoreQuery(connection, query);
  if (!result) {
    return false;
  }
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    auto field = [&](int i) { return reader.Text(i); };
    if (foreignKeys->empty() || foreignKeys->back().table != field(0) ||
        foreignKeys->back().name != field(1)) {
      ForeignKey key;
      key.table = field(0);
      key.name = field(1);
      key.referencedSchema = field(2);
      key.referencedTable = field(3);
      key.updateRule = field(6);
      key.deleteRule = field(7);
      foreignKeys->push_back(std::move(key));
    }
    foreignKeys->back().columns.push_back(field(4));
    foreignKeys->back().referencedColumns.push_back(field(5));
  }
  return true;
}

bool TurnsChecksOff(MYSQL* connection, const std::vector<CheckConstraint>& checks) {
  return !checks.empty() && IsMariaDb(connection);
}

void AppendConstraints(std::string& text, const std::vector<ForeignKey>& foreignKeys,
                       const std::vector<CheckConstraint>& checks,
                       const std::set<std::string>& written, bool checksOff) {
  std::vector<const ForeignKey*> keys;
  for (const ForeignKey& key : foreignKeys) {
    if (written.count(key.table) != 0) {
      keys.push_back(&key);
    }
  }
  std::vector<const CheckConstraint*> tableChecks;
  for (const CheckConstraint& check : checks) {
    if (!check.columnLevel && written.count(check.table) != 0) {
      tableChecks.push_back(&check);
    }
  }
  if (!keys.empty()) {
    text += "SET foreign_key_checks = 0;\n";
    AppendAlterTables(text, keys, AppendForeignKey);
    text += "SET foreign_key_checks = 1;\n";
  }
  AppendAlterTables(text, tableChecks, AppendCheck);
  if (checksOff) {
    text += "SET check_constraint_checks = 1;\n";
  }
}

}  // namespace vaultwick::dump
