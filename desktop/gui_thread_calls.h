#pragma once

// Lets a job's worker thread hand work to the GUI thread, where every widget
// lives, without ever waiting for it: each call is queued and runs later on
// the receiver's thread. The receiver may go away at any time (a progress
// window closes); calls that come after that, or that were still queued, are
// dropped. Shared between the receiver's owner and the threads that post.
//
// The calls travel in a queue of our own under our own mutex, and only a bare
// wake-up event crosses Qt's event queue: Qt's queue synchronises in code the
// thread sanitizer cannot see, so a call handed through it would look like a
// race on everything it captured.

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace vaultwick {

class GuiThreadCalls : public std::enable_shared_from_this<GuiThreadCalls> {
 public:
  // Called on the receiver's thread.
  static std::shared_ptr<GuiThreadCalls> For(QObject* receiver);

  // Queues `call` to run on the receiver's thread. False when the receiver
  // is gone.
  bool Post(std::function<void()> call);

  // Called on the receiver's thread before the receiver is destroyed: no
  // call posted from now on reaches it, and the queued ones are dropped.
  void Detach();

 private:
  class Waker;
  friend class Waker;

  GuiThreadCalls() = default;
  void RunQueued();

  std::mutex mutex_;
  Waker* waker_ = nullptr;  // a child of the receiver; null once detached
  std::deque<std::function<void()>> queued_;
};

}  // namespace vaultwick
