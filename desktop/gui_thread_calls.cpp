#include "desktop/gui_thread_calls.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

namespace vaultwick {

// Lives on the receiver's thread as its child, so it goes with the receiver,
// and Qt drops the wake-ups still posted to it.
class GuiThreadCalls::Waker : public QObject {
 public:
  Waker(QObject* receiver, std::weak_ptr<GuiThreadCalls> calls)
      : QObject(receiver), calls_(std::move(calls)) {}

  ~Waker() override {
    if (auto calls = calls_.lock()) {
      calls->Detach();
    }
  }

  // Every event it gets is a wake-up; the event itself is never read, since
  // it was made on the posting thread.
  // A call may destroy the receiver, and this waker with it.
  bool event(QEvent* event) override {
    QPointer<Waker> alive(this);
    if (auto calls = calls_.lock()) {
      calls->RunQueued();
    }
    return alive.isNull() ? true : QObject::event(event);
  }

 private:
  std::weak_ptr<GuiThreadCalls> calls_;
};

std::shared_ptr<GuiThreadCalls> GuiThreadCalls::For(QObject* receiver) {
  std::shared_ptr<GuiThreadCalls> calls(new GuiThreadCalls());
  calls->waker_ = new Waker(receiver, calls);
  return calls;
}

bool GuiThreadCalls::Post(std::function<void()> call) {
  // The lock keeps the waker alive while the wake-up is posted: it is
  // destroyed only after Detach, which takes the same lock.
  std::lock_guard<std::mutex> lock(mutex_);
  if (waker_ == nullptr) {
    return false;
  }
  queued_.push_back(std::move(call));
  if (queued_.size() == 1) {
    QCoreApplication::postEvent(waker_, new QEvent(QEvent::User));
  }
  return true;
}

// One call at a time, so that none runs once an earlier one has detached
// the receiver.
void GuiThreadCalls::RunQueued() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (waker_ == nullptr || queued_.empty()) {
        return;
      }
      call = std::move(queued_.front());
      queued_.pop_front();
    }
    call();
  }
}

void GuiThreadCalls::Detach() {
  std::deque<std::function<void()>> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  waker_ = nullptr;
  dropped.swap(queued_);
}

}  // namespace vaultwick
