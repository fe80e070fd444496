#include "restore/restore_database.h"

#include <fcntl.h>
#include <mysql.h>
#include <mysqld_error.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "readback/archive_check.h"
#include "readback/archive_reader.h"
#include "readback/fast_sql_member.h"
#include "restore/dump_statements.h"
#include "restore/parallel_load.h"
#include "restore/staging_database.h"
#include "restore/statement_loader.h"
#include "server/server_connection.h"
#include "server/server_query.h"

namespace vaultwick {

namespace {

constexpr std::uint64_t kProgressEvery = 1 << 20;
constexpr std::size_t kLargestBatch = 1 << 20;
constexpr std::size_t kPacketMargin = 4096;
// A staging database left by a failed or stopped restore is dropped within
// these bounds, so that a silent server cannot hold the way out.
constexpr ConnectionTimeouts kDiscardTimeouts{10, 60};

// The session a faithful load needs, whatever the server's defaults: the
// dump's text is utf8mb4 and its times UTC; a row's 0 in an AUTO_INCREMENT
// column stays 0; rows go in before the keys that point at them; and the
// loader decides when to commit. The dump's own SET lines follow and win.
// Unique checks stay on: with them off, InnoDB takes its bulk path into an
// empty table, which locks the whole table until the commit (another
// connection loading rows of it waits) and costs the server more than the
// checks it saves (a tenth more processor time on the real-data database).
constexpr const char* kSessionSetup =
    "SET time_zone = '+00:00', sql_mode = 'NO_AUTO_VALUE_ON_ZERO', foreign_key_checks = 0,"
    " unique_checks = 1, autocommit = 0";

RestoreOutcome Ended(RestoreResult result, std::string message) {
  RestoreOutcome outcome;
  outcome.result = result;
  outcome.message = std::move(message);
  return outcome;
}

// A connection's session as the load and the move need it.
bool SetUpSession(MYSQL* connection) {
  return mysql_set_character_set(connection, "utf8mb4") == 0 &&
         RunStatement(connection, kSessionSetup);
}

class Restore {
 public:
  Restore(const RestoreRequest& request,
          const std::function<void(const RestoreProgress&)>& progress)
      : request_(request), progress_(progress), connection_(request.stop) {}
  ~Restore() {
    if (archive_ >= 0) {
      ::close(archive_);
    }
  }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

  RestoreOutcome Run() {
    RestoreOutcome outcome = Steps();
    // What a restore that did not end in the target says about it.
    std::string staged;
    if (staging_ && !moved_) {
      staged = Discard();
    }
    if (Stopped() && outcome.result != RestoreResult::Restored) {
      outcome = Ended(RestoreResult::Stopped, kTextStoppedOnRequest);
    }
    outcome.message += staged;
    outcome.rows = rows_;
    outcome.bytes = report_.bytesTotal;
    return outcome;
  }

 private:
  bool Stopped() const { return request_.stop.StopRequested(); }

  std::string CutShort(const std::string& member, std::uint64_t line) const {
    return request_.archivePath + ": " + member +
           " ends inside the statement that starts on line " + std::to_string(line);
  }

  void Report(bool always) {
    if (progress_ && (always || report_.bytesDone - reported_ >= kProgressEvery)) {
      reported_ = report_.bytesDone;
      progress_(report_);
    }
  }

  RestoreOutcome Steps() {
    // Loaded in place, the target itself takes the statements: the archive is
    // proved whole before any of them. Through a staging database the target
    // changes only after the load's own reading has proved the archive to its
    // end, so the dump is inflated once.
    if (std::optional<RestoreOutcome> failed = request_.loadInPlace ? Check() : FindDump()) {
      return *failed;
    }
    if (std::optional<RestoreOutcome> failed = Connect(connection_)) {
      return *failed;
    }
    if (std::optional<RestoreOutcome> failed = PrepareDatabase()) {
      return *failed;
    }
    if (std::optional<RestoreOutcome> failed = ConnectMore()) {
      return *failed;
    }
    RestoreOutcome loaded = Load();
    if (!staging_ || loaded.result != RestoreResult::Restored) {
      return loaded;
    }
    // A stop that came after the last statement still keeps the target as it was.
    if (Stopped()) {
      return Ended(RestoreResult::Stopped, kTextStoppedOnRequest);
    }
    return MoveIn();
  }

