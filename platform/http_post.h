#pragma once

// One HTTP(S) POST of a small body, for telling another service something
// (an alert to a chat's incoming webhook, say). The peer's certificate and
// host name are always verified; the whole exchange, retries included, ends
// by a deadline, so a peer that hangs never keeps the caller longer. Safe to
// call from several threads at once.

#include <chrono>
#include <string>
#include <vector>

namespace vaultwick {

struct HttpPost {
  std::string url;
  // Extra header lines, "Name: value" each.
  std::vector<std::string> headers;
  std::string contentType = "application/json";
  std::string body;
  std::chrono::steady_clock::time_point deadline;
  // Tries after the first one fails (no answer, or an answer of 5xx or 429).
  int retries = 2;
};

// Empty when the peer answered 2xx; else why not (the last try's reason).
std::string PostHttp(const HttpPost& post);

}  // namespace vaultwick
