#pragma once

// Loads a dump's statements on several connections at once, so that the
// result is the database that loading them one by one makes:
// - a table's rows go to the connection that made the table, in the dump's
//   order, so that each table loads as on one connection;
// - a SET statement sets every connection's session where it stands, and
//   so does the database's ALTER DATABASE (a session takes the database's
//   defaults when it selects it), once every connection is done with the
//   statements before it;
// - anything else (the sequences before the tables; after the rows the
//   foreign keys, CHECK constraints, routines, views, triggers and events)
//   waits until every other connection has sent and committed what it was
//   given (so that it holds no lock the statement waits for), and then runs
//   on the first connection, in the dump's order.
// A table's plain secondary keys are built after its rows (see
// deferred_keys.h): its CREATE TABLE goes without them, and the ALTER TABLE
// that adds them follows its last row on the same connection, while the
// others go on loading.
// Each connection batches and commits as StatementLoader does.
//
// The reader waits while the statements handed over and not yet sent take
// more than kHeldBytes: whatever the number of connections, the load holds
// the statement being read and at most that much beside it (and a batch per
// connection). What they take is counted as the memory they hold, buffers
// and bookkeeping, not their text alone: millions of rows of a few bytes
// each cost several times their text. So short statements for one connection
// wait packed back to back in a shared buffer, and a long one in the buffer
// it was read into.
//
// The first connection that fails stops the others after their statement at
// hand; its failure is the load's.

#include <mysql.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "restore/dump_statements.h"
#include "restore/statement_loader.h"
#include "restore/statement_text.h"

namespace vaultwick {

class ParallelLoad {
 public:
  static constexpr std::size_t kHeldBytes = 32 << 20;

  // `connections` (at least one) have their session set up and the database
  // selected, and outlive the load.
  ParallelLoad(const std::vector<MYSQL*>& connections, StatementLoader::Limits limits);
  // Stops the connections after their statement at hand and waits for them.
  ~ParallelLoad();
  ParallelLoad(const ParallelLoad&) = delete;
  ParallelLoad& operator=(const ParallelLoad&) = delete;

  // The dump's next statement and its first line, from one thread: its text
  // is taken as StatementText::Handed takes it, leaving `statement` empty.
  // False once a connection failed.
  bool Take(StatementText& statement, std::uint64_t line);
  // Waits until every connection has sent what it holds and committed.
  // False when one failed.
  bool Finish();

  // Valid once Take or Finish said false.
  StatementLoader::Failure failure() const;
  std::uint64_t rows() const;
  // The connections that have statements to send or are sending one.
  unsigned AtWork() const;
  // The quoted name of the table made last.
  const std::string& table() const { return table_; }
  // The memory the statements handed over and not yet sent take.
  std::size_t held() const;

 private:
  // Where a row statement's parts are in its text, so that the connection
  // does not read it again; headSize 0: the statement is no row statement.
  struct RowsAt {
    std::size_t headSize = 0;
    std::size_t tableAt = 0;
    std::size_t tableSize = 0;
  };
  struct Item {
    // One statement; or, `packed`, short statements back to back, each
    // after a header telling its size, line and RowsAt: one buffer for many
    // instead of one each.
    StatementText statement{};
    std::uint64_t line = 0;
    RowsAt rows{};
    bool commit = false;  // no statement: send what is held back and commit
    bool packed = false;
    std::size_t footprint = 0;  // counted in held_ while it waits
  };
  struct Connection {
    Connection(MYSQL* mysql, StatementLoader::Limits limits) : loader(mysql, limits) {}
    StatementLoader loader;
    std::deque<Item> queue;
    std::size_t bytes = 0;  // the footprints handed over and not yet sent
    bool sending = false;
    std::uint64_t rows = 0;
    std::condition_variable wake;
  };

  void Work(Connection& connection);
  // Sends what an item holds; false when a statement failed or the load stops.
  bool Send(Connection& connection, const Item& item);
  // Take with the statement's text, which is `own` when that holds it.
  bool Route(std::string_view statement, StatementText& own, std::uint64_t line);
  // The connection that makes the table of a CREATE TABLE, or loads the rows
  // of a row statement; nullopt for any other statement.
  // `rows` is the statement read as rows, when it is.
  std::optional<std::size_t> RowsLoader(std::string_view statement,
                                        const std::optional<RowInsert>& rows);
  // Hands over the keys of the table whose rows came last, unless `rows`
  // are more of its rows.
  void AddKeysUnlessRowsOf(const std::optional<RowInsert>& rows,
                           std::unique_lock<std::mutex>& lock);
  void Hand(std::size_t to, Item item, std::unique_lock<std::mutex>& lock);
  static RowsAt Locate(const std::optional<RowInsert>& rows, std::string_view statement);
  // Hands over `statement`: in `own`'s buffer when that holds it, else
  // copied (into a pack when short).
  void HandText(std::size_t to, std::string_view statement, StatementText& own, std::uint64_t line,
                const RowsAt& at, std::unique_lock<std::mutex>& lock);
  void HandCopy(std::size_t to, std::string_view statement, std::uint64_t line, const RowsAt& at,
                std::unique_lock<std::mutex>& lock);
  // Each connection sends what it holds and commits (the first one only
  // with `first`: what runs on it next needs no other's locks); waits until
  // all have. False when one failed.
  bool Settle(std::unique_lock<std::mutex>& lock, bool first);
  bool Idle(std::size_t connection) const;
  // The connection with the least at hand, for a new table.
  std::size_t LeastBusy() const;

  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<std::thread> threads_;
  mutable std::mutex mutex_;
  std::condition_variable settled_;  // the reader waits on it
  std::size_t held_ = 0;             // the footprints handed over and not yet sent
  bool failed_ = false;
  // Tells the connections to stop after their statement at hand: a failure
  // or the end of the load. Read without the lock between statements.
  std::atomic<bool> quit_ = false;
  StatementLoader::Failure failure_;
  // Reader's own: which connection loads which table, and whether the
  // connections other than the first may be at work.
  std::map<std::string, std::size_t, std::less<>> owners_;
  bool parallel_ = true;
  std::string table_;
  struct PendingKeys {
    std::string table;
    std::string addKeys;
    std::uint64_t line = 0;  // of the table's CREATE TABLE
    std::size_t connection = 0;
  };
  std::optional<PendingKeys> pendingKeys_;
};

}  // namespace vaultwick
