#pragma once

// Building blocks of the dump's SQL text: quoted identifiers, escaped values
// and the per-row INSERT statement. Line ends inside the dump text are a
// single LF; the file appender turns them into CR LF.

#include <strings.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vaultwick::dump {

// Comparisons of server words, which come in either case.
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// `text` without its leading and trailing spaces.
inline std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  return text;
}

// Appends `name` between backticks, doubling every backtick inside it.
void AppendQuotedIdentifier(std::string& text, std::string_view name);
std::string QuotedIdentifier(std::string_view name);

// Appends the bytes of a value so that, between apostrophes, a MySQL client
// reads back exactly these bytes: backslash, apostrophe, the zero byte, LF, CR
// and Ctrl-Z become \\, \', \0, \n, \r and \Z; every other byte is copied.
void AppendEscapedValue(std::string& text, const char* value, std::size_t length);

// Appends `value` escaped between apostrophes: a text literal.
void AppendQuotedText(std::string& text, std::string_view value);

// The statement without its DEFINER clause ("CREATE DEFINER=`u`@`h` VIEW ..."
// becomes "CREATE VIEW ..."), so that it loads for any login and what it
// creates belongs to whoever restores it. Unchanged when it has none.
std::string WithoutDefiner(std::string_view statement);

// Appends a statement whose body may hold semicolons (a routine, trigger or
// event) so that the stock client sends it whole: between DELIMITER lines,
// with a delimiter the statement does not contain.
void AppendDelimitedStatement(std::string& text, std::string_view statement);

// Hands the text built so far to the dump file and empties it; false when
// the file could not be written.
using FlushFn = std::function<bool()>;

// Appends insertHead ("INSERT INTO `t` VALUES(") v1,v2,... ");\n": each value
// between apostrophes and escaped, a null pointer as NULL; a value whose
// entry in `hexValues` (empty: none) is true as a hex literal X'..'.
//
// A statement longer than `pieceSize` is the one thing that may reach the file
// in several pieces: once the statement has passed that size, values are
// escaped in slices of pieceSize bytes and `flush` is called whenever the text
// has grown past pieceSize again, so a huge value never sits in the text
// whole. Shorter statements are never split. False when a flush failed; the
// statement is then incomplete.
bool AppendInsertStatement(std::string& text, std::string_view insertHead,
                           const char* const* values, const unsigned long* lengths, unsigned count,
                           const std::vector<bool>& hexValues, std::size_t pieceSize,
                           const FlushFn& flush);

}  // namespace vaultwick::dump
