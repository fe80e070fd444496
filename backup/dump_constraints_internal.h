#pragma once

// Foreign keys and tables' own CHECK constraints. They are added after all
// rows, so that no order of tables or rows can break a restore: one ALTER
// TABLE per table for its foreign keys, with foreign_key_checks off (the rows
// come from one consistent snapshot, and the server then needs neither to
// check them nor to copy the table), and one for its CHECK constraints.

#include <mysql.h>

#include <set>
#include <string>
#include <vector>

#include "backup/dump_metadata_internal.h"

namespace vaultwick::dump {

struct ForeignKey {
  std::string table;
  std::string name;
  std::string referencedSchema;  // empty when it is the dumped database
  std::string referencedTable;
  std::vector<std::string> columns;
  std::vector<std::string> referencedColumns;
  std::string updateRule;  // "RESTRICT", "CASCADE", "SET NULL", "NO ACTION", ...
  std::string deleteRule;
};

// Every foreign key of the selected database, by table and name. False when
// the query fails.
bool ReadForeignKeys(MYSQL* connection, std::vector<ForeignKey>* foreignKeys);

// Rows may break their table's CHECK constraints (MariaDB takes them while
// its constraint checks are off), and a column's own constraint is part of
// its CREATE TABLE, so the rows come after it. Such rows load, and the
// constraints are added over them, only with the checks off: from the dump's
// start (kChecksOff) to the last constraint added. Whether the dump of a
// database with `checks` turns them off: only MariaDB has the switch.
inline constexpr char kChecksOff[] = "SET check_constraint_checks = 0;\n";
bool TurnsChecksOff(MYSQL* connection, const std::vector<CheckConstraint>& checks);

// Appends the ALTER TABLE statements for the tables `written` in the dump (a
// table left out takes its constraints with it); then, when `checksOff`,
// turns the constraint checks back on.
void AppendConstraints(std::string& text, const std::vector<ForeignKey>& foreignKeys,
                       const std::vector<CheckConstraint>& checks,
                       const std::set<std::string>& written, bool checksOff);

}  // namespace vaultwick::dump
