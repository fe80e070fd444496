#include "restore/parallel_load.h"

#include "restore/deferred_keys.h"
#include "restore/dump_statements.h"

namespace vaultwick {

namespace {

// A connection tells the reader how far it got at least this often, so that
// a reader waiting for room can go on before a long batch is all sent.
constexpr std::size_t kReportEvery = 1 << 20;
// What the allocator adds to each block it hands out (its header and the
// rounding up to its alignment).
constexpr std::size_t kAllocationOverhead = 16;

// A session reads the defaults of its database when it selects it: each
// connection changes them for its own session (the database does not mind
// being told the same again).
constexpr std::string_view kAlterDatabase = "ALTER DATABASE ";

bool SetsSession(std::string_view statement) {
  // SET STATEMENT ... FOR runs the statement after FOR: once is enough.
  return statement.starts_with("SET ") && !statement.starts_with("SET STATEMENT ");
}

}  // namespace

ParallelLoad::ParallelLoad(const std::vector<MYSQL*>& connections, StatementLoader::Limits limits) {
  for (MYSQL* mysql : connections) {
    connections_.push_back(std::make_unique<Connection>(mysql, limits));
  }
  for (const std::unique_ptr<Connection>& connection : connections_) {
    threads_.emplace_back([this, &connection = *connection] { Work(connection); });
  }
}

ParallelLoad::~ParallelLoad() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    for (const std::unique_ptr<Connection>& connection : connections_) {
      connection->wake.notify_one();
    }
  }
  for (std::thread& thread : threads_) {
    thread.join();
  }
}

bool ParallelLoad::Take(StatementText& text, std::uint64_t line) {
  StatementText statement = text.Handed();
  std::unique_lock<std::mutex> lock(mutex_);
  if (failed_) {
    return false;
  }
  // Read once: every row passes here, under the lock the connections wait for.
  const std::optional<RowInsert> rows = SplitRowInsert(statement);
  AddKeysUnlessRowsOf(rows, lock);
  const bool everywhere = statement.view().starts_with(kAlterDatabase);
  if (everywhere && parallel_) {
    if (!Settle(lock, false)) {
      return false;
    }
    parallel_ = false;
  }
  if (everywhere || SetsSession(statement)) {
    for (std::size_t i = 1; i < connections_.size(); ++i) {
      Hand(i, Item{StatementText(statement), line}, lock);
    }
    Hand(0, Item{std::move(statement), line}, lock);
  } else if (const std::optional<std::size_t> loader = RowsLoader(statement, rows)) {
    // What runs on the first connection alone is done before rows go on.
    if (!parallel_) {
      settled_.wait(lock, [&] { return failed_ || Idle(0); });
      parallel_ = true;
    }
    if (CreatedTable(statement)) {
      if (std::optional<DeferredKeys> deferred = DeferPlainKeys(statement)) {
        pendingKeys_ = PendingKeys{table_, std::move(deferred->addKeys), line, *loader};
        statement = StatementText(deferred->create);
      }
    }
    Hand(*loader, Item{std::move(statement), line}, lock);
  } else {
    if (parallel_) {
      if (!Settle(lock, false)) {
        return false;
      }
      parallel_ = false;
    }
    Hand(0, Item{std::move(statement), line}, lock);
  }
  settled_.wait(lock, [&] { return failed_ || held_ < kHeldBytes; });
  return !failed_;
}

std::optional<std::size_t> ParallelLoad::RowsLoader(std::string_view statement,
                                                    const std::optional<RowInsert>& rows) {
  if (const std::optional<std::string_view> created = CreatedTable(statement)) {
    const std::size_t least = LeastBusy();
    owners_.insert_or_assign(std::string(*created), least);
    table_ = *created;
    return least;
  }
  if (rows) {
    if (const auto owner = owners_.find(rows->table); owner != owners_.end()) {
      return owner->second;
    }
  }
  return std::nullopt;
}

void ParallelLoad::AddKeysUnlessRowsOf(const std::optional<RowInsert>& rows,
                                       std::unique_lock<std::mutex>& lock) {
  if (!pendingKeys_ || (rows && rows->table == pendingKeys_->table)) {
    return;
  }
  Hand(pendingKeys_->connection, Item{StatementText(pendingKeys_->addKeys), pendingKeys_->line},
       lock);
  pendingKeys_.reset();
}

bool ParallelLoad::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (failed_) {
    return false;
  }
  AddKeysUnlessRowsOf(std::nullopt, lock);
  return Settle(lock, true);
}

StatementLoader::Failure ParallelLoad::failure() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

std::uint64_t ParallelLoad::rows() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t rows = 0;
  for (const std::unique_ptr<Connection>& connection : connections_) {
    rows += connection->rows;
  }
  return rows;
}

std::size_t ParallelLoad::held() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

unsigned ParallelLoad::AtWork() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  unsigned working = 0;
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    working += Idle(i) ? 0 : 1;
  }
  return working;
}

void ParallelLoad::Hand(std::size_t to, Item item, std::unique_lock<std::mutex>&) {
  Connection& connection = *connections_[to];
  const bool waiting = connection.queue.empty() && !connection.sending;
  const std::size_t buffer = item.statement.capacity();
  item.footprint = sizeof(Item) + buffer + (buffer != 0 ? kAllocationOverhead : 0);
  held_ += item.footprint;
  connection.bytes += item.footprint;
  connection.queue.push_back(std::move(item));
  if (waiting) {
    connection.wake.notify_one();
  }
}

bool ParallelLoad::Settle(std::unique_lock<std::mutex>& lock, bool first) {
  for (std::size_t i = first ? 0 : 1; i < connections_.size(); ++i) {
    Hand(i, Item{{}, 0, true}, lock);
  }
  settled_.wait(lock, [&] {
    if (failed_) {
      return true;
    }
    for (std::size_t i = 0; i < connections_.size(); ++i) {
      if (!Idle(i)) {
        return false;
      }
    }
    return true;
  });
  return !failed_;
}

bool ParallelLoad::Idle(std::size_t connection) const {
  return connections_[connection]->queue.empty() && !connections_[connection]->sending;
}

std::size_t ParallelLoad::LeastBusy() const {
  std::size_t least = 0;
  for (std::size_t i = 1; i < connections_.size(); ++i) {
    if (connections_[i]->bytes < connections_[least]->bytes) {
      least = i;
    }
  }
  return least;
}

void ParallelLoad::Work(Connection& connection) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    connection.wake.wait(lock, [&] { return quit_ || !connection.queue.empty(); });
    if (quit_) {
      return;
    }
    std::deque<Item> items;
    items.swap(connection.queue);
    connection.sending = true;
    lock.unlock();
    std::size_t sent = 0;
    bool failed = false;
    for (Item& item : items) {
      failed = quit_ || !(item.commit ? connection.loader.Finish()
                                      : connection.loader.Take(item.statement, item.line));
      if (failed) {
        break;
      }
      sent += item.footprint;
      item.statement = StatementText();
      if (sent >= kReportEvery) {
        lock.lock();
        held_ -= sent;
        connection.bytes -= sent;
        connection.rows = connection.loader.rows();
        lock.unlock();
        settled_.notify_one();
        sent = 0;
      }
    }
    lock.lock();
    held_ -= sent;
    connection.bytes -= sent;
    connection.rows = connection.loader.rows();
    connection.sending = false;
    if (failed && !quit_) {
      failed_ = true;
      quit_ = true;
      failure_ = connection.loader.failure();
      for (const std::unique_ptr<Connection>& other : connections_) {
        other->wake.notify_one();
      }
    }
    settled_.notify_one();
  }
}

}  // namespace vaultwick
