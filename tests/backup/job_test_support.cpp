#include "tests/backup/job_test_support.h"

#include <chrono>

#include "backup/run_backup_job.h"

namespace vaultwick::test {

std::shared_ptr<StandInProgressWindow> StandInProgressWindow::Open(BackupRequest* request,
                                                                   Options options) {
  std::shared_ptr<StandInProgressWindow> window(
      new StandInProgressWindow(request, std::move(options)));
  window->thread_ = std::thread(&StandInProgressWindow::ThreadMain, window.get());
  return window;
}

StandInProgressWindow::~StandInProgressWindow() {
  Close();
  Join();
}

void StandInProgressWindow::ThreadMain() {
  // Keeps this object alive while its thread runs, also when the request
  // (which holds the other reference) is freed here.
  std::shared_ptr<StandInProgressWindow> self = shared_from_this();
  if (!options_.failToCreate) {
    request_->progressWindow = self;
  }
  // From here on the worker may free the request (no window, or closed).
  worker_ = StartBackupJob(request_);
  workerStarted_ = worker_.joinable();
  if (options_.failToCreate || !workerStarted_) {
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return closeRequested_ || !pending_.empty(); });
    if (pending_.empty()) {
      break;
    }
    std::string text = std::move(pending_.front());
    pending_.pop_front();
    shown_.push_back(text);
    if (options_.closeAfterText && options_.closeAfterText(text)) {
      break;  // the worker still waits for this text: it sees the window closed
    }
    ++taken_;
    changed_.notify_all();
  }
  lock.unlock();
  // The loop has ended: hand over, then let any waiting set-text return.
  freedRequest_ = CloseProgressWindow(request_);
  lock.lock();
  closed_ = true;
  changed_.notify_all();
}

void StandInProgressWindow::SetStatusText(const std::string& text) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) {
    return;
  }
  pending_.push_back(text);
  std::uint64_t mine = ++posted_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return closed_ || taken_ >= mine; });
}

void StandInProgressWindow::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closeRequested_ = true;
  changed_.notify_all();
}

void StandInProgressWindow::Join() {
  // The window's thread first: it is the one that stores worker_.
  for (std::thread* thread : {&thread_, &worker_}) {
    if (!thread->joinable()) {
      continue;
    }
    if (thread->get_id() == std::this_thread::get_id()) {
      thread->detach();  // the last reference went with this very thread
    } else {
      thread->join();
    }
  }
}

std::vector<std::string> StandInProgressWindow::Texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_;
}

struct OutcomeSlot {
  std::mutex mutex;
  std::condition_variable arrived;
  std::optional<BackupOutcome> outcome;
};

std::shared_ptr<OutcomeSlot> OutcomeBox::MakeSlot() {
  return std::make_shared<OutcomeSlot>();
}

void OutcomeBox::Attach(BackupRequest& request) {
  request.onOutcome = [slot = slot_](const BackupOutcome& outcome) {
    std::lock_guard<std::mutex> lock(slot->mutex);
    slot->outcome = outcome;
    slot->arrived.notify_all();
  };
}

std::optional<BackupOutcome> OutcomeBox::Wait(int seconds) {
  std::unique_lock<std::mutex> lock(slot_->mutex);
  slot_->arrived.wait_for(lock, std::chrono::seconds(seconds),
                          [&] { return slot_->outcome.has_value(); });
  return slot_->outcome;
}

void RecordingMessageBox::ShowError(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(text);
}

std::vector<std::string> RecordingMessageBox::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

}  // namespace vaultwick::test
