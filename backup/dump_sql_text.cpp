#include "backup/dump_sql_text_internal.h"

#include <array>

namespace vaultwick::dump {
namespace {

// For each byte, the letter that follows the backslash in its escape, or 0
// when the byte is copied as it is.
constexpr std::array<char, 256> MakeEscapeTable() {
  std::array<char, 256> table{};
  table['\\'] = '\\';
  table['\''] = '\'';
  table['\0'] = '0';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table[0x1A] = 'Z';
  return table;
}
constexpr std::array<char, 256> kEscapeLetter = MakeEscapeTable();

}  // namespace

void AppendQuotedIdentifier(std::string& text, std::string_view name) {
  text += '`';
  for (char c : name) {
    text += c;
    if (c == '`')
      text += '`';
  }
  text += '`';
}

std::string QuotedIdentifier(std::string_view name) {
  std::string quoted;
  quoted.reserve(name.size() + 2);
  AppendQuotedIdentifier(quoted, name);
  return quoted;
}

void AppendEscapedValue(std::string& text, const char* value, std::size_t length) {
  // Copy runs of plain bytes in one go: most values hold nothing to escape.
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < length; ++i) {
    char letter = kEscapeLetter[static_cast<unsigned char>(value[i])];
    if (letter == 0)
      continue;
    text.append(value + runStart, i - runStart);
    text += '\\';
    text += letter;
    runStart = i + 1;
  }
  text.append(value + runStart, length - runStart);
}

void AppendInsertStatement(std::string& text, std::string_view quotedTable,
                           const char* const* values, const unsigned long* lengths,
                           unsigned count) {
  text += "INSERT INTO ";
  text += quotedTable;
  text += " VALUES(";
  for (unsigned i = 0; i < count; ++i) {
    if (i != 0)
      text += ',';
    if (values[i] == nullptr) {
      text += "NULL";
      continue;
    }
    text += '\'';
    AppendEscapedValue(text, values[i], lengths[i]);
    text += '\'';
  }
  text += ");\n";
}

}  // namespace vaultwick::dump
