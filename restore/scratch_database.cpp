#include "restore/scratch_database.h"

#include <optional>

#include "restore/dump_statements.h"
#include "server/server_query.h"

namespace vaultwick {

namespace {

// Short, so that a silent server cannot hold the test restore's way out.
constexpr ConnectionTimeouts kKeeperTimeouts{10, 60};
// How long a keeper that lost its connection waits to take the lock again:
// a test restore that found the copy in the scratch database refuses at once.
constexpr int kRelockSeconds = 10;
// Error numbers from here on are the client library's own: the connection is gone.
constexpr unsigned kFirstClientError = 2000;

}  // namespace

ScratchDatabase::ScratchDatabase(const ServerLogin& server) : server_(server) {
  server_.timeouts = kKeeperTimeouts;
}

std::string ScratchDatabase::Lock(int waitSeconds) {
  connection_ = std::make_unique<ServerConnection>(StopToken::Never());
  if (connection_->Open(server_) != ServerConnection::Opened::Connected) {
    return std::string(kTextCantConnect) + ": " + connection_->Error();
  }
  MYSQL* mysql = connection_->get();
  // Lock names are short: the name's digest stands in for it, of the same
  // bytes in every program.
  const std::optional<std::string> locked =
      mysql_set_character_set(mysql, "utf8mb4") == 0
          ? QueryValue(mysql, "SELECT GET_LOCK(CONCAT('vaultwick scratch ', MD5(" +
                                  TextLiteral(mysql, server_.database) + ")), " +
                                  std::to_string(waitSeconds) + ")")
          : std::nullopt;
  if (locked == "1") {
    return {};
  }
  if (locked == "0") {
    return "the scratch database " + server_.database + " is in use by another test restore";
  }
  return "the scratch database " + server_.database + " cannot be locked: " + connection_->Error();
}

std::string ScratchDatabase::Take() {
  if (std::string refused = Lock(0); !refused.empty()) {
    return refused;
  }
  MYSQL* mysql = connection_->get();
  const std::string& name = server_.database;
  const std::optional<DatabaseContents> held = CountDatabaseContents(mysql, name);
  if (!held || !held->Empty()) {
    return "the scratch database " + name + " is not empty (or cannot be looked at)";
  }
  // The grants decide whether the drop at the end will go through; trying it
  // on a database that holds nothing (or is not there) asks them directly.
  if (!RunStatement(mysql, "DROP DATABASE IF EXISTS " + QuotedName(name))) {
    return "the login may not drop the scratch database " + name + " (" + connection_->Error() +
           "), so a copy loaded there would stay: nothing was loaded";
  }
  taken_ = true;
  return {};
}

std::string ScratchDatabase::Drop() {
  if (!taken_) {
    return {};
  }
  const std::string drop = "DROP DATABASE IF EXISTS " + QuotedName(server_.database);
  MYSQL* mysql = connection_->get();
  std::string why;
  if (RunStatement(mysql, drop)) {
    return {};
  }
  why = connection_->Error();
  // The server may have closed a connection that waited long for the work
  // (and with it the lock): a new one takes the lock again before it drops.
  if (mysql_errno(mysql) >= kFirstClientError) {
    why = Lock(kRelockSeconds);
    if (why.empty()) {
      if (RunStatement(connection_->get(), drop)) {
        return {};
      }
      why = connection_->Error();
    }
  }
  return "the scratch database " + server_.database + " on " + server_.host +
         " could not be dropped (" + why + "): the copy loaded into it is still there";
}

}  // namespace vaultwick
