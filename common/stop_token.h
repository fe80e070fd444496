#pragma once

// How work is asked to stop early. Whoever may ask (a signal taker, the job
// runner at shutdown, a closed window) and whatever looks (a job, a copy, a
// read loop, the archive writer) hold copies of one token; a copy costs a
// reference count. A stop once asked is never taken back, so a look that saw
// it need not look again.
//
// Work that sees a stop ends at its next step and says so with the one text
// kTextStoppedOnRequest.

#include <atomic>
#include <memory>
#include <utility>

#include "common/check.h"

namespace vaultwick {

inline constexpr const char* kTextStoppedOnRequest = "Stopped on request";

class StopToken {
 public:
  // A token of its own that nobody has stopped yet.
  StopToken() : flag_(std::make_shared<std::atomic<bool>>(false)) {}

  // A token that nothing can stop, for callers that never stop their work.
  // It allocates nothing (callers that promise not to throw may make one).
  static StopToken Never() noexcept { return StopToken(nullptr); }

  // Every copy of this token, and every token that answers to it (Or), reads
  // as stopped from now on.
  void RequestStop() const noexcept {
    VW_ASSERT(flag_ != nullptr);  // Never() is for work nobody stops
    if (flag_ != nullptr) {
      flag_->store(true, std::memory_order_release);
    }
  }

  bool StopRequested() const noexcept {
    return (flag_ != nullptr && flag_->load(std::memory_order_acquire)) ||
           (also_ != nullptr && also_->load(std::memory_order_acquire));
  }

  // A token that reads as stopped once this one or `other` is, for work that
  // two askers may end; asking it to stop asks this one. One level only: an
  // answer to a token that already answers to another would lose that one.
  StopToken Or(const StopToken& other) const noexcept {
    VW_ASSERT(also_ == nullptr && other.also_ == nullptr);
    StopToken both(flag_);
    both.also_ = other.flag_;
    return both;
  }

 private:
  explicit StopToken(std::shared_ptr<std::atomic<bool>> flag) noexcept : flag_(std::move(flag)) {}

  std::shared_ptr<std::atomic<bool>> flag_;
  std::shared_ptr<std::atomic<bool>> also_;
};

}  // namespace vaultwick
