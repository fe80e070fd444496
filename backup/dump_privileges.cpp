#include "backup/dump_privileges_internal.h"

#include "backup/dump_result_internal.h"
#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {
namespace {

// The privileges of a grant, split at the commas outside column lists
// ("SELECT (`a`, `b`), TRIGGER"). A privilege with a column list is a
// column's, not the table's, and is left out.
std::vector<std::string_view> PrivilegeNames(std::string_view list) {
  std::vector<std::string_view> names;
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= list.size(); ++i) {
    if (i == list.size() || (list[i] == ',' && depth == 0)) {
      std::string_view name = Trimmed(list.substr(start, i - start));
      if (name.find('(') == std::string_view::npos) {
        names.push_back(name);
      }
      start = i + 1;
    } else if (list[i] == '(') {
      ++depth;
    } else if (list[i] == ')') {
      --depth;
    }
  }
  return names;
}

// Reads a name between backticks (a doubled backtick is one) or a bare `*`
// at `at`, and moves `at` past it.
std::string ReadName(std::string_view text, std::size_t& at) {
  std::string name;
  if (at < text.size() && text[at] == '*') {
    ++at;
    return "*";
  }
  if (at >= text.size() || text[at] != '`') {
    return name;
  }
  for (++at; at < text.size(); ++at) {
    if (text[at] == '`') {
      if (at + 1 < text.size() && text[at + 1] == '`') {
        ++at;
      } else {
        ++at;
        break;
      }
    }
    name += text[at];
  }
  return name;
}

// A database name of a grant is a LIKE pattern: % and _ match, a backslash
// takes the next character as it is.
bool MatchesPattern(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) {
    return name.empty();
  }
  if (pattern.front() == '%') {
    for (std::size_t skip = 0; skip <= name.size(); ++skip) {
      if (MatchesPattern(pattern.substr(1), name.substr(skip))) {
        return true;
      }
    }
    return false;
  }
  if (name.empty()) {
    return false;
  }
  if (pattern.front() == '\\' && pattern.size() > 1) {
    return pattern[1] == name.front() && MatchesPattern(pattern.substr(2), name.substr(1));
  }
  return (pattern.front() == '_' || pattern.front() == name.front()) &&
         MatchesPattern(pattern.substr(1), name.substr(1));
}

bool Is(std::string_view privilege, std::string_view name) {
  return EqualsNoCase(privilege, name);
}

}  // namespace

DumpPrivileges PrivilegesFromGrants(const std::vector<std::string>& grants,
                                    std::string_view database) {
  DumpPrivileges privileges;
  for (std::string_view grant : grants) {
    constexpr std::string_view kGrant = "GRANT ";
    const std::size_t on = grant.find(" ON ");
    if (grant.substr(0, kGrant.size()) != kGrant || on == std::string_view::npos) {
      continue;  // a role granted, or something else
    }
    std::size_t at = on + 4;
    // Grants on one routine or proxy grants say nothing of the database.
    if (grant.compare(at, 1, "*") != 0 && grant.compare(at, 1, "`") != 0) {
      continue;
    }
    const std::string schema = ReadName(grant, at);
    if (at >= grant.size() || grant[at] != '.') {
      continue;
    }
    ++at;
    const std::string table = ReadName(grant, at);
    const bool global = schema == "*";
    // Reading the routines' own table shows every routine.
    if (schema == "mysql" && (table == "*" || table == "proc") && grant.find("SELECT") < on) {
      privileges.everyRoutineListed = true;
    }
    if (!global && !MatchesPattern(schema, database)) {
      continue;
    }
    for (std::string_view privilege : PrivilegeNames(grant.substr(6, on - 6))) {
      const bool all = Is(privilege, "ALL PRIVILEGES") || Is(privilege, "ALL");
      if (all || Is(privilege, "TRIGGER")) {
        if (table == "*") {
          privileges.triggersOfEveryTable = true;
        } else {
          privileges.triggerTables.insert(table);
        }
      }
      if (table == "*" && (all || Is(privilege, "EXECUTE") || Is(privilege, "ALTER ROUTINE") ||
                           (global && Is(privilege, "SELECT")))) {
        privileges.everyRoutineListed = true;
      }
    }
  }
  return privileges;
}

bool ReadPrivileges(MYSQL* connection, std::string_view database, DumpPrivileges* privileges) {
  ResultPtr result = StoreQuery(connection, "SHOW GRANTS");
  if (!result) {
    return false;
  }
  std::vector<std::string> grants;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    grants.push_back(RowReader(result.get(), row).Text(0));
  }
  *privileges = PrivilegesFromGrants(grants, database);
  return true;
}

}  // namespace vaultwick::dump