  // A reader at the start of the archive.
  std::unique_ptr<ArchiveReader> OpenArchive(std::string* error) {
    if (!OpenArchiveFile(error)) {
      return nullptr;
    }
    return ArchiveReader::Open(archive_, error, request_.archivePassword);
  }

  // The file is opened once, for every reading: a backup that replaces the
  // archive meanwhile must not make the load read another archive than the
  // one checked.
  bool OpenArchiveFile(std::string* error) {
    if (archive_ < 0) {
      archive_ = ::open(request_.archivePath.c_str(), O_RDONLY | O_CLOEXEC);
      if (archive_ < 0) {
        *error = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
      }
    }
    return true;
  }

  // The archive's dump, from the file opened for every reading, through
  // `splitter` to its end, its bytes counted for the progress that `show`
  // reports. nullopt once the dump is proved whole and ends with a whole
  // statement; else how the restore ends.
  std::optional<RestoreOutcome> ReadDump(DumpStatementSplitter& splitter,
                                         const std::function<void()>& show) {
    std::string error;
    std::optional<SqlMemberFacts> facts;
    if (OpenArchiveFile(&error)) {
      facts = ReadSqlMemberFast(archive_, request_.archivePassword, &error, request_.stop,
                                [&](const std::uint8_t* data, std::size_t size) {
                                  splitter.Feed(reinterpret_cast<const char*>(data), size);
                                  report_.bytesDone += size;
                                  show();
                                });
    }
    if (Stopped()) {
      return Ended(RestoreResult::Stopped, kTextStoppedOnRequest);
    }
    if (!facts) {
      return Ended(RestoreResult::ArchiveUnusable, request_.archivePath + ": " + error);
    }
    if (!splitter.Finish()) {
      return Ended(RestoreResult::ArchiveUnusable,
                   CutShort(facts->name, splitter.UnfinishedLine()));
    }
    report_.bytesTotal = facts->size;
    return std::nullopt;
  }

  // The first pass of a load in place: the dump inflated whole and its CRC-32
  // checked before anything reaches the server.
  std::optional<RestoreOutcome> Check() {
    Report(true);
    DumpStatementSplitter collector([](StatementText&, std::uint64_t) { return true; });
    return ReadDump(collector, [this] { Report(false); });
  }

  // An archive without a dump is refused from its headers, before the server
  // is touched; the dump's header gives the load's progress its total.
  std::optional<RestoreOutcome> FindDump() {
    std::string error;
    std::unique_ptr<ArchiveReader> reader = OpenArchive(&error);
    std::optional<ArchiveReader::Member> member;
    while (reader && (member = reader->Next()) && !IsSqlMember(*member)) {
    }
    if (!member) {
      return Ended(RestoreResult::ArchiveUnusable, request_.archivePath + ": " +
                                                       (!reader            ? error
                                                        : reader->Failed() ? reader->Error()
                                                                           : kTextNoSqlMember));
    }
    report_.bytesTotal = member->size.value_or(0);
    return std::nullopt;
  }

  std::optional<RestoreOutcome> Connect(ServerConnection& connection) const {
    switch (connection.Open(request_.server)) {
      case ServerConnection::Opened::Connected:
        break;
      case ServerConnection::Opened::Stopped:
        return Ended(RestoreResult::Stopped, connection.Error());
      case ServerConnection::Opened::BadAddress:
        return Ended(RestoreResult::ConnectFailed, connection.Error());
      case ServerConnection::Opened::Refused:
        return Ended(RestoreResult::ConnectFailed,
                     std::string(kTextCantConnect) + ": " + connection.Error());
    }
    if (!SetUpSession(connection.get())) {
      return Ended(RestoreResult::ConnectFailed, connection.Error());
    }
    return std::nullopt;
  }

  // The load's other connections, on the database the first one selected.
  std::optional<RestoreOutcome> ConnectMore() {
    const unsigned jobs = request_.jobs != 0
                              ? request_.jobs
                              : std::clamp(std::thread::hardware_concurrency(), 1u, kMostJobs);
    const std::string& database = staging_ ? staging_->name() : request_.server.database;
    while (more_.size() + 1 < jobs) {
      more_.push_back(std::make_unique<ServerConnection>(request_.stop));
      ServerConnection& connection = *more_.back();
      if (std::optional<RestoreOutcome> failed = Connect(connection)) {
        return failed;
      }
      if (mysql_select_db(connection.get(), database.c_str()) != 0) {
        return Ended(RestoreResult::DatabaseFailed,
                     "Can't select database " + database + ": " + connection.Error());
      }
    }
    return std::nullopt;
  }

