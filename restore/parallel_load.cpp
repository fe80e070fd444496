#include "restore/parallel_load.h"

#include <algorithm>
#include <cstring>

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
// A pack takes this much at least: statements go on into it while its
// connection is busy, one allocation for hundreds of rows instead of one
// each. Only statements up to kLongestCopied are packed, so a pack of a
// short statement is never a large buffer.
constexpr std::size_t kPackBytes = StatementText::kLongestCopied;

// What goes before each statement in a pack. A packed statement is short
// enough for 32-bit sizes.
struct PackedStatement {
  std::uint64_t line;
  std::uint32_t size;
  std::uint32_t headSize;
  std::uint32_t tableAt;
  std::uint32_t tableSize;
};

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

bool ParallelLoad::Take(StatementText& statement, std::uint64_t line) {
  // A long statement goes on in the reader's buffer, taken along; a short
  // one is copied, and the buffer is kept for the next.
  StatementText own;
  if (statement.size() > StatementText::kLongestCopied) {
    own = std::move(statement);
  }
  const bool taken = Route(own.empty() ? statement.view() : own.view(), own, line);
  statement.clear();
  return taken;
}

bool ParallelLoad::Route(std::string_view statement, StatementText& own, std::uint64_t line) {
  // Read once, and before the lock the connections wait for: every row
  // passes here.
  const std::optional<RowInsert> rows = SplitRowInsert(statement);
  const RowsAt at = Locate(rows, statement);
  std::unique_lock<std::mutex> lock(mutex_);
  if (failed_) {
    return false;
  }
  AddKeysUnlessRowsOf(rows, lock);
  const bool everywhere = statement.starts_with(kAlterDatabase);
  if (everywhere && parallel_) {
    if (!Settle(lock, false)) {
      return false;
    }
    parallel_ = false;
  }
  if (everywhere || SetsSession(statement)) {
    for (std::size_t i = 1; i < connections_.size(); ++i) {
      HandCopy(i, statement, line, at, lock);
    }
    HandText(0, statement, own, line, at, lock);
  } else if (const std::optional<std::size_t> loader = RowsLoader(statement, rows)) {
    // What runs on the first connection alone is done before rows go on.
    if (!parallel_) {
      settled_.wait(lock, [&] { return failed_ || Idle(0); });
      parallel_ = true;
    }
    std::optional<DeferredKeys> deferred;
    if (CreatedTable(statement)) {
      deferred = DeferPlainKeys(statement);
    }
    if (deferred) {
      pendingKeys_ = PendingKeys{table_, std::move(deferred->addKeys), line, *loader};
      HandCopy(*loader, deferred->create, line, {}, lock);
    } else {
      HandText(*loader, statement, own, line, at, lock);
    }
  } else {
    if (parallel_) {
      if (!Settle(lock, false)) {
        return false;
      }
      parallel_ = false;
    }
    HandText(0, statement, own, line, at, lock);
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
  HandCopy(pendingKeys_->connection, pendingKeys_->addKeys, pendingKeys_->line, {}, lock);
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

ParallelLoad::RowsAt ParallelLoad::Locate(const std::optional<RowInsert>& rows,
                                          std::string_view statement) {
  if (!rows) {
    return {};
  }
  return {rows->head.size(), static_cast<std::size_t>(rows->table.data() - statement.data()),
          rows->table.size()};
}

void ParallelLoad::HandText(std::size_t to, std::string_view statement, StatementText& own,
                            std::uint64_t line, const RowsAt& at,
                            std::unique_lock<std::mutex>& lock) {
  if (own.empty()) {
    HandCopy(to, statement, line, at, lock);
    return;
  }
  Hand(to, Item{.statement = std::move(own), .line = line, .rows = at}, lock);
}

void ParallelLoad::HandCopy(std::size_t to, std::string_view statement, std::uint64_t line,
                            const RowsAt& at, std::unique_lock<std::mutex>& lock) {
  if (statement.size() > StatementText::kLongestCopied) {
    Hand(to, Item{.statement = StatementText(statement), .line = line, .rows = at}, lock);
    return;
  }
  // Into the pack at the end of the connection's queue, which it has not
  // taken yet, when there is room; else into a new one. A pack never grows:
  // its footprint stays what was counted when it was handed over.
  std::deque<Item>& queue = connections_[to]->queue;
  const std::size_t size = sizeof(PackedStatement) + statement.size();
  if (queue.empty() || !queue.back().packed ||
      queue.back().statement.capacity() - queue.back().statement.size() < size) {
    Item pack;
    pack.packed = true;
    pack.statement.reserve(std::max(kPackBytes, size));
    Hand(to, std::move(pack), lock);
  }
  const PackedStatement header{
      line, static_cast<std::uint32_t>(statement.size()), static_cast<std::uint32_t>(at.headSize),
      static_cast<std::uint32_t>(at.tableAt), static_cast<std::uint32_t>(at.tableSize)};
  StatementText& pack = queue.back().statement;
  pack.append(std::string_view(reinterpret_cast<const char*>(&header), sizeof(header)));
  pack.append(statement);
}

bool ParallelLoad::Settle(std::unique_lock<std::mutex>& lock, bool first) {
  for (std::size_t i = first ? 0 : 1; i < connections_.size(); ++i) {
    Hand(i, Item{.commit = true}, lock);
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
  // Kept from round to round, as the queue it trades places with is: a
  // deque takes memory for its blocks even when empty.
  std::deque<Item> items;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    connection.wake.wait(lock, [&] { return quit_ || !connection.queue.empty(); });
    if (quit_) {
      return;
    }
    items.swap(connection.queue);
    connection.sending = true;
    lock.unlock();
    std::size_t sent = 0;
    bool failed = false;
    for (Item& item : items) {
      failed = quit_ || !Send(connection, item);
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
    items.clear();
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

bool ParallelLoad::Send(Connection& connection, const Item& item) {
  const auto send = [&](std::string_view statement, std::uint64_t line, const RowsAt& at) {
    if (at.headSize == 0) {
      return connection.loader.Take(statement, line, std::nullopt);
    }
    return connection.loader.Take(
        statement, line,
        RowInsert{statement.substr(0, at.headSize), statement.substr(at.tableAt, at.tableSize),
                  statement.substr(at.headSize)});
  };
  if (item.commit) {
    return connection.loader.Finish();
  }
  if (!item.packed) {
    return send(item.statement.view(), item.line, item.rows);
  }
  for (std::string_view rest = item.statement.view(); !rest.empty();) {
    PackedStatement header;
    std::memcpy(&header, rest.data(), sizeof(header));
    rest.remove_prefix(sizeof(header));
    const std::string_view statement = rest.substr(0, header.size);
    rest.remove_prefix(header.size);
    if (quit_ ||
        !send(statement, header.line, {header.headSize, header.tableAt, header.tableSize})) {
      return false;
    }
  }
  return true;
}

}  // namespace vaultwick
