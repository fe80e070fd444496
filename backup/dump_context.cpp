#include "backup/dump_context_internal.h"

#include <errmsg.h>
#include <mysqld_error.h>

#include <cstring>

namespace vaultwick::dump {
namespace {

// MySQL's "client idle too long" error (MariaDB has no such code).
constexpr unsigned kMySqlClientInteractionTimeout = 4031;

// Errors after which the connection cannot be used again: every error the
// client library raises itself (server gone, connection lost, read timeout,
// out of memory, out of sync) and the server's own words for a connection it
// is closing.
bool IsConnectionError(unsigned code) {
  if ((code >= CR_MIN_ERROR && code <= CR_MAX_ERROR) ||
      (code >= CER_MIN_ERROR && code <= CER_MAX_ERROR)) {
    return true;
  }
  switch (code) {
    case ER_SERVER_SHUTDOWN:
    case ER_ABORTING_CONNECTION:
    case ER_NET_PACKET_TOO_LARGE:
    case ER_NET_READ_ERROR_FROM_PIPE:
    case ER_NET_FCNTL_ERROR:
    case ER_NET_PACKETS_OUT_OF_ORDER:
    case ER_NET_UNCOMPRESS_ERROR:
    case ER_NET_READ_ERROR:
    case ER_NET_READ_INTERRUPTED:
    case ER_NET_ERROR_ON_WRITE:
    case ER_NET_WRITE_INTERRUPTED:
    case ER_NEW_ABORTING_CONNECTION:
    case ER_CONNECTION_KILLED:
    case kMySqlClientInteractionTimeout:
      return true;
    default:
      return false;
  }
}

}  // namespace

DumpContext::DumpContext(MYSQL* connection, const char* dumpPath, const DumpStatusFn& status,
                         const StopToken& stop)
    : connection_(connection), file_(dumpPath), status_(status), stop_(stop), flush_([this] {
        return AppendText();
      }) {
  text_.reserve(kAppendThreshold + (1 << 16));
}

void DumpContext::Show(const std::string& text) const {
  if (status_) {
    status_(text.c_str());
  }
}

bool DumpContext::Run(const std::string& query) const {
  return mysql_real_query(connection_, query.data(), static_cast<unsigned long>(query.size())) == 0;
}

bool DumpContext::AppendText() {
  if (!file_.Append(text_)) {
    outcome_.writeFailed = true;
    outcome_.cause = std::strerror(file_.error());
  }
  text_.clear();
  return !outcome_.writeFailed;
}

bool DumpContext::QueryFailed(const std::string* what) {
  ++outcome_.failedQueries;
  const unsigned code = mysql_errno(connection_);
  const std::string text = code != 0 ? mysql_error(connection_) : "unexpected answer from server";
  const bool fatal = what == nullptr || IsConnectionError(code);
  // The cause is the first failure, unless a later one ended the dump.
  if (outcome_.cause.empty() || fatal) {
    outcome_.cause = text;
  }
  if (fatal) {
    outcome_.serverLost = true;
    return true;
  }
  NameFailed(*what);
  return false;
}

void DumpContext::ObjectFailed(const std::string& what, const std::string& cause) {
  ++outcome_.failedQueries;
  if (outcome_.cause.empty()) {
    outcome_.cause = cause;
  }
  NameFailed(what);
}

void DumpContext::NameFailed(const std::string& what) {
  for (const std::string& name : outcome_.failedTables) {
    if (name == what) {
      return;
    }
  }
  outcome_.failedTables.push_back(what);
}

}  // namespace vaultwick::dump
