#pragma once

// Rebuilds a table's CREATE TABLE statement from what the server's column
// list (DESCRIBE) and index list (SHOW KEYS) say about it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaultwick::dump {

// One row of DESCRIBE, plus whether its default is an expression.
struct ColumnDefinition {
  std::string name;
  std::string type;                         // written unchanged
  std::string null;                         // "YES" when the column admits NULL
  std::optional<std::string> defaultValue;  // nullopt when the column has none
  bool defaultIsExpression = false;         // e.g. current_timestamp(): written unquoted
  std::string extra;                        // e.g. auto_increment; written unchanged
};

// One row of SHOW KEYS: one column of one index.
struct IndexColumn {
  std::string nonUnique;   // "0" for a unique index
  std::string keyName;     // "PRIMARY" for the primary key
  std::string seqInIndex;  // "1" opens an index
  std::string columnName;
  std::optional<std::string> subPart;  // prefix length when only a prefix is indexed
  std::string indexType;               // "FULLTEXT" for a full-text index
};

// Appends the statement, ending in ";\n":
//
//   CREATE TABLE `t`(
//   \t`col` type[ NOT NULL][ DEFAULT 'literal'| DEFAULT expression] extra,   one per column
//   \tPRIMARY KEY (`a`,`b`(10)),                                           one per index
//   \tUNIQUE KEY `k` (...), \tFULLTEXT `k` (...), \tKEY `k` (...)
//   )[ AUTO_INCREMENT=n];
//
// where the last comma before ")" is dropped. Indexes come in the server's
// order; a row whose Seq_in_index is not "1" continues the index before it.
void AppendCreateTable(std::string& text, std::string_view tableName,
                       const std::optional<std::string>& autoIncrement,
                       const std::vector<ColumnDefinition>& columns,
                       const std::vector<IndexColumn>& indexes);

}  // namespace vaultwick::dump
