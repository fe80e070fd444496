#include "platform/http_post.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vaultwick {
namespace {

// Between tries, unless the deadline comes first.
constexpr std::chrono::milliseconds kRetryPause{500};

// The library's global set-up is not safe against a concurrent first use.
void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The answer's body is not wanted; reading it keeps the peer from blocking.
std::size_t Discard(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

struct Try {
  std::string problem;
  bool worthRetrying = false;
};

Try PostOnce(const HttpPost& post, std::chrono::milliseconds timeLeft) {
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    return {"the HTTP library could not start", false};
  }
  std::unique_ptr<curl_slist, HeaderListDeleter> headers;
  std::vector<std::string> lines{"Content-Type: " + post.contentType};
  lines.insert(lines.end(), post.headers.begin(), post.headers.end());
  for (const std::string& line : lines) {
    curl_slist* longer = curl_slist_append(headers.get(), line.c_str());
    if (longer == nullptr) {
      return {"out of memory for the request's headers", false};
    }
    headers.release();
    headers.reset(longer);
  }
  char error[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, post.url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, post.body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post.body.size()));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS,
                   static_cast<long>(std::max<long long>(1, timeLeft.count())));
  // Threads of our own: the library must not use signals for its timeouts.
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  const CURLcode result = curl_easy_perform(c);
  if (result != CURLE_OK) {
    const bool refused = result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_URL_MALFORMAT ||
                         result == CURLE_PEER_FAILED_VERIFICATION;
    return {error[0] != '\0' ? error : curl_easy_strerror(result), !refused};
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 200 && status < 300) {
    return {};
  }
  return {"the server answered HTTP " + std::to_string(status), status >= 500 || status == 429};
}

}  // namespace

std::string PostHttp(const HttpPost& post) {
  using std::chrono::steady_clock;
  InitialiseOnce();
  Try last;
  for (int attempt = 0; attempt <= post.retries; ++attempt) {
    if (attempt > 0) {
      if (steady_clock::now() + kRetryPause >= post.deadline) {
        break;
      }
      std::this_thread::sleep_for(kRetryPause);
    }
    const auto timeLeft =
        std::chrono::duration_cast<std::chrono::milliseconds>(post.deadline - steady_clock::now());
    if (timeLeft.count() <= 0) {
      if (last.problem.empty()) {
        last.problem = "no time was left to send it";
      }
      break;
    }
    last = PostOnce(post, timeLeft);
    if (last.problem.empty() || !last.worthRetrying) {
      break;
    }
  }
  return last.problem;
}

}  // namespace vaultwick
