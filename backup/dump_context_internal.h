#pragma once

// What every step of one dump shares: the connection, the dump text and its
// file, the status callback and the stop, and the outcome with its failures.

#include <mysql.h>

#include <string>
#include <string_view>

#include "backup/dump_file_appender_internal.h"
#include "backup/dump_outcome.h"
#include "backup/dump_sql_text_internal.h"
#include "common/stop_token.h"

namespace vaultwick::dump {

// The dump text goes to the file once it is longer than this, right after the
// statement that took it over, so every piece ends on a statement (only a
// statement longer than this is itself written in pieces).
inline constexpr std::size_t kAppendThreshold = 1000000;

// The mode the rows are read and loaded back under: not strict, so nothing the
// server holds is refused (an ENUM's invalid-value entry '', a date such as
// 2001-02-29 that the original mode allowed); NO_AUTO_VALUE_ON_ZERO, so an
// AUTO_INCREMENT value 0 stays 0; and without NO_BACKSLASH_ESCAPES or
// ANSI_QUOTES, which the dump's literals and identifiers rely on.
inline constexpr std::string_view kSqlMode = "NO_AUTO_VALUE_ON_ZERO,ALLOW_INVALID_DATES";

class DumpContext {
 public:
  DumpContext(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
              const StopToken& stop);
  DumpContext(const DumpContext&) = delete;
  DumpContext& operator=(const DumpContext&) = delete;

  MYSQL* connection() const { return connection_; }
  std::string& text() { return text_; }
  DumpOutcome& outcome() { return outcome_; }
  const FlushFn& flush() const { return flush_; }

  void Show(const std::string& text) const;
  bool StopRequested() const { return stop_.StopRequested(); }

  // Runs a query whose answer, if any, the caller reads. False when it failed.
  bool Run(const std::string& query) const;

  // Appends the dump text to the file and empties it. False (and writeFailed
  // set) when the file could not be written.
  bool AppendText();
  // Appends the text once it has grown past a piece. False when that failed.
  bool AppendTextIfLong() { return text_.size() <= kAppendThreshold || AppendText(); }

  // Records the failure of the last query: of the table or object named
  // `what`, or (nullptr) of the dump as a whole. True when the dump must
  // stop: the connection is gone, or what failed was the dump as a whole.
  bool QueryFailed(const std::string* what);
  // Records that `what` could not be dumped for a reason no query reported
  // (a missing privilege hides it).
  void ObjectFailed(const std::string& what, const std::string& cause);

 private:
  void NameFailed(const std::string& what);

  MYSQL* connection_;
  DumpFileAppender file_;
  const DumpStatusFn& status_;
  const StopToken& stop_;
  const FlushFn flush_;
  DumpOutcome outcome_;
  std::string text_;
};

}  // namespace vaultwick::dump
