#pragma once

// One table of the dump: its CREATE TABLE statement, rebuilt from the
// server's metadata, and one INSERT statement per row.

#include <string>
#include <vector>

#include "backup/dump_context_internal.h"
#include "backup/dump_metadata_internal.h"

namespace vaultwick::dump {

// What the dump reads once for all tables.
struct DatabaseFacts {
  std::string name;
  std::string collation;                // the database's default collation
  std::vector<CheckConstraint> checks;  // every CHECK constraint of the database
};

// Writes the table's CREATE TABLE statement and its rows, and tells whether
// the statement was written. A failed query of the table is recorded and the
// dump goes on; false when it must stop.
bool DumpTable(DumpContext& context, const TableStatus& table, const DatabaseFacts& database,
               bool* created);

}  // namespace vaultwick::dump
