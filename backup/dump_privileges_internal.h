#pragma once

// What the login may see of the triggers and stored routines. The server
// leaves out, without a word, the triggers of tables the login has no
// TRIGGER privilege on and the routines it has no privilege on; the dump
// must then say that it could not read them instead of omitting them
// silently. The grants (SHOW GRANTS, which also lists those of the current
// role) tell.

#include <mysql.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vaultwick::dump {

struct DumpPrivileges {
  bool triggersOfEveryTable = false;
  std::set<std::string> triggerTables;  // tables with a TRIGGER grant of their own
  // Every routine of the database is listed: a global SELECT (which reads
  // their table), or EXECUTE or ALTER ROUTINE on the database or globally.
  bool everyRoutineListed = false;

  bool MayReadTriggersOf(const std::string& table) const {
    return triggersOfEveryTable || triggerTables.count(table) != 0;
  }
};

// Reads the grants of the login and its role. False when SHOW GRANTS fails.
bool ReadPrivileges(MYSQL* connection, std::string_view database, DumpPrivileges* privileges);

// What the lines of SHOW GRANTS allow in `database`.
DumpPrivileges PrivilegesFromGrants(const std::vector<std::string>& grants,
                                    std::string_view database);

}  // namespace vaultwick::dump
