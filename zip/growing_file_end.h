#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace vaultwick {

// The end of a file that one thread is still appending to while another packs
// it with ZipGrowingFile: the appending thread says when the file is whole, or
// that it never will be.
class GrowingFileEnd {
 public:
  enum class State { Growing, Complete, Abandoned };

  GrowingFileEnd();
  ~GrowingFileEnd();
  GrowingFileEnd(const GrowingFileEnd&) = delete;
  GrowingFileEnd& operator=(const GrowingFileEnd&) = delete;

  // Only the first call counts.
  void finish(bool complete);
  State state() const { return state_.load(); }
  // Becomes readable once the file is finished; -1 when none could be made.
  int descriptor() const { return event_; }
  void waitFinished();

 private:
  std::atomic<State> state_{State::Growing};
  const int event_;
  std::mutex mutex_;
  std::condition_variable finished_;
};

}  // namespace vaultwick
