#pragma once

// Hostile databases for round trips (dump and load, backup and restore): SQL
// that builds them in an empty database, each part meant to catch a way a
// dump or a load could change what it carries.

#include <string>

namespace vaultwick::test {

// Every common column type at its limits and with awkward values (every byte
// value, quotes, backslashes, line ends, text beyond the BMP), keys of every
// kind, and awkward table and column names: four tables. Needs a session
// with time_zone '+00:00' and sql_mode 'STRICT_ALL_TABLES'.
std::string EveryTypeSchema();

// Values and columns that once came back different, or not at all: columns
// SELECT * skips, FLOAT digits, TIMESTAMPs read in one zone and loaded in
// another, values a strict session refuses, generated columns, collations
// that differ from the table's, quoted BLOB and TEXT defaults: seven tables.
// Sets its own session zone and mode.
extern const char kHostileValues[];

// Every kind of object and attribute: the database's own character set and
// comment, table options of several engines, spatial, descending, ignored
// and long unique keys, partitions, a sequence, foreign keys and CHECK
// constraints (and rows that break them), views over views, text, ENUM and
// SET members in character sets without a utf8mb4 form, BLOB and TEXT
// defaults that are numbers, and system-versioned tables with history.
extern const char kEveryObjectSchema[];

// What of kEveryObjectSchema information_schema and CHECKSUM TABLE do not
// show: the rows of its versioned tables with their history and periods, and
// the bytes of members and defaults it shows as '?'. Each has several rows.
extern const char* const kHiddenQueries[3];

// Stored programs for kEveryObjectSchema whose bodies hold semicolons (and
// the first delimiter a dump would try), under the SQL modes they were
// created in: a procedure, a package and its body, ordered triggers, an
// event in another time zone.
extern const char kStoredPrograms[];

}  // namespace vaultwick::test
