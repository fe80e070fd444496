#pragma once

// How a table's rows are read and written back. A plain table is read with
// SELECT * and each row written as INSERT INTO `t` VALUES(...). A table with
// columns SELECT * skips (INVISIBLE), columns that must not be written
// (generated ones) or columns the text protocol rounds (FLOAT) names its
// columns instead.

#include <string>
#include <string_view>
#include <vector>

#include "backup/dump_create_table_internal.h"

namespace vaultwick::dump {

struct RowQuery {
  std::string select;      // "SELECT * FROM `t`" or "SELECT `a`,CAST(`f` AS DOUBLE) FROM `t`"
  std::string insertHead;  // "INSERT INTO `t` VALUES(" or "INSERT INTO `t` (`a`,`b`) VALUES("
  // The SELECT names the columns. Columns the login may not read are missing
  // from the column list, so such a SELECT would leave them out unnoticed.
  bool namesColumns = false;
};

RowQuery MakeRowQuery(std::string_view quotedTable, const std::vector<ColumnDefinition>& columns);

}  // namespace vaultwick::dump
