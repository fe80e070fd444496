#pragma once

// Building blocks of the dump's SQL text: quoted identifiers, escaped values
// and the per-row INSERT statement. Line ends inside the dump text are a
// single LF; the file appender turns them into CR LF.

#include <cstddef>
#include <string>
#include <string_view>

namespace vaultwick::dump {

// Appends `name` between backticks, doubling every backtick inside it.
void AppendQuotedIdentifier(std::string& text, std::string_view name);
std::string QuotedIdentifier(std::string_view name);

// Appends the bytes of a value so that, between apostrophes, a MySQL client
// reads back exactly these bytes: backslash, apostrophe, the zero byte, LF, CR
// and Ctrl-Z become \\, \', \0, \n, \r and \Z; every other byte is copied.
void AppendEscapedValue(std::string& text, const char* value, std::size_t length);

// Appends "INSERT INTO " quotedTable " VALUES(" v1,v2,... ");\n": each value
// between apostrophes and escaped, a null pointer as NULL.
void AppendInsertStatement(std::string& text, std::string_view quotedTable,
                           const char* const* values, const unsigned long* lengths, unsigned count);

}  // namespace vaultwick::dump
