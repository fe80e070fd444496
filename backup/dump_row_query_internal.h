#pragma once

// How a table's rows are read and written back. A plain table is read with
// SELECT * and each row written as INSERT INTO `t` VALUES(...). A table with
// columns SELECT * skips (INVISIBLE), columns that must not be written
// (generated ones), columns the text protocol rounds (FLOAT) or columns whose
// bytes utf8mb4 cannot carry names its columns instead; a system-versioned
// table is read with its history and its rows' periods.

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
  // For each value of a row: written as a hex literal of its own bytes.
  std::vector<bool> hexValues;
  // Statements that go before and after the table's rows.
  std::string beforeRows;
  std::string afterRows;
};

// `systemVersioned`: the table keeps history, which is read and written back
// where its periods are times (a period of transaction ids cannot be written).
RowQuery MakeRowQuery(std::string_view quotedTable, const std::vector<ColumnDefinition>& columns,
                      bool systemVersioned = false);

// True when a value of `characterSet` may hold bytes that have no utf8mb4
// form (big5, gbk, sjis, ujis and most single-byte sets): read as binary and
// written as a hex literal, which the server stores unchanged.
bool NeedsHexValues(std::string_view characterSet);

}  // namespace vaultwick::dump
