#pragma once

// What the job tests share: a stand-in for the progress window that plays the
// window's side of the hand-over on a thread of its own, a request that counts
// its frees, and a place to wait for a job's outcome.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backup/backup_request.h"

namespace vaultwick::test {

// The progress window's side of the protocol without a window: its thread
// stores the window in the request (unless told to fail to make one), then
// starts the worker, then runs a "message loop" that takes status texts until
// the window is closed, and finally sets windowClosed and frees the request
// if the job has already finished. SetStatusText waits until the window's
// thread has taken the text, as a window's set-text call would.
class StandInProgressWindow : public StatusTextPort,
                              public std::enable_shared_from_this<StandInProgressWindow> {
 public:
  struct Options {
    bool failToCreate = false;
    // Runs on the window's thread for each text while the worker waits; true
    // closes the window right after that text, before the worker goes on.
    std::function<bool(const std::string& text)> closeAfterText;
  };

  static std::shared_ptr<StandInProgressWindow> Open(BackupRequest* request, Options options);
  ~StandInProgressWindow() override;

  void SetStatusText(const std::string& text) override;
  // The user closes the window (from any thread; returns at once).
  void Close();
  // Waits for the window's thread and the job's thread to end.
  void Join();

  std::vector<std::string> Texts() const;
  bool FreedRequest() const { return freedRequest_.load(); }
  bool WorkerStarted() const { return workerStarted_.load(); }

 private:
  StandInProgressWindow(BackupRequest* request, Options options)
      : request_(request), options_(std::move(options)) {}
  void ThreadMain();

  BackupRequest* request_;
  Options options_;
  std::thread thread_;
  std::thread worker_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> pending_;
  std::vector<std::string> shown_;
  std::uint64_t posted_ = 0;
  std::uint64_t taken_ = 0;
  bool closeRequested_ = false;
  bool closed_ = false;
  std::atomic<bool> freedRequest_{false};
  std::atomic<bool> workerStarted_{false};
};

// A request that counts how often it is freed.
class CountedRequest : public BackupRequest {
 public:
  explicit CountedRequest(std::shared_ptr<std::atomic<int>> frees) : frees_(std::move(frees)) {}
  ~CountedRequest() override { frees_->fetch_add(1); }

 private:
  std::shared_ptr<std::atomic<int>> frees_;
};

struct OutcomeSlot;

// Receives a job's outcome (install with Attach) and lets the test wait for it.
class OutcomeBox {
 public:
  void Attach(BackupRequest& request);
  // The outcome, or nullopt when none came within the time limit.
  std::optional<BackupOutcome> Wait(int seconds = 120);

 private:
  std::shared_ptr<OutcomeSlot> slot_ = MakeSlot();
  static std::shared_ptr<OutcomeSlot> MakeSlot();
};

// Records the copy-failure messages a job shows.
class RecordingMessageBox : public MessageBoxPort {
 public:
  void ShowError(const std::string& text) override;
  std::vector<std::string> Messages() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

}  // namespace vaultwick::test
