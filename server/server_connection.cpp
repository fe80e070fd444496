#include "server/server_connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include "server/server_address.h"
#include "server/tls.h"

namespace vaultwick {
namespace {

using Clock = std::chrono::steady_clock;

// How long a stop may go unseen while the work waits for the server.
constexpr std::chrono::milliseconds kStopSlice{100};

// The client library sets up process-wide state on first use; doing that from
// several threads at once is not safe, so it happens once, here.
void InitClientLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

void SetTimeouts(MYSQL* handle, const ConnectionTimeouts& timeouts) {
  unsigned connect = timeouts.connectSeconds;
  unsigned readWrite = timeouts.readWriteSeconds;
  mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &connect);
  mysql_options(handle, MYSQL_OPT_READ_TIMEOUT, &readWrite);
  mysql_options(handle, MYSQL_OPT_WRITE_TIMEOUT, &readWrite);
}

// Waits for what a non-blocking call of the client library asked for
// (MYSQL_WAIT_* bits) and returns what happened in the same terms, or 0 when
// a stop was requested first. A wait the library bounded ends with
// MYSQL_WAIT_TIMEOUT when that time is up.
int WaitForServer(MYSQL* handle, int waitFor, const StopToken& stop) {
  pollfd socket{};
  socket.fd = mysql_get_socket(handle);
  socket.events = static_cast<short>(((waitFor & MYSQL_WAIT_READ) ? POLLIN : 0) |
                                     ((waitFor & MYSQL_WAIT_WRITE) ? POLLOUT : 0) |
                                     ((waitFor & MYSQL_WAIT_EXCEPT) ? POLLPRI : 0));
  const bool bounded = (waitFor & MYSQL_WAIT_TIMEOUT) != 0;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(mysql_get_timeout_value_ms(handle));
  for (;;) {
    if (stop.StopRequested()) {
      return 0;
    }
    std::chrono::milliseconds slice = kStopSlice;
    if (bounded) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        return MYSQL_WAIT_TIMEOUT;
      }
      slice = std::min(slice, left);
    }
    int ready = ::poll(&socket, 1, static_cast<int>(slice.count()));
    if (ready < 0 && errno != EINTR) {
      return MYSQL_WAIT_TIMEOUT;  // the library then fails the call with its own text
    }
    if (ready > 0) {
      // An error or hang-up is handed on as the event the library waits for,
      // so that its next read or write reports it.
      const bool failed = (socket.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
      int happened = 0;
      if ((socket.revents & POLLIN) || (failed && (waitFor & MYSQL_WAIT_READ))) {
        happened |= MYSQL_WAIT_READ;
      }
      if ((socket.revents & POLLOUT) || (failed && (waitFor & MYSQL_WAIT_WRITE))) {
        happened |= MYSQL_WAIT_WRITE;
      }
      if (socket.revents & POLLPRI) {
        happened |= MYSQL_WAIT_EXCEPT;
      }
      return happened;
    }
  }
}

}  // namespace

ServerConnection::ServerConnection(StopToken stop) : stop_(std::move(stop)) {}

ServerConnection::~ServerConnection() {
  Close();
}

ServerConnection::Opened ServerConnection::Open(const ServerLogin& login) {
  const Opened opened = Connect(login);
  if (opened == Opened::Stopped) {
    error_ = kTextStoppedOnRequest;
  }
  return opened;
}

ServerConnection::Opened ServerConnection::Connect(const ServerLogin& login) {
  const std::optional<ServerAddress> address = ParseServerAddress(login.host);
  if (!address) {
    error_ = "Not a server address: \"" + login.host + "\"";
    return Opened::BadAddress;
  }
  InitClientLibraryOnce();
  handle_ = mysql_init(nullptr);
  if (handle_ == nullptr) {
    error_ = "the client library could not make a connection handle";
    return Opened::Refused;
  }
  SetTimeouts(handle_, login.timeouts);
  // Never on the quiet: a new connection would have another socket than the
  // one the watcher cuts, and a dump resumed on it would not be one snapshot.
  my_bool reconnect = 0;
  mysql_options(handle_, MYSQL_OPT_RECONNECT, &reconnect);
  if (address->portGiven) {
    unsigned tcp = MYSQL_PROTOCOL_TCP;
    mysql_options(handle_, MYSQL_OPT_PROTOCOL, &tcp);
  }
  ApplyTls(handle_, login.tls);
  // Blocking calls still work on a handle set up like this; only the connect
  // is driven step by step.
  mysql_options(handle_, MYSQL_OPT_NONBLOCK, nullptr);

  MYSQL* connected = nullptr;
  int waitFor =
      mysql_real_connect_start(&connected, handle_, address->host.c_str(), login.login.c_str(),
                               login.password.c_str(), nullptr, address->port, nullptr, 0);
  while (waitFor != 0) {
    int happened = WaitForServer(handle_, waitFor, stop_);
    if (happened == 0) {
      return Opened::Stopped;  // Close() abandons the half-made connection
    }
    waitFor = mysql_real_connect_cont(&connected, handle_, happened);
  }
  if (connected == nullptr) {
    error_ = TlsRefusal(handle_, login.tls, address->host).value_or(mysql_error(handle_));
    return Opened::Refused;
  }
  if (std::optional<std::string> refusal = MissingTls(handle_, login.tls)) {
    error_ = *refusal;
    return Opened::Refused;  // Close() ends the connection unused
  }
  connected_ = true;
  socket_ = mysql_get_socket(handle_);
  watcher_ = std::thread(&ServerConnection::Watch, this);
  return Opened::Connected;
}

std::string ServerConnection::Error() const {
  if (!connected_ && !error_.empty()) {
    return error_;
  }
  if (handle_ != nullptr && mysql_errno(handle_) != 0) {
    return mysql_error(handle_);
  }
  return error_;
}

void ServerConnection::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!closed_) {
    if (stop_.StopRequested()) {
      // Under the lock, so that Close cannot have released the socket yet:
      // the descriptor is still the connection's own.
      ::shutdown(socket_, SHUT_RDWR);
      return;
    }
    closing_.wait_for(lock, kStopSlice);
  }
}

void ServerConnection::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    socket_ = -1;
  }
  closing_.notify_all();
  if (watcher_.joinable()) {
    watcher_.join();
  }
  if (handle_ != nullptr) {
    mysql_close(handle_);
    handle_ = nullptr;
    connected_ = false;
  }
}

}  // namespace vaultwick
