#pragma once

// The members of an ENUM or SET column whose character set has texts without
// a utf8mb4 form (big5 0xC840): the server shows each such member as '?' in
// the column's type, so a definition rebuilt from that type would make other
// members, and every value would change with them. The members' own bytes are
// read one member at a time through a variable of the column's type, and the
// column's type and default are written as hex literals of those bytes, which
// the server takes in the column's own character set.

#include <mysql.h>

#include <string_view>
#include <vector>

#include "backup/dump_create_table_internal.h"

namespace vaultwick::dump {

// Rewrites the type of each such column of `quotedTable` ("enum(X'61',X'C840')")
// and its literal default (X'C840'). Run while no row stream is open. A server
// that cannot tell the members (no variables of a column's type before
// MariaDB 10.3) leaves the columns as they were.
void ReadExactMembers(MYSQL* connection, std::string_view quotedTable,
                      std::vector<ColumnDefinition>* columns);

}  // namespace vaultwick::dump
