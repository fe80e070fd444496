#pragma once

// A connection to the server, with what a plain blocking connection lacks:
// - it connects without blocking and waits in short slices, so that a stop
//   is seen at once even when the server accepts and then says nothing;
// - timeouts for connecting, reading and writing, so that a silent server
//   cannot hold the work for ever;
// - while it is open, a watcher thread cuts the connection (shuts its socket
//   down) once a stop is requested, so that a query waiting for the server (a
//   locked table, a slow view) fails at once instead of holding the stop;
// - a port given with the host makes it use TCP, never the local socket;
// - TLS as the login's mode asks (server/tls.h): a server that cannot meet
//   it is refused with the reason, before anything is read.

#include <mysql.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "common/server_login.h"
#include "common/stop_token.h"

namespace vaultwick {

inline constexpr const char* kTextCantConnect = "Can't connect to MySQL server";

class ServerConnection {
 public:
  enum class Opened {
    Connected,
    BadAddress,  // the host names no server (see ParseServerAddress)
    Refused,     // the server could not be reached or refused the login
    Stopped,     // the stop came first
  };

  // `stop` also cuts the open connection (see above); StopToken::Never() for
  // a connection that must do its work whatever stops.
  explicit ServerConnection(StopToken stop);
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;
  ~ServerConnection();

  // Connects to the server of `login` with its timeouts, without selecting a
  // database. Anything but Connected leaves Error() saying why: the address
  // that is none, the server's (or the client library's) text, or
  // kTextStoppedOnRequest. Called once.
  Opened Open(const ServerLogin& login);

  // The open connection for the client library's blocking calls; null before
  // a successful Open and after Close.
  MYSQL* get() const { return connected_ ? handle_ : nullptr; }

  // The client library's text for the last failure.
  std::string Error() const;

  // Ends the watcher and closes the connection; call it as soon as the server
  // is no longer needed. Safe to call more than once.
  void Close();

 private:
  Opened Connect(const ServerLogin& login);
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
