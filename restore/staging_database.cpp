#include "restore/staging_database.h"

#include <random>

#include "restore/dump_statements.h"
#include "server/server_query.h"

namespace vaultwick {

namespace {

// Names have at most this many characters; the staging database's is the
// target's (cut where it must be) and a random part.
constexpr std::size_t kLongestName = 64;
constexpr std::string_view kStagingMark = "_vwstage_";
constexpr std::size_t kRandomDigits = 8;

using Rows = std::vector<std::vector<std::string>>;

// Every row `query` answers, NULL as empty text; nullopt when it failed.
std::optional<Rows> QueryRows(MYSQL* connection, const std::string& query) {
  if (mysql_real_query(connection, query.data(), query.size()) != 0) {
    return std::nullopt;
  }
  MYSQL_RES* result = mysql_store_result(connection);
  if (result == nullptr) {
    return std::nullopt;
  }
  Rows rows;
  const unsigned fields = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    rows.emplace_back();
    for (unsigned i = 0; i < fields; ++i) {
      rows.back().emplace_back(row[i] != nullptr ? std::string(row[i], lengths[i]) : std::string());
    }
  }
  mysql_free_result(result);
  return rows;
}

// The first `characters` characters of UTF-8 `text`.
std::string_view FirstCharacters(std::string_view text, std::size_t characters) {
  std::size_t at = 0;
  for (std::size_t seen = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == characters) {
      break;
    }
  }
  return text.substr(0, at);
}

std::string RandomDigits() {
  std::random_device random;
  std::uniform_int_distribution<int> digit(0, 15);
  std::string digits;
  for (std::size_t i = 0; i < kRandomDigits; ++i) {
    digits += "0123456789abcdef"[digit(random)];
  }
  return digits;
}

std::string Failed(MYSQL* connection, const std::string& step) {
  return step + ": " + mysql_error(connection);
}

// What of `target` is in the way of what `staging` holds, as the statements
// that drop it. Table and trigger names compare exactly (as the server
// keeps them apart, here in letter case too); routine and event names as the
// server compares them, in the columns' own collation.
std::optional<std::vector<std::string>> DropsInTheWay(MYSQL* connection, const std::string& target,
                                                      const std::string& staging) {
  const std::string t = TextLiteral(connection, target);
  const std::string s = TextLiteral(connection, staging);
  const std::string into = QuotedName(target) + ".";
  std::optional<Rows> tables = QueryRows(
      connection,
      "SELECT TABLE_TYPE, TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = " + t +
          " AND BINARY TABLE_NAME IN (SELECT BINARY TABLE_NAME FROM information_schema.TABLES"
          " WHERE TABLE_SCHEMA = " +
          s + ")");
  std::optional<Rows> triggers = QueryRows(
      connection,
      "SELECT 'TRIGGER', TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " +
          t +
          " AND BINARY TRIGGER_NAME IN (SELECT BINARY TRIGGER_NAME FROM "
          "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " +
          s + ")");
  std::optional<Rows> programs = QueryRows(
      connection,
      "SELECT t.ROUTINE_TYPE, t.ROUTINE_NAME FROM information_schema.ROUTINES t JOIN "
      "information_schema.ROUTINES s ON s.ROUTINE_TYPE = t.ROUTINE_TYPE AND s.ROUTINE_NAME = "
      "t.ROUTINE_NAME WHERE t.ROUTINE_SCHEMA = " +
          t + " AND s.ROUTINE_SCHEMA = " + s +
          " UNION ALL SELECT 'EVENT', t.EVENT_NAME FROM information_schema.EVENTS t JOIN "
          "information_schema.EVENTS s ON s.EVENT_NAME = t.EVENT_NAME WHERE t.EVENT_SCHEMA = " +
          t + " AND s.EVENT_SCHEMA = " + s);
  if (!tables || !triggers || !programs) {
    return std::nullopt;
  }
  // Triggers first: one on a table that stays would outlive a dropped table.
  std::vector<std::string> drops;
  std::string views;
  std::string others;
  for (const Rows* rows : {&*triggers, &*tables, &*programs}) {
    for (const std::vector<std::string>& row : *rows) {
      const std::string name = into + QuotedName(row[1]);
      if (rows == &*tables) {
        std::string& list = row[0] == "VIEW" ? views : others;
        list += (list.empty() ? "" : ", ") + name;
      } else {
        // A package's body goes with its package; IF EXISTS lets either come first.
        drops.push_back("DROP " + row[0] + " IF EXISTS " + name);
      }
    }
    if (rows == &*tables) {
      if (!views.empty()) {
        drops.push_back("DROP VIEW IF EXISTS " + views);
      }
      if (!others.empty()) {
        drops.push_back("DROP TABLE IF EXISTS " + others);
      }
    }
  }
  return drops;
}

