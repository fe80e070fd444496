#pragma once

// Rebuilds a table's CREATE TABLE statement from what the server's column
// list (DESCRIBE), its information_schema details, its index list
// (SHOW KEYS) and its table status say about it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaultwick::dump {

// One row of DESCRIBE, plus what only information_schema tells.
struct ColumnDefinition {
  std::string name;
  std::string type;                         // as shown, or with its members as bytes
  std::string null;                         // "YES" when the column admits NULL
  std::optional<std::string> defaultValue;  // nullopt when the column has none
  // Written unquoted: an expression (current_timestamp()), a literal of its
  // own syntax (X'C840'), or a BLOB's or TEXT's number.
  bool defaultIsExpression = false;
  // DESCRIBE shows "no default" and "DEFAULT ''" alike on old servers; only
  // information_schema's word that the default is the empty text writes one.
  bool defaultIsEmptyText = false;
  std::string extra;  // e.g. "auto_increment, INVISIBLE"
  // The expression of a generated column (Extra "VIRTUAL GENERATED" or
  // "STORED GENERATED"), as the server prints it; "ROW START" or "ROW END"
  // for the period columns of a system-versioned table.
  std::optional<std::string> generationExpression;
  // Set only when the column's collation differs from its table's default.
  std::string characterSet;
  std::string collation;
  std::string valueCharacterSet;  // the character set of its values, empty for other types
  std::string comment;
  std::string check;  // a column's own CHECK constraint (a JSON column's json_valid)
};

// One row of SHOW KEYS: one column of one index.
struct IndexColumn {
  std::string nonUnique;   // "0" for a unique index
  std::string keyName;     // "PRIMARY" for the primary key
  std::string seqInIndex;  // "1" opens an index
  std::string columnName;
  std::optional<std::string> subPart;  // prefix length when only a prefix is indexed
  std::string indexType;               // "FULLTEXT", "SPATIAL", "HASH", "BTREE"
  std::string collation;               // "D" for a descending column
  std::string comment;                 // the index's comment
  std::string ignored;                 // "YES" for an index the optimizer ignores
};

// What follows the closing parenthesis. Each is written only where it says
// more than a plain CREATE TABLE would.
struct TableOptions {
  std::string engine;     // written unless InnoDB
  std::string collation;  // written unless the database's default
  std::string databaseCollation;
  std::string createOptions;  // "row_format=COMPACT max_rows=100", written as they stand
  std::string comment;
  bool systemVersioning = false;
  std::string partitioning;  // the server's own PARTITION BY clause
};

// What DESCRIBE's Extra says about a column, and what of it goes into the
// column's line: the server lists attributes separated by ", " (a syntax
// error in a column definition) and names generated columns and expression
// defaults with words no CREATE TABLE accepts.
struct ColumnExtra {
  std::string generatedKind;  // "VIRTUAL", "STORED" or "PERSISTENT"; empty for stored data
  bool invisible = false;     // left out of SELECT *: the dump names its columns
  std::string clause;         // the rest, attributes separated by single spaces
};
ColumnExtra ParseColumnExtra(std::string_view extra);

// FLOAT values reach a text result rounded to six digits; such columns are
// read as DOUBLE.
bool IsFloatColumn(const ColumnDefinition& column);

// The period columns of a system-versioned table, which the server fills.
bool IsRowStartOrEnd(const ColumnDefinition& column);

// Appends the statement, ending in ";\n":
//
//   CREATE TABLE `t`(
//   \t`col` type[ CHARACTER SET cs COLLATE co][ GENERATED ALWAYS AS (expr) kind]
//          [ NOT NULL][ DEFAULT 'literal'| DEFAULT expression] extra
//          [ COMMENT 'text'][ CHECK (expr)],                               one per column
//   \tPRIMARY KEY (`a`,`b`(10)),                                           one per index
//   \tUNIQUE KEY `k` (...), \tFULLTEXT `k` (...), \tSPATIAL KEY `k` (...),
//   \tKEY `k` (`c` DESC)[ USING HASH][ COMMENT 'text'][ IGNORED],
//   \tPERIOD FOR SYSTEM_TIME(`start`, `end`),                              versioned tables
//   )[ AUTO_INCREMENT=n][ ENGINE=e][ COLLATE=co][ options][ COMMENT='text']
//   [ WITH SYSTEM VERSIONING][\nPARTITION BY ...];
//
// where the last comma before ")" is dropped. Indexes come in the server's
// order; a row whose Seq_in_index is not "1" continues the index before it.
void AppendCreateTable(std::string& text, std::string_view tableName,
                       const std::optional<std::string>& autoIncrement,
                       const std::vector<ColumnDefinition>& columns,
                       const std::vector<IndexColumn>& indexes, const TableOptions& options = {});

}  // namespace vaultwick::dump