  void CloseConnections() {
    connection_.Close();
    for (const std::unique_ptr<ServerConnection>& connection : more_) {
      connection->Close();
    }
  }

  // Refuses a target that holds something unless asked to replace it, and
  // selects the database to load: a new staging database, or the target
  // itself (created when missing) for a load in place.
  std::optional<RestoreOutcome> PrepareDatabase() {
    MYSQL* mysql = connection_.get();
    const std::string& name = request_.server.database;
    const bool exists = mysql_select_db(mysql, name.c_str()) == 0;
    if (!exists && mysql_errno(mysql) != ER_BAD_DB_ERROR) {
      return Ended(RestoreResult::DatabaseFailed,
                   "Can't select database " + name + ": " + connection_.Error());
    }
    if (exists) {
      // Routines and events count too: loading every row only to stop at the
      // first routine that already exists would leave a half-restored database.
      const std::optional<DatabaseContents> held = CountDatabaseContents(mysql, name);
      if (!held) {
        return Ended(RestoreResult::DatabaseFailed, connection_.Error());
      }
      if (std::optional<RestoreOutcome> refused = RefusedUnlessReplacing(*held)) {
        return refused;
      }
    }
    std::string error;
    if (request_.loadInPlace) {
      if ((!exists && !RunStatement(mysql, "CREATE DATABASE " + QuotedName(name))) ||
          mysql_select_db(mysql, name.c_str()) != 0) {
        return Ended(RestoreResult::DatabaseFailed,
                     "Can't select database " + name + ": " + connection_.Error());
      }
    } else if (!(staging_ = StagingDatabase::Create(mysql, name, &error)) ||
               mysql_select_db(mysql, staging_->name().c_str()) != 0) {
      return Ended(RestoreResult::DatabaseFailed,
                   staging_
                       ? "Can't select database " + staging_->name() + ": " + connection_.Error()
                       : error);
    }
    return std::nullopt;
  }

  std::optional<RestoreOutcome> RefusedUnlessReplacing(const DatabaseContents& held) const {
    if (held.Empty() || request_.replace) {
      return std::nullopt;
    }
    const std::string what = held.tables != 0
                                 ? std::to_string(held.tables) + " tables"
                                 : std::to_string(held.routinesAndEvents) + " routines or events";
    return Ended(RestoreResult::DatabaseNotEmpty,
                 "Database " + request_.server.database + " holds " + what +
                     "; --replace drops those the archive holds and loads it");
  }

  // The loaded dump into the target, through a connection of its own that
  // no stop cuts: a move, once begun, is finished rather than left halfway.
  RestoreOutcome MoveIn() {
    CloseConnections();
    const std::string& target = request_.server.database;
    ServerConnection own(StopToken::Never());
    if (own.Open(request_.server) != ServerConnection::Opened::Connected ||
        !SetUpSession(own.get())) {
      return Ended(RestoreResult::ConnectFailed,
                   std::string(kTextCantConnect) + ": " + own.Error());
    }
    // Another program may have filled the target meanwhile.
    if (!request_.replace) {
      const std::optional<DatabaseContents> held = CountDatabaseContents(own.get(), target);
      if (!held) {
        return Ended(RestoreResult::DatabaseFailed, own.Error());
      }
      if (std::optional<RestoreOutcome> refused = RefusedUnlessReplacing(*held)) {
        return *refused;
      }
    }
    std::string error;
    switch (staging_->MoveInto(own.get(), target, remade_, &error)) {
      case StagingDatabase::Moved::Nothing:
        return Ended(RestoreResult::DatabaseFailed, error);
      case StagingDatabase::Moved::Partly:
        moved_ = true;
        return Ended(RestoreResult::DatabaseFailed,
                     "Database " + target + " is only partly restored: " + error +
                         "; the staging database " + staging_->name() +
                         " still holds what was loaded");
      case StagingDatabase::Moved::All:
        break;
    }
    moved_ = true;
    RestoreOutcome restored;
    if (!staging_->Drop(own.get(), &error)) {
      restored.message = "The staging database " + staging_->name() + " could not be dropped (" +
                         error + "): drop it by hand";
    }
    return restored;
  }

