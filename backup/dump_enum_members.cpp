#include "backup/dump_enum_members_internal.h"

#include <algorithm>
#include <optional>
#include <string>

#include "backup/dump_metadata_internal.h"
#include "backup/dump_row_query_internal.h"
#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {
namespace {

struct ShownMembers {
  std::string kind;                  // "enum" or "set", as the type spells it
  std::vector<std::string> members;  // unescaped, each lost character a '?'
};

// The members of a type "enum('a','b''c')" or "set(...)" as the server shows
// them; nullopt for any other type.
std::optional<ShownMembers> ParseMembers(std::string_view type) {
  const std::size_t open = type.find('(');
  if (open == std::string_view::npos || type.back() != ')') {
    return std::nullopt;
  }
  ShownMembers shown{std::string(type.substr(0, open)), {}};
  if (!EqualsNoCase(shown.kind, "enum") && !EqualsNoCase(shown.kind, "set")) {
    return std::nullopt;
  }
  std::size_t at = open + 1;
  while (at < type.size() && type[at] == '\'') {
    // A member ends at a quote that is neither escaped nor doubled.
    std::size_t end = at + 1;
    while (end < type.size()) {
      if (type[end] == '\\') {
        end += 2;
      } else if (type[end] != '\'') {
        ++end;
      } else if (end + 1 < type.size() && type[end + 1] == '\'') {
        end += 2;
      } else {
        break;
      }
    }
    std::optional<std::string> member = UnquotedLiteral(type.substr(at, end + 1 - at));
    if (!member) {
      return std::nullopt;
    }
    shown.members.push_back(std::move(*member));
    at = end + 1;
    if (at < type.size() && type[at] == ',') {
      ++at;
    }
  }
  if (at + 1 != type.size()) {
    return std::nullopt;
  }
  return shown;
}

// The first field of the first row of `query`'s answer.
std::optional<std::string> QueryText(MYSQL* connection, const std::string& query) {
  ResultPtr result = StoreQuery(connection, query);
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr) {
    return std::nullopt;
  }
  return RowReader(result.get(), row).Optional(0);
}

// Each member's bytes in hex, in the type's order: a variable of the column's
// own type takes each member's number (a SET's members are bits) and gives
// back its text. nullopt when the server cannot say.
std::optional<std::vector<std::string>> MemberBytes(MYSQL* connection,
                                                    const std::string& quotedColumn, bool isSet,
                                                    std::size_t count) {
  const std::string block =
      "BEGIN NOT ATOMIC DECLARE v TYPE OF " + quotedColumn +
      "; DECLARE i INT UNSIGNED DEFAULT 0; DECLARE r LONGTEXT DEFAULT '';"
      " WHILE i < " +
      std::to_string(count) + " DO SET v = " + (isSet ? "1 << i" : "i + 1") +
      "; SET r = CONCAT(r, HEX(CAST(v AS BINARY)), ','); SET i = i + 1; END WHILE;"
      " SET @vaultwick_members = r; END";
  if (mysql_real_query(connection, block.data(), static_cast<unsigned long>(block.size())) != 0) {
    return std::nullopt;
  }
  const std::optional<std::string> listed = QueryText(connection, "SELECT @vaultwick_members");
  if (!listed) {
    return std::nullopt;
  }
  std::vector<std::string> bytes;
  for (std::size_t start = 0, comma; (comma = listed->find(',', start)) != std::string::npos;
       start = comma + 1) {
    bytes.push_back(listed->substr(start, comma - start));
  }
  if (bytes.size() != count) {
    return std::nullopt;
  }
  return bytes;
}

// The default's bytes in hex. DEFAULT() tells them, but needs a row or a
// column that admits NULL; else the default's shown text is matched with the
// members' (the first of several members that show alike).
std::optional<std::string> DefaultBytes(MYSQL* connection, std::string_view quotedTable,
                                        const std::string& quotedColumn, const ShownMembers& shown,
                                        const std::vector<std::string>& bytes,
                                        const std::string& shownDefault) {
  if (std::optional<std::string> told =
          QueryText(connection, "SELECT HEX(CAST(DEFAULT(" + quotedColumn +
                                    ") AS BINARY)) FROM (SELECT 1) AS `vaultwick_row` LEFT JOIN " +
                                    std::string(quotedTable) + " ON 1 LIMIT 1")) {
    return told;
  }
  const bool isSet = EqualsNoCase(shown.kind, "set");
  std::string hex;
  std::size_t start = 0;
  while (start < shownDefault.size()) {
    const std::size_t end =
        isSet ? std::min(shownDefault.find(',', start), shownDefault.size()) : shownDefault.size();
    const std::string part = shownDefault.substr(start, end - start);
    std::size_t member = 0;
    while (member < shown.members.size() && shown.members[member] != part) {
      ++member;
    }
    if (member == shown.members.size()) {
      return std::nullopt;
    }
    hex += (start == 0 ? "" : "2C") + bytes[member];
    start = end + 1;
  }
  return hex;
}

bool MayHaveLostMembers(const ColumnDefinition& column) {
  return NeedsHexValues(column.valueCharacterSet) && column.type.find('?') != std::string::npos;
}

}  // namespace

void ReadExactMembers(MYSQL* connection, std::string_view quotedTable,
                      std::vector<ColumnDefinition>* columns) {
  for (ColumnDefinition& column : *columns) {
    if (!MayHaveLostMembers(column)) {
      continue;
    }
    const std::optional<ShownMembers> shown = ParseMembers(column.type);
    if (!shown) {
      continue;
    }
    const std::string quotedColumn = std::string(quotedTable) + "." + QuotedIdentifier(column.name);
    const std::optional<std::vector<std::string>> bytes = MemberBytes(
        connection, quotedColumn, EqualsNoCase(shown->kind, "set"), shown->members.size());
    if (!bytes) {
      continue;
    }
    const bool writesDefault = column.defaultValue && !column.defaultIsExpression &&
                               (!column.defaultValue->empty() || column.defaultIsEmptyText);
    std::optional<std::string> defaultBytes;
    if (writesDefault) {
      defaultBytes = DefaultBytes(connection, quotedTable, QuotedIdentifier(column.name), *shown,
                                  *bytes, *column.defaultValue);
      if (!defaultBytes) {
        continue;
      }
      column.defaultValue = "X'" + *defaultBytes + "'";
      column.defaultIsExpression = true;
    }
    column.type = shown->kind + "(";
    for (std::size_t i = 0; i < bytes->size(); ++i) {
      column.type += (i == 0 ? "X'" : ",X'") + (*bytes)[i] + "'";
    }
    column.type += ")";
  }
}

}  // namespace vaultwick::dump
