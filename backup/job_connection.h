#pragma once

// The backup job's connection to the server, with what a plain blocking
// connection lacks:
// - it connects without blocking and waits in short slices, so that a stop
//   is seen at once even when the server accepts and then says nothing;
// - timeouts for connecting, reading and writing, so that a silent server
//   cannot hold a job for ever;
// - while it is open, a watcher thread cuts the connection (shuts its socket
//   down) once a stop is requested, so that a query waiting for the server (a
//   locked table, a slow view) fails at once instead of holding the stop;
// - a port given with the host makes it use TCP, never the local socket.

#include <mysql.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "backup/backup_request.h"
#include "backup/server_address.h"
#include "common/stop_token.h"

namespace vaultwick {

class JobConnection {
 public:
  enum class Opened { Connected, Failed, Stopped };

  explicit JobConnection(StopToken stop);
  JobConnection(const JobConnection&) = delete;
  JobConnection& operator=(const JobConnection&) = delete;
  ~JobConnection();

  // Connects without selecting a database. On Failed, Error() says why.
  Opened Open(const ServerAddress& address, const std::string& login, const std::string& password,
              const ConnectionTimeouts& timeouts);

  // The open connection for the client library's blocking calls; null before
  // a successful Open and after Close.
  MYSQL* get() const { return connected_ ? handle_ : nullptr; }

  // The client library's text for the last failure.
  std::string Error() const;

  // Ends the watcher and closes the connection; the job calls it as soon as it
  // no longer needs the server. Safe to call more than once.
  void Close();

 private:
  void Watch();

  const StopToken stop_;
  MYSQL* handle_ = nullptr;
  bool connected_ = false;
  std::string error_;

  std::mutex mutex_;
  std::condition_variable closing_;
  bool closed_ = false;  // guarded by mutex_
  int socket_ = -1;      // guarded by mutex_; -1 from the moment Close begins
  std::thread watcher_;
};

}  // namespace vaultwick
