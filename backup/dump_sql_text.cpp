#include "backup/dump_sql_text_internal.h"

#include <algorithm>
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

// Where the user or host name that starts at `at` ends: a name between
// backticks, double quotes (ANSI_QUOTES) or apostrophes (a doubled quote
// stays inside), or a bare word.
std::size_t EndOfDefinerName(std::string_view text, std::size_t at) {
  if (at >= text.size()) {
    return at;
  }
  const char quote = text[at];
  if (quote != '`' && quote != '"' && quote != '\'') {
    while (at < text.size() && text[at] != '@' && text[at] != ' ') {
      ++at;
    }
    return at;
  }
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\' && quote == '\'') {
      ++at;
    } else if (text[at] == quote) {
      if (at + 1 < text.size() && text[at + 1] == quote) {
        ++at;
      } else {
        return at + 1;
      }
    }
  }
  return at;
}

void AppendHex(std::string& text, const char* bytes, std::size_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t start = text.size();
  text.resize(start + 2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    text[start + 2 * i] = kDigits[byte >> 4];
    text[start + 2 * i + 1] = kDigits[byte & 15];
  }
}

}  // namespace

std::string WithoutDefiner(std::string_view statement) {
  constexpr std::string_view kDefiner = "DEFINER=";
  const std::size_t start = statement.find(kDefiner);
  // The clause belongs to the statement's head (CREATE [ALGORITHM=...]
  // DEFINER=...), before any name, text or parenthesis.
  if (start == std::string_view::npos ||
      statement.substr(0, start).find_first_of("`'\"(") != std::string_view::npos) {
    return std::string(statement);
  }
  std::size_t end = EndOfDefinerName(statement, start + kDefiner.size());
  if (end < statement.size() && statement[end] == '@') {
    end = EndOfDefinerName(statement, end + 1);
  }
  while (end < statement.size() && statement[end] == ' ') {
    ++end;
  }
  std::string result(statement.substr(0, start));
  result += statement.substr(end);
  return result;
}

void AppendDelimitedStatement(std::string& text, std::string_view statement) {
  std::string delimiter = ";;";
  for (const char* candidate : {";;", "$$", "//", "@@", "##"}) {
    delimiter = candidate;
    if (statement.find(delimiter) == std::string_view::npos) {
      break;
    }
  }
  while (statement.find(delimiter) != std::string_view::npos) {
    delimiter += delimiter.back();
  }
  text += "DELIMITER ";
  text += delimiter;
  text += '\n';
  text += statement;
  text += delimiter;
  text += "\nDELIMITER ;\n";
}

void AppendQuotedIdentifier(std::string& text, std::string_view name) {
  text += '`';
  for (char c : name) {
    text += c;
    if (c == '`') {
      text += '`';
    }
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
    if (letter == 0) {
      continue;
    }
    text.append(value + runStart, i - runStart);
    text += '\\';
    text += letter;
    runStart = i + 1;
  }
  text.append(value + runStart, length - runStart);
}

void AppendQuotedText(std::string& text, std::string_view value) {
  text += '\'';
  AppendEscapedValue(text, value.data(), value.size());
  text += '\'';
}

bool AppendInsertStatement(std::string& text, std::string_view insertHead,
                           const char* const* values, const unsigned long* lengths, unsigned count,
                           const std::vector<bool>& hexValues, std::size_t pieceSize,
                           const FlushFn& flush) {
  // Bytes of this statement already handed to the file.
  std::size_t flushed = 0;
  std::size_t statementStart = text.size();
  auto flushIfLong = [&] {
    if (text.size() <= pieceSize || flushed + text.size() - statementStart <= pieceSize) {
      return true;
    }
    flushed += text.size() - statementStart;
    if (!flush()) {
      return false;
    }
    // From now on the text holds nothing but this statement.
    statementStart = 0;
    return true;
  };

  text += insertHead;
  for (unsigned i = 0; i < count; ++i) {
    if (i != 0) {
      text += ',';
    }
    if (values[i] == nullptr) {
      text += "NULL";
      continue;
    }
    const bool hex = i < hexValues.size() && hexValues[i];
    text += hex ? "X'" : "'";
    for (std::size_t done = 0; done < lengths[i];) {
      std::size_t slice = std::min<std::size_t>(lengths[i] - done, pieceSize);
      if (hex) {
        AppendHex(text, values[i] + done, slice);
      } else {
        AppendEscapedValue(text, values[i] + done, slice);
      }
      done += slice;
      if (!flushIfLong()) {
        return false;
      }
    }
    text += '\'';
  }
  text += ");\n";
  return true;
}

}  // namespace vaultwick::dump