  // Drops the staging database of a restore that did not reach its target,
  // through a connection of its own (a stop cuts the load's), and says so.
  std::string Discard() {
    // The load's open transaction holds the staging tables: the drop would
    // wait for it.
    CloseConnections();
    const std::string unchanged = "; database " + request_.server.database + " was not changed";
    ServerLogin login = request_.server;
    login.timeouts = kDiscardTimeouts;
    ServerConnection own(StopToken::Never());
    std::string error;
    if (own.Open(login) != ServerConnection::Opened::Connected) {
      error = own.Error();
    } else if (staging_->Drop(own.get(), &error)) {
      return unchanged;
    }
    return unchanged + "; the staging database " + staging_->name() + " could not be dropped (" +
           error + "): drop it by hand";
  }

  // The dump from the archive straight into the server. The reading goes on
  // to the archive's end whatever the load meets: only there is the dump
  // proved, and a damaged or cut-short archive is the cause to report, not
  // the statement its damage made the server refuse.
  RestoreOutcome Load() {
    MYSQL* mysql = connection_.get();
    StatementLoader::Limits limits;
    const std::optional<std::string> packet = QueryValue(mysql, "SELECT @@max_allowed_packet");
    const std::size_t packetBytes = packet ? std::stoull(*packet) : kLargestBatch;
    limits.batchBytes =
        std::min(kLargestBatch, packetBytes - std::min(packetBytes / 2, kPacketMargin));
    limits.packetBytes = packet ? packetBytes : 0;

    report_.phase = RestoreProgress::Phase::Loading;
    report_.bytesDone = 0;
    reported_ = 0;
    Report(true);
    std::vector<MYSQL*> connections = {mysql};
    for (const std::unique_ptr<ServerConnection>& connection : more_) {
      connections.push_back(connection->get());
    }
    ParallelLoad load(connections, limits);
    bool failed = false;
    // After a failure the rest is still split, not loaded: a dump that ends
    // inside a statement is refused as the archive's fault all the same.
    DumpStatementSplitter splitter([&](StatementText& statement, std::uint64_t line) {
      if (failed || Stopped()) {
        return true;
      }
      if (staging_ && MadeAgainInTarget(statement)) {
        remade_.emplace_back(statement);
      }
      failed = !load.Take(statement, line);
      return true;
    });
    if (std::optional<RestoreOutcome> ended = ReadDump(splitter, [&] { ShowLoad(load); })) {
      // No rows count as restored from an archive found unusable.
      if (ended->result == RestoreResult::ArchiveUnusable) {
        rows_ = 0;
      }
      return *ended;
    }
    failed = failed || !load.Finish();
    rows_ = load.rows();
    if (failed) {
      const StatementLoader::Failure failure = load.failure();
      RestoreOutcome outcome = Ended(RestoreResult::StatementFailed, failure.error);
      outcome.line = failure.line;
      outcome.statement = failure.statement;
      return outcome;
    }
    ShowLoad(load);
    Report(true);
    return RestoreOutcome{};
  }

  void ShowLoad(const ParallelLoad& load) {
    rows_ = load.rows();
    report_.rows = rows_;
    report_.connections = load.AtWork();
    if (load.table() != report_.table) {
      report_.table = load.table();
      Report(true);
    } else {
      Report(false);
    }
  }

  const RestoreRequest& request_;
  const std::function<void(const RestoreProgress&)>& progress_;
  ServerConnection connection_;  // the first of the load's, and the one that prepares it
  std::vector<std::unique_ptr<ServerConnection>> more_;
  std::vector<std::string> remade_;  // see MadeAgainInTarget
  std::optional<StagingDatabase> staging_;
  bool moved_ = false;  // the move into the target began
  RestoreProgress report_;
  std::uint64_t reported_ = 0;
  std::uint64_t rows_ = 0;
  int archive_ = -1;  // the archive file, open for every reading
};

}  // namespace

RestoreOutcome RestoreDatabase(const RestoreRequest& request,
                               const std::function<void(const RestoreProgress&)>& progress) {
  return Restore(request, progress).Run();
}

}  // namespace vaultwick
