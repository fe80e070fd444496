#pragma once

// What a database holds besides its tables, each written from the server's
// own CREATE statement without its DEFINER: sequences (before the tables,
// whose defaults may use them), and after all rows and constraints the stored
// routines, the views (a view after those it uses), the triggers (so that no
// restored row fires one) and the events.

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "backup/dump_context_internal.h"
#include "backup/dump_metadata_internal.h"
#include "backup/dump_privileges_internal.h"

namespace vaultwick::dump {

// Each returns false when the dump must stop; a failed query of one object
// is recorded under its name and the dump goes on, and so are the triggers
// and routines the login's privileges hide.
bool DumpSequence(DumpContext& context, const TableStatus& sequence);
bool DumpRoutines(DumpContext& context, const DumpPrivileges& privileges);
bool DumpViews(DumpContext& context, const std::vector<const TableStatus*>& views);
bool DumpTriggers(DumpContext& context, const std::set<std::string>& written,
                  const DumpPrivileges& privileges);
bool DumpEvents(DumpContext& context);

// The order to create views in: one that names another view (as `name`)
// after it, otherwise the order given. `views` holds (name, statement) pairs;
// the result holds their positions.
std::vector<std::size_t> ViewOrder(const std::vector<std::pair<std::string, std::string>>& views);

}  // namespace vaultwick::dump
