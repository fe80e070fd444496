#include "backup/dump_stored_objects_internal.h"

#include "backup/dump_sql_text_internal.h"

namespace vaultwick::dump {
namespace {

// The named fields of the single row a SHOW CREATE statement answers, or
// nullopt when it failed. A field the login may not see is empty.
std::optional<std::vector<std::string>> ShowCreate(DumpContext& context, const std::string& query,
                                                   std::initializer_list<const char*> names) {
  context.Show(query);
  ResultPtr result = StoreQuery(context.connection(), query);
  if (!result) {
    return std::nullopt;
  }
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr) {
    return std::nullopt;
  }
  FieldPositions fields(result.get());
  RowReader reader(result.get(), row);
  std::vector<std::string> values;
  for (const char* name : names) {
    values.push_back(reader.Text(fields.Find(name)));
  }
  return values;
}

// Each routine, trigger and event keeps the SQL mode it was created under
// (also how its text is parsed); `last` is the mode the restore runs in.
void AppendSqlMode(std::string& text, const std::string& mode, std::string* last) {
  if (mode == *last) {
    return;
  }
  text += "SET sql_mode = ";
  AppendQuotedText(text, mode);
  text += ";\n";
  *last = mode;
}

// The field of SHOW CREATE <type> that holds a routine's statement.
const char* StatementFieldOf(const std::string& type) {
  static constexpr std::pair<const char*, const char*> kFields[] = {
      {"FUNCTION", "Create Function"},
      {"PROCEDURE", "Create Procedure"},
      {"PACKAGE", "Create Package"},
      {"PACKAGE BODY", "Create Package Body"}};
  for (const auto& [routineType, field] : kFields) {
    if (type == routineType) {
      return field;
    }
  }
  return nullptr;
}

// Back to the dump's own mode after a run of programs that set theirs.
void RestoreSqlMode(std::string& text, std::string& mode) {
  AppendSqlMode(text, std::string(kSqlMode), &mode);
}

// Writes one routine, trigger or event from its SHOW CREATE answer: mode,
// statement. An empty statement means the login may not read it.
void AppendStoredProgram(DumpContext& context, const std::string& name,
                         const std::vector<std::string>& answer, std::string* mode) {
  if (answer[1].empty()) {
    context.ObjectFailed(name, "the login may not read the definition of " + name);
    return;
  }
  AppendSqlMode(context.text(), answer[0], mode);
  AppendDelimitedStatement(context.text(), WithoutDefiner(answer[1]));
}

// Asks `query`, the SHOW CREATE of the routine or trigger `name`, for its
// mode and its statement (in the field `statementField`) and writes it. A
// failed query is recorded under `name`; false when the dump must stop.
bool DumpStoredProgram(DumpContext& context, const std::string& name, const std::string& query,
                       const char* statementField, std::string* mode) {
  auto answer = ShowCreate(context, query, {"sql_mode", statementField});
  if (!answer) {
    return !context.QueryFailed(&name);
  }
  AppendStoredProgram(context, name, *answer, mode);
  return true;
}

// The names a listing query answers in its first field (and the second, when
// it has one), or nullopt when it failed.
std::optional<std::vector<std::pair<std::string, std::string>>> List(DumpContext& context,
                                                                     const std::string& query) {
  ResultPtr result = StoreQuery(context.connection(), query);
  if (!result) {
    return std::nullopt;
  }
  const bool twoFields = mysql_num_fields(result.get()) > 1;
  std::vector<std::pair<std::string, std::string>> names;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    RowReader reader(result.get(), row);
    names.emplace_back(reader.Text(0), twoFields ? reader.Text(1) : std::string());
  }
  return names;
}

}  // namespace

std::vector<std::size_t> ViewOrder(const std::vector<std::pair<std::string, std::string>>& views) {
  std::vector<std::size_t> order;
  std::vector<bool> placed(views.size(), false);
  auto uses = [&](std::size_t user, std::size_t used) {
    return user != used &&
           views[user].second.find(QuotedIdentifier(views[used].first)) != std::string::npos;
  };
  while (order.size() < views.size()) {
    bool progress = false;
    for (std::size_t i = 0; i < views.size(); ++i) {
      if (placed[i]) {
        continue;
      }
      bool ready = true;
      for (std::size_t j = 0; j < views.size() && ready; ++j) {
        ready = placed[j] || !uses(i, j);
      }
      if (ready) {
        order.push_back(i);
        placed[i] = progress = true;
      }
    }
    // A name that only looks like a use (a column called like a view) may
    // close a circle; the rest then keeps the order given.
    for (std::size_t i = 0; !progress && i < views.size(); ++i) {
      if (!placed[i]) {
        order.push_back(i);
        placed[i] = progress = true;
      }
    }
  }
  return order;
}

bool DumpSequence(DumpContext& context, const TableStatus& sequence) {
  const std::string quotedName = QuotedIdentifier(sequence.name);
  auto statement = ShowCreate(context, "SHOW CREATE SEQUENCE " + quotedName, {"Create Table"});
  if (!statement) {
    return !context.QueryFailed(&sequence.name);
  }
  // The next value it hands out, so that no value is handed out twice.
  auto state = ShowCreate(context, "SELECT next_not_cached_value, cycle_count FROM " + quotedName,
                          {"next_not_cached_value", "cycle_count"});
  if (!state) {
    return !context.QueryFailed(&sequence.name);
  }
  std::string& text = context.text();
  text += (*statement)[0] + ";\n";
  text += "DO SETVAL(" + quotedName + ", " + (*state)[0] + ", 0, " + (*state)[1] + ");\n";
  return true;
}

