#include "desktop/gui_thread_calls.h"

#include <QMetaObject>

namespace vaultwick {

bool GuiThreadCalls::Post(std::function<void()> call) {
  // The lock keeps the receiver alive while the call is queued; once queued,
  // the receiver's destruction drops it.
  std::lock_guard<std::mutex> lock(mutex_);
  if (receiver_ == nullptr) {
    return false;
  }
  return QMetaObject::invokeMethod(receiver_, std::move(call), Qt::QueuedConnection);
}

void GuiThreadCalls::Detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  receiver_ = nullptr;
}

}  // namespace vaultwick
