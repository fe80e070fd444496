#pragma once

// Lets a job's worker thread hand work to the GUI thread, where every widget
// lives, without ever waiting for it: each call is queued to a receiver
// object and runs later on the receiver's thread. The receiver may go away at
// any time (a progress window closes); calls that come after that, or that
// were still queued, are dropped. Shared between the receiver's owner and the
// threads that post.

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

namespace vaultwick {

class GuiThreadCalls {
 public:
  explicit GuiThreadCalls(QObject* receiver) : receiver_(receiver) {}

  static std::shared_ptr<GuiThreadCalls> For(QObject* receiver) {
    return std::make_shared<GuiThreadCalls>(receiver);
  }

  // Queues `call` to run on the receiver's thread. False when the receiver
  // is gone.
  bool Post(std::function<void()> call);

  // Called on the receiver's thread before the receiver is destroyed: no
  // call posted from now on reaches it.
  void Detach();

 private:
  std::mutex mutex_;
  QObject* receiver_;
};

}  // namespace vaultwick