bool DumpRoutines(DumpContext& context, const DumpPrivileges& privileges) {
  // A package's body after the package, both after the routines they may call.
  auto routines = List(context,
                       "SELECT ROUTINE_NAME, ROUTINE_TYPE FROM information_schema.ROUTINES WHERE "
                       "ROUTINE_SCHEMA = DATABASE() ORDER BY FIELD(ROUTINE_TYPE, 'FUNCTION', "
                       "'PROCEDURE', 'PACKAGE', 'PACKAGE BODY'), ROUTINE_NAME");
  static const std::string kRoutines = "stored routines";
  if (!routines) {
    return !context.QueryFailed(&kRoutines);
  }
  if (!privileges.everyRoutineListed) {
    context.ObjectFailed(kRoutines,
                         "the login may not list every stored routine (it needs EXECUTE on the "
                         "database, or SELECT on mysql.proc)");
  }
  std::string mode(kSqlMode);
  for (const auto& [name, type] : *routines) {
    const char* field = StatementFieldOf(type);
    if (field == nullptr) {
      context.ObjectFailed(name, "the dump does not know routines of type " + type);
      continue;
    }
    if (!DumpStoredProgram(context, name, "SHOW CREATE " + type + " " + QuotedIdentifier(name),
                           field, &mode)) {
      return false;
    }
  }
  RestoreSqlMode(context.text(), mode);
  return true;
}

bool DumpViews(DumpContext& context, const std::vector<const TableStatus*>& views) {
  std::vector<std::pair<std::string, std::string>> statements;
  for (const TableStatus* view : views) {
    const std::string quotedName = QuotedIdentifier(view->name);
    // A view on a dropped table or column still has a definition, but no
    // server would create it again: it fails here, as it does for a reader.
    auto statement = CanSelectAll(context.connection(), quotedName)
                         ? ShowCreate(context, "SHOW CREATE VIEW " + quotedName, {"Create View"})
                         : std::nullopt;
    if (!statement) {
      if (context.QueryFailed(&view->name)) {
        return false;
      }
      continue;
    }
    statements.emplace_back(view->name, WithoutDefiner((*statement)[0]));
  }
  for (std::size_t i : ViewOrder(statements)) {
    context.text() += statements[i].second + ";\n";
  }
  return true;
}

bool DumpTriggers(DumpContext& context, const std::set<std::string>& written,
                  const DumpPrivileges& privileges) {
  auto triggers = List(context,
                       "SELECT TRIGGER_NAME, EVENT_OBJECT_TABLE FROM information_schema.TRIGGERS "
                       "WHERE TRIGGER_SCHEMA = DATABASE() ORDER BY EVENT_OBJECT_TABLE, "
                       "ACTION_TIMING, EVENT_MANIPULATION, ACTION_ORDER");
  static const std::string kTriggers = "triggers";
  if (!triggers) {
    return !context.QueryFailed(&kTriggers);
  }
  for (const std::string& table : written) {
    if (!privileges.MayReadTriggersOf(table)) {
      context.ObjectFailed(table, "the login may not read the triggers of " +
                                      QuotedIdentifier(table) + " (no TRIGGER privilege)");
    }
  }
  std::string mode(kSqlMode);
  for (const auto& [name, table] : *triggers) {
    // A trigger on a table left out would stop the restore.
    if (written.count(table) == 0) {
      continue;
    }
    if (!DumpStoredProgram(context, name, "SHOW CREATE TRIGGER " + QuotedIdentifier(name),
                           "SQL Original Statement", &mode)) {
      return false;
    }
  }
  RestoreSqlMode(context.text(), mode);
  return true;
}

bool DumpEvents(DumpContext& context) {
  // Without the EVENT privilege the list fails instead of coming back empty.
  ResultPtr result = StoreQuery(context.connection(), "SHOW EVENTS");
  static const std::string kEvents = "events";
  if (!result) {
    return !context.QueryFailed(&kEvents);
  }
  std::vector<std::string> names;
  const int nameField = FieldPositions(result.get()).Find("Name");
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    names.push_back(RowReader(result.get(), row).Text(nameField));
  }

  std::string mode(kSqlMode);
  std::string zone = "+00:00";
  for (const std::string& name : names) {
    auto answer = ShowCreate(context, "SHOW CREATE EVENT " + QuotedIdentifier(name),
                             {"sql_mode", "Create Event", "time_zone"});
    if (!answer) {
      if (context.QueryFailed(&name)) {
        return false;
      }
      continue;
    }
    // Its times are in its own zone, and it keeps that zone.
    if ((*answer)[2] != zone && !(*answer)[1].empty()) {
      zone = (*answer)[2];
      context.text() += "SET time_zone = '" + zone + "';\n";
    }
    AppendStoredProgram(context, name, *answer, &mode);
  }
  if (zone != "+00:00") {
    context.text() += "SET time_zone = '+00:00';\n";
  }
  RestoreSqlMode(context.text(), mode);
  return true;
}

}  // namespace vaultwick::dump
