#pragma once

// One run of a connection at a time, across every program that shares the
// store (the service, the tray program, `vaultwick backup --connection`):
// each run holds the connection's lock, an advisory lock on a file in a
// folder beside the store, "<store>.locks/<key>.lock". The kernel releases
// it when its process ends, however it ends, so a killed run never keeps
// the connection locked. Work that must not overlap a run of the
// connection (pruning its restore points) takes the same lock.

#include <string>
#include <string_view>

#include "platform/file_lock.h"

namespace vaultwick {

// Shown by whoever holds a connection's lock, to work that needs it held.
class HeldConnectionLock {
 public:
  virtual ~HeldConnectionLock() = default;
  virtual const std::string& Connection() const = 0;
};

// The lock file of `connection` for the store at `storePath`. Names that
// differ only in letter case share it, as they name one connection. The
// key is a file name for any connection name: the name's letters, digits,
// '-' and '_' (at most 40 of them) and a hash of the whole name.
std::string ConnectionLockPath(const std::string& storePath, std::string_view connection);

class ConnectionLock final : public HeldConnectionLock {
 public:
  // Tries once, without waiting.
  static ConnectionLock TryTake(const std::string& storePath, std::string_view connection);

  const std::string& Connection() const override { return connection_; }
  const std::string& path() const { return path_; }
  FileLock::State state() const { return lock_.state(); }
  bool held() const { return lock_.held(); }
  int error() const { return lock_.error(); }

 private:
  ConnectionLock(std::string connection, std::string path, FileLock lock)
      : connection_(std::move(connection)), path_(std::move(path)), lock_(std::move(lock)) {}

  std::string connection_;
  std::string path_;
  FileLock lock_;
};

}  // namespace vaultwick
