#include "restore/verify_restore.h"

#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "backup/dump_database.h"
#include "platform/temp_folder.h"
#include "readback/archive_check.h"
#include "readback/archive_reader.h"
#include "restore/dump_statements.h"
#include "restore/scratch_database.h"
#include "server/server_connection.h"
#include "server/server_query.h"

namespace vaultwick {

namespace {

constexpr std::size_t kReadBlock = 1 << 20;
constexpr std::size_t kShownAround = 40;

using Result = VerifyRestoreOutcome::Result;

VerifyRestoreOutcome Outcome(Result result, std::string detail) {
  return VerifyRestoreOutcome{result, std::move(detail)};
}

struct Statement {
  std::string text;
  std::uint64_t line;
};

// Statements of one dump, read a block at a time from wherever it lies.
class StatementStream {
 public:
  using ReadFn = std::function<std::int64_t(std::uint8_t*, std::size_t)>;
  explicit StatementStream(ReadFn read)
      : read_(std::move(read)), splitter_([this](std::string_view text, std::uint64_t line) {
          pending_.push_back({std::string(text), line});
          return true;
        }) {}

  // The next statement; nullopt at the end (or on a failed read: failed()).
  std::optional<Statement> Next() {
    std::vector<std::uint8_t> block;
    while (pending_.empty() && !ended_) {
      block.resize(kReadBlock);
      const std::int64_t got = read_(block.data(), block.size());
      if (got <= 0) {
        failed_ = got < 0 || !splitter_.Finish();
        ended_ = true;
      } else {
        splitter_.Feed(reinterpret_cast<const char*>(block.data()), static_cast<std::size_t>(got));
      }
    }
    if (pending_.empty()) {
      return std::nullopt;
    }
    Statement statement = std::move(pending_.front());
    pending_.pop_front();
    return statement;
  }
  bool failed() const { return failed_; }

 private:
  ReadFn read_;
  DumpStatementSplitter splitter_;
  std::deque<Statement> pending_;
  bool ended_ = false;
  bool failed_ = false;
};

// Some text of `statement` around `at`.
std::string Around(const std::string& statement, std::size_t at) {
  const std::size_t from = at > kShownAround ? at - kShownAround : 0;
  return (from > 0 ? "..." : "") + statement.substr(from, 2 * kShownAround) +
         (from + 2 * kShownAround < statement.size() ? "..." : "");
}

// Where the archived dump and the dump of the scratch database first differ;
// empty when they do not.
std::string FirstDifference(StatementStream& archived, StatementStream& again) {
  for (;;) {
    std::optional<Statement> a = archived.Next();
    std::optional<Statement> b = again.Next();
    if (archived.failed() || again.failed()) {
      return "a dump could not be read to its end";
    }
    if (!a && !b) {
      return {};
    }
    if (!a || !b) {
      return !a ? "the restored database has more, from: " + Around(b->text, 0)
                : "line " + std::to_string(a->line) +
                      " is missing after the restore: " + Around(a->text, 0);
    }
    if (a->text != b->text) {
      std::size_t at = 0;
      while (at < a->text.size() && at < b->text.size() && a->text[at] == b->text[at]) {
        ++at;
      }
      return "line " + std::to_string(a->line) + " of the archived dump: " + Around(a->text, at) +
             "; after the restore: " + Around(b->text, at);
    }
  }
}

// The test restore proper, into a scratch database already taken.
VerifyRestoreOutcome LoadDumpAndCompare(const RestoreRequest& request) {
  const std::string& scratch = request.server.database;
  RestoreRequest load = request;
  load.replace = false;
  load.loadInPlace = true;
  const RestoreOutcome restored = RestoreDatabase(load);
  if (restored.result != RestoreResult::Restored) {
    const std::string where =
        restored.line != 0 ? " (line " + std::to_string(restored.line) + ")" : "";
    return Outcome(Result::Failed, "test restore: " + restored.message + where);
  }

  ServerConnection connection(request.stop);
  if (connection.Open(request.server) != ServerConnection::Opened::Connected) {
    return Outcome(Result::Failed, std::string(kTextCantConnect) + ": " + connection.Error());
  }
  MYSQL* mysql = connection.get();
  std::optional<PrivateTempFolder> folder = PrivateTempFolder::Create();
  if (!folder || mysql_select_db(mysql, scratch.c_str()) != 0) {
    return Outcome(Result::Failed, "the scratch database cannot be dumped");
  }
  const std::string dumpPath = folder->FilePath("again.sql");
  const DumpOutcome dumped = DumpDatabase(mysql, dumpPath.c_str(), nullptr);
  if (dumped.failedQueries != 0 || dumped.writeFailed || dumped.serverLost) {
    return Outcome(Result::Failed, "dump of the scratch database: " + dumped.cause);
  }

  std::string error;
  std::unique_ptr<ArchiveReader> reader =
      ArchiveReader::Open(request.archivePath, &error, request.archivePassword);
  std::optional<ArchiveReader::Member> member;
  while (reader && (member = reader->Next()) && !IsSqlMember(*member)) {
  }
  std::FILE* file = std::fopen(dumpPath.c_str(), "rb");
  if (!member || file == nullptr) {
    if (file != nullptr) {
      std::fclose(file);
    }
    return Outcome(Result::Failed, "the dumps cannot be read again");
  }
  StatementStream archived(
      [&](std::uint8_t* data, std::size_t size) { return reader->Read(data, size); });
  StatementStream again([&](std::uint8_t* data, std::size_t size) {
    const std::size_t got = std::fread(data, 1, size, file);
    return std::ferror(file) ? std::int64_t{-1} : static_cast<std::int64_t>(got);
  });
  const std::string difference = FirstDifference(archived, again);
  std::fclose(file);
  return difference.empty() ? Outcome(Result::Verified, {}) : Outcome(Result::Differs, difference);
}

}  // namespace

VerifyRestoreOutcome VerifyRestore(const RestoreRequest& request) {
  if (request.stop.StopRequested()) {
    return Outcome(Result::Failed, kTextStoppedOnRequest);
  }
  ScratchDatabase scratch(request.server);
  if (std::string refused = scratch.Take(); !refused.empty()) {
    return Outcome(Result::Failed, refused);
  }
  VerifyRestoreOutcome outcome = LoadDumpAndCompare(request);
  if (outcome.result != Result::Verified && request.stop.StopRequested()) {
    outcome = Outcome(Result::Failed, kTextStoppedOnRequest);
  }
  // A copy left on the server outweighs whatever the comparison found.
  if (std::string left = scratch.Drop(); !left.empty()) {
    outcome = Outcome(Result::Failed,
                      outcome.result == Result::Verified ? left : left + "; " + outcome.detail);
  }
  return outcome;
}

}  // namespace vaultwick
