#pragma once

// Statements of a dump as the dump writes them: every line ends in CR LF, and
// a CR or LF inside a value is always escaped, so a statement ends at the end
// of a line that ends in the current delimiter (";" unless a "DELIMITER x"
// line between statements says otherwise, as around stored programs). Lines
// within one statement are joined by LF, so text the server reported with LF
// line ends (a routine's body) reaches it as it was.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "restore/statement_text.h"

namespace vaultwick {

class DumpStatementSplitter {
 public:
  // Gets each statement without its delimiter, and the number of its first
  // line (from 1); false stops the splitting. The sink may take the
  // statement's text (move it away) instead of copying it.
  using Sink = std::function<bool(StatementText& statement, std::uint64_t line)>;

  explicit DumpStatementSplitter(Sink sink) : sink_(std::move(sink)) {}

  // Takes the next bytes of the dump. False once the sink said stop.
  bool Feed(const char* data, std::size_t size);
  // The dump has ended. False when it ends inside a statement (a dump cut
  // short); UnfinishedLine() then tells where that statement began.
  bool Finish();
  std::uint64_t UnfinishedLine() const { return statementLine_; }

 private:
  // The line from lineStart_ to the end of text_ is whole.
  void EndLine();

  Sink sink_;
  std::string delimiter_ = ";";
  // The statement so far, its lines joined by LF, and from lineStart_ on
  // the line being read: a line, however long, is held once.
  StatementText text_;
  std::size_t lineStart_ = 0;
  bool inStatement_ = false;
  std::uint64_t lineNumber_ = 0;
  std::uint64_t statementLine_ = 0;
  bool stopped_ = false;
};

// A row statement of the dump, `INSERT INTO `t` [(`a`,...)] VALUES(...)`, cut
// into its head (up to and with VALUES) and its one row, "(...)". Rows of one
// head can be sent as one statement: head + row + "," + row ...
struct RowInsert {
  std::string_view head;
  std::string_view table;  // the quoted name, as in the head
  std::string_view row;
};
std::optional<RowInsert> SplitRowInsert(std::string_view statement);

// The quoted name of the table a `CREATE TABLE `t`...` statement makes.
std::optional<std::string_view> CreatedTable(std::string_view statement);

// Whether a statement's effect must be made again in the target when the
// dump is loaded into a staging database whose tables are then moved in:
// the CREATE of anything that is no table or sequence (views, routines,
// packages, triggers and events do not move between databases), the
// database's own ALTER, and the SET statements those need as they needed
// them in the load. Tables, sequences and their rows move with the tables.
bool MadeAgainInTarget(std::string_view statement);

// `name` as an SQL identifier: in backquotes, each backquote doubled.
std::string QuotedName(std::string_view name);

}  // namespace vaultwick
