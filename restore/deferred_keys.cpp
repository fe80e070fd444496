#include "restore/deferred_keys.h"

#include <vector>

#include "restore/dump_statements.h"

namespace vaultwick {

namespace {

constexpr std::string_view kCreateTable = "CREATE TABLE ";
constexpr std::string_view kClauseIndent = "\t";
constexpr std::string_view kPlainKey = "\tKEY ";
constexpr std::string_view kDescending = " DESC";
// Words of a table that an ALTER after its rows might not give back as it
// was, or that the dump never writes into a CREATE TABLE it can split.
constexpr std::string_view kRefused[] = {
    "FOREIGN KEY", "REFERENCES", "ENGINE=", "PARTITION", "SYSTEM VERSIONING", "PERIOD FOR",
};

// Whether a line ends outside every quoted text and holds no comment, read
// with or without backslash escapes in quoted text (the sql_mode decides;
// the line must read the same both ways).
bool IsWholeLine(std::string_view line, bool backslashEscapes) {
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const char next = i + 1 < line.size() ? line[i + 1] : 0;
    if (quote == 0) {
      if (c == '\'' || c == '"' || c == '`') {
        quote = c;
      } else if (c == '#' || (c == '/' && next == '*') || (c == '-' && next == '-')) {
        return false;
      }
    } else if (backslashEscapes && quote != '`' && c == '\\') {
      ++i;
    } else if (c == quote) {
      if (next == quote) {
        ++i;
      } else {
        quote = 0;
      }
    }
  }
  return quote == 0;
}

// The length of the backquoted name at the start of `text`, else 0.
std::size_t QuotedNameLength(std::string_view text) {
  if (!text.starts_with('`')) {
    return 0;
  }
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '`') {
      if (i + 1 < text.size() && text[i + 1] == '`') {
        ++i;
      } else {
        return i + 1;
      }
    }
  }
  return 0;
}

bool SkipDigitsInParentheses(std::string_view& text) {
  if (!text.starts_with('(')) {
    return true;
  }
  std::size_t i = 1;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    ++i;
  }
  if (i == 1 || i >= text.size() || text[i] != ')') {
    return false;
  }
  text.remove_prefix(i + 1);
  return true;
}

// `\tKEY `name` (`a`,`b`(10) DESC)` with or without its comma: the clause
// without indent and comma, else nullopt. Anything more (a comment, a
// kind of index, IGNORED) is not taken.
std::optional<std::string_view> PlainKey(std::string_view line) {
  if (!line.starts_with(kPlainKey)) {
    return std::nullopt;
  }
  std::string_view clause = line.substr(kClauseIndent.size());
  if (clause.ends_with(',')) {
    clause.remove_suffix(1);
  }
  std::string_view rest = line.substr(kPlainKey.size());
  const std::size_t name = QuotedNameLength(rest);
  if (name == 0 || !rest.substr(name).starts_with(" (")) {
    return std::nullopt;
  }
  rest.remove_prefix(name + 2);
  for (;;) {
    const std::size_t column = QuotedNameLength(rest);
    if (column == 0) {
      return std::nullopt;
    }
    rest.remove_prefix(column);
    if (!SkipDigitsInParentheses(rest)) {
      return std::nullopt;
    }
    if (rest.starts_with(kDescending)) {
      rest.remove_prefix(kDescending.size());
    }
    if (rest.starts_with(',')) {
      rest.remove_prefix(1);
      continue;
    }
    if (rest == ")" || rest == "),") {
      return clause;
    }
    return std::nullopt;
  }
}

}  // namespace

std::optional<DeferredKeys> DeferPlainKeys(std::string_view createTable) {
  const std::optional<std::string_view> table = CreatedTable(createTable);
  if (!table) {
    return std::nullopt;
  }
  for (std::string_view refused : kRefused) {
    if (createTable.find(refused) != std::string_view::npos) {
      return std::nullopt;
    }
  }
  std::vector<std::string_view> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = createTable.find('\n', start);
    lines.push_back(createTable.substr(start, end - start));
    if (!IsWholeLine(lines.back(), true) || !IsWholeLine(lines.back(), false)) {
      return std::nullopt;
    }
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  const std::size_t options = lines.size() - 1;
  if (lines.size() < 3 || lines.front().size() != kCreateTable.size() + table->size() + 1 ||
      !lines.front().ends_with('(') || !lines[options].starts_with(')')) {
    return std::nullopt;
  }
  // The plain keys are the clauses before the closing line, and no others.
  std::size_t firstKey = options;
  while (firstKey > 1 && PlainKey(lines[firstKey - 1])) {
    --firstKey;
  }
  if (firstKey == options || firstKey == 1) {
    return std::nullopt;
  }
  for (std::size_t i = 1; i < options; ++i) {
    if (!lines[i].starts_with(kClauseIndent) || (i < firstKey && PlainKey(lines[i]))) {
      return std::nullopt;
    }
  }
  // The last clause kept loses the comma that parted it from the keys.
  if (!lines[firstKey - 1].ends_with(',') || lines[options - 1].ends_with(',')) {
    return std::nullopt;
  }

  DeferredKeys deferred;
  for (std::size_t i = 0; i < firstKey; ++i) {
    deferred.create += lines[i];
    if (i + 1 == firstKey) {
      deferred.create.pop_back();
    }
    deferred.create += '\n';
  }
  deferred.create += lines[options];
  deferred.addKeys = std::string("ALTER TABLE ") + std::string(*table);
  for (std::size_t i = firstKey; i < options; ++i) {
    deferred.addKeys += i == firstKey ? " ADD " : ", ADD ";
    deferred.addKeys += *PlainKey(lines[i]);
  }
  return deferred;
}

}  // namespace vaultwick
