#include "restore/dump_statements.h"

#include <strings.h>

#include <cstring>

namespace vaultwick {

namespace {

constexpr std::string_view kDelimiterCommand = "DELIMITER";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  return text;
}

// A line that is no statement of its own: blank, or a comment line.
bool IsNothing(std::string_view line) {
  line = TrimLeft(line);
  return line.empty() || line.starts_with("-- ") || line == "--" || line.front() == '#';
}

// "DELIMITER x": the new delimiter, else nullopt.
std::optional<std::string_view> DelimiterCommand(std::string_view line) {
  line = TrimRight(TrimLeft(line));
  if (line.size() <= kDelimiterCommand.size() ||
      strncasecmp(line.data(), kDelimiterCommand.data(), kDelimiterCommand.size()) != 0 ||
      !IsSpace(line[kDelimiterCommand.size()])) {
    return std::nullopt;
  }
  std::string_view delimiter = TrimLeft(line.substr(kDelimiterCommand.size()));
  const std::size_t space = delimiter.find_first_of(" \t");
  return delimiter.substr(0, space);
}

// The position just past the backquoted identifier that starts at `at`
// (`` stands for one backquote inside it), or npos.
std::size_t QuotedIdentifierEnd(std::string_view text, std::size_t at) {
  if (at >= text.size() || text[at] != '`') {
    return std::string_view::npos;
  }
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] != '`') {
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '`') {
      ++i;
      continue;
    }
    return i + 1;
  }
  return std::string_view::npos;
}

}  // namespace

bool DumpStatementSplitter::Feed(const char* data, std::size_t size) {
  while (size > 0 && !stopped_) {
    const auto* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    if (newline == nullptr) {
      text_.append(std::string_view(data, size));
      break;
    }
    const auto length = static_cast<std::size_t>(newline - data);
    text_.append(std::string_view(data, length));
    EndLine();
    data += length + 1;
    size -= length + 1;
  }
  return !stopped_;
}

bool DumpStatementSplitter::Finish() {
  if (text_.size() > lineStart_ && !stopped_) {
    EndLine();
  }
  return !inStatement_ || stopped_;
}

void DumpStatementSplitter::EndLine() {
  ++lineNumber_;
  if (text_.size() > lineStart_ && text_.data()[text_.size() - 1] == '\r') {
    text_.resize(text_.size() - 1);
  }
  const std::string_view line = text_.view().substr(lineStart_);
  if (!inStatement_) {
    if (IsNothing(line)) {
      text_.clear();
      return;
    }
    if (std::optional<std::string_view> delimiter = DelimiterCommand(line)) {
      delimiter_ = *delimiter;
      text_.clear();
      return;
    }
    statementLine_ = lineNumber_;
    inStatement_ = true;
  }
  const std::string_view end = TrimRight(line);
  if (!end.ends_with(delimiter_)) {
    text_.push_back('\n');
    lineStart_ = text_.size();
    return;
  }
  // Everything from the delimiter on goes; what is left may be empty (a line
  // holding only ";"), which is no statement.
  text_.resize(lineStart_ + end.size() - delimiter_.size());
  inStatement_ = false;
  lineStart_ = 0;
  if (!TrimLeft(text_.view()).empty() && !sink_(text_, statementLine_)) {
    stopped_ = true;
  }
  text_.clear();
}

std::optional<RowInsert> SplitRowInsert(std::string_view statement) {
  constexpr std::string_view kInsert = "INSERT INTO ";
  constexpr std::string_view kValues = " VALUES";
  if (!statement.starts_with(kInsert)) {
    return std::nullopt;
  }
  std::size_t at = QuotedIdentifierEnd(statement, kInsert.size());
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  RowInsert insert;
  insert.table = statement.substr(kInsert.size(), at - kInsert.size());
  if (statement.substr(at).starts_with(" (")) {
    // The column list: quoted names separated by commas.
    ++at;
    do {
      at = QuotedIdentifierEnd(statement, at + 1);
    } while (at != std::string_view::npos && at < statement.size() && statement[at] == ',');
    if (at == std::string_view::npos || at >= statement.size() || statement[at] != ')') {
      return std::nullopt;
    }
    ++at;
  }
  if (!statement.substr(at).starts_with(kValues)) {
    return std::nullopt;
  }
  at += kValues.size();
  insert.head = statement.substr(0, at);
  insert.row = statement.substr(at);
  if (insert.row.size() < 2 || insert.row.front() != '(' || insert.row.back() != ')') {
    return std::nullopt;
  }
  return insert;
}

std::optional<std::string_view> CreatedTable(std::string_view statement) {
  constexpr std::string_view kCreate = "CREATE TABLE ";
  if (!statement.starts_with(kCreate)) {
    return std::nullopt;
  }
  const std::size_t end = QuotedIdentifierEnd(statement, kCreate.size());
  if (end == std::string_view::npos) {
    return std::nullopt;
  }
  return statement.substr(kCreate.size(), end - kCreate.size());
}

bool MadeAgainInTarget(std::string_view statement) {
  if (statement.starts_with("SET ") || statement.starts_with("ALTER DATABASE ")) {
    return true;
  }
  if (!statement.starts_with("CREATE ")) {
    return false;
  }
  // The dump names a table or sequence in backquotes right after the word
  // that says what it is (its statements carry no definer).
  const std::size_t tick = statement.find('`');
  if (QuotedIdentifierEnd(statement, tick) == std::string_view::npos) {
    return true;
  }
  const std::string_view before = TrimRight(statement.substr(0, tick));
  const std::string_view keyword = before.substr(before.find_last_of(' ') + 1);
  return keyword != "TABLE" && keyword != "SEQUENCE";
}

std::string QuotedName(std::string_view name) {
  std::string quoted = "`";
  for (char c : name) {
    quoted += c;
    if (c == '`') {
      quoted += '`';
    }
  }
  return quoted + "`";
}

}  // namespace vaultwick
