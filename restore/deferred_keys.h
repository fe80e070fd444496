#pragma once

// A table's plain secondary keys, built after its rows instead of during
// them. InnoDB inserts every row into every index as it comes; an index
// added to a loaded table is built by sorting, a fraction of that cost (on
// the real-data database a quarter of the server's load time). The keys go
// back with one ALTER TABLE once the table's last row is in.
//
// Only what is certainly the same table afterwards is split: a CREATE TABLE
// as the dump writes it (one clause a line, lines joined by LF as the
// statement splitter hands them on), of the default engine, without
// partitions, system versioning, foreign keys or comments, whose plain keys
// are the last clauses and read as nothing but a name and a column list.
// The server orders a table's keys by kind and then by the order they came
// in, and plain keys come after PRIMARY and UNIQUE ones: added after them in
// their own order, they take the places they had.

#include <optional>
#include <string>
#include <string_view>

namespace vaultwick {

struct DeferredKeys {
  std::string create;   // the CREATE TABLE without the plain keys
  std::string addKeys;  // ALTER TABLE `t` ADD KEY ..., ADD KEY ...
};

// nullopt: the statement is to be sent whole.
std::optional<DeferredKeys> DeferPlainKeys(std::string_view createTable);

}  // namespace vaultwick