// The server writes the database it loads into some column defaults (the
// next value of a sequence, as `staging`.`seq`); once moved, those defaults
// must name the target's sequence, which the staging database no longer has.
bool NameTargetInDefaults(MYSQL* connection, const std::string& target, const std::string& staging,
                          std::string* error) {
  const std::string from = QuotedName(staging) + ".";
  const std::string into = QuotedName(target) + ".";
  const std::optional<Rows> defaults = QueryRows(
      connection,
      "SELECT TABLE_NAME, COLUMN_NAME, COLUMN_DEFAULT FROM information_schema.COLUMNS WHERE "
      "TABLE_SCHEMA = " +
          TextLiteral(connection, target) + " AND LOCATE(" + TextLiteral(connection, from) +
          ", COLUMN_DEFAULT) > 0"
          " ORDER BY TABLE_NAME");
  if (!defaults) {
    *error = Failed(connection, "Can't read the column defaults of " + target);
    return false;
  }
  std::string alter;
  for (std::size_t i = 0; i < defaults->size(); ++i) {
    const std::vector<std::string>& column = (*defaults)[i];
    std::string value = column[2];
    for (std::size_t at = 0; (at = value.find(from, at)) != std::string::npos; at += into.size()) {
      value.replace(at, from.size(), into);
    }
    alter += (alter.empty() ? "ALTER TABLE " + into + QuotedName(column[0]) : ",") +
             " ALTER COLUMN " + QuotedName(column[1]) + " SET DEFAULT (" + value + ")";
    if (i + 1 == defaults->size() || (*defaults)[i + 1][0] != column[0]) {
      if (!RunStatement(connection, alter)) {
        *error = Failed(connection, "Can't set the defaults of " + column[0] + " in " + target);
        return false;
      }
      alter.clear();
    }
  }
  return true;
}

}  // namespace

std::optional<StagingDatabase> StagingDatabase::Create(MYSQL* connection, std::string_view target,
                                                       std::string* error) {
  const std::size_t kept = kLongestName - kStagingMark.size() - kRandomDigits;
  StagingDatabase staging(std::string(FirstCharacters(target, kept)) + std::string(kStagingMark) +
                          RandomDigits());
  if (!RunStatement(connection, "CREATE DATABASE " + QuotedName(staging.name_))) {
    *error = Failed(connection, "Can't create the staging database " + staging.name_);
    return std::nullopt;
  }
  return staging;
}

StagingDatabase::Moved StagingDatabase::MoveInto(MYSQL* connection, const std::string& target,
                                                 const std::vector<std::string>& remade,
                                                 std::string* error) const {
  const std::string from = QuotedName(name_) + ".";
  const std::string into = QuotedName(target) + ".";
  const std::string staging = TextLiteral(connection, name_);
  std::optional<Rows> tables =
      QueryRows(connection,
                "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_TYPE <> 'VIEW'"
                " AND TABLE_SCHEMA = " +
                    staging);
  std::optional<Rows> triggers = QueryRows(
      connection,
      "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " + staging);
  const std::optional<std::string> targetFound = QueryValue(
      connection, "SELECT COUNT(*) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = " +
                      TextLiteral(connection, target));
  std::optional<std::vector<std::string>> drops = DropsInTheWay(connection, target, name_);
  if (!tables || !triggers || !targetFound || !drops) {
    *error = Failed(connection, "Can't list what the staging database " + name_ + " holds");
    return Moved::Nothing;
  }
  // A trigger keeps its table from moving to another database; it is made
  // again in the target like the rest.
  for (const std::vector<std::string>& trigger : *triggers) {
    if (!RunStatement(connection, "DROP TRIGGER " + from + QuotedName(trigger[0]))) {
      *error = Failed(connection, "Can't drop trigger " + trigger[0] + " in " + name_);
      return Moved::Nothing;
    }
  }
  const bool created = *targetFound == "0";
  if (created && !RunStatement(connection, "CREATE DATABASE " + QuotedName(target))) {
    *error = Failed(connection, "Can't create database " + target);
    return Moved::Nothing;
  }
  bool changed = false;
  std::string rename;
  for (const std::vector<std::string>& table : *tables) {
    rename += (rename.empty() ? "RENAME TABLE " : ", ") + from + QuotedName(table[0]) + " TO " +
              into + QuotedName(table[0]);
  }
  for (const std::string& drop : *drops) {
    if (!RunStatement(connection, drop)) {
      *error = Failed(connection, drop);
      return changed ? Moved::Partly : Moved::Nothing;
    }
    changed = true;
  }
  if (!rename.empty() && !RunStatement(connection, rename)) {
    *error = Failed(connection, "Can't move the tables into " + target);
    if (created && RunStatement(connection, "DROP DATABASE " + QuotedName(target))) {
      return Moved::Nothing;
    }
    return changed || created ? Moved::Partly : Moved::Nothing;
  }
  if (!NameTargetInDefaults(connection, target, name_, error)) {
    return Moved::Partly;
  }
  if (mysql_select_db(connection, target.c_str()) != 0) {
    *error = Failed(connection, "Can't select database " + target);
    return Moved::Partly;
  }
  for (const std::string& statement : remade) {
    if (!RunStatement(connection, statement)) {
      *error = Failed(connection, statement.substr(0, statement.find('\n')));
      return Moved::Partly;
    }
  }
  return Moved::All;
}

bool StagingDatabase::Drop(MYSQL* connection, std::string* error) const {
  if (RunStatement(connection, "DROP DATABASE IF EXISTS " + QuotedName(name_))) {
    return true;
  }
  *error = mysql_error(connection);
  return false;
}

}  // namespace vaultwick
