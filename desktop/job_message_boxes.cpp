#include "desktop/job_message_boxes.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <condition_variable>
#include <mutex>

#include "desktop/gui_thread_calls.h"

namespace vaultwick {

struct JobMessageBoxState {
  std::mutex mutex;
  std::condition_variable changed;
  bool shutDown = false;
  std::shared_ptr<GuiThreadCalls> calls;
  QPointer<QWidget> owner;
};

namespace {

class GuiMessageBoxPort : public MessageBoxPort {
 public:
  explicit GuiMessageBoxPort(std::shared_ptr<JobMessageBoxState> state)
      : state_(std::move(state)) {}

  void ShowError(const std::string& text) override {
    auto dismissed = std::make_shared<bool>(false);
    const std::shared_ptr<JobMessageBoxState> state = state_;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->shutDown) {
        return;
      }
    }
    const bool posted =
        state->calls->Post([state, dismissed, shown = QString::fromStdString(text)] {
          auto* box = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(),
                                      shown, QMessageBox::Ok, state->owner);
          box->setWindowFlag(Qt::Window);
          box->setWindowModality(Qt::NonModal);
          box->setAttribute(Qt::WA_DeleteOnClose);
          QObject::connect(box, &QMessageBox::finished, [state, dismissed] {
            std::lock_guard<std::mutex> lock(state->mutex);
            *dismissed = true;
            state->changed.notify_all();
          });
          box->show();
        });
    if (!posted) {
      return;
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    state->changed.wait(lock, [&] { return *dismissed || state->shutDown; });
  }

 private:
  std::shared_ptr<JobMessageBoxState> state_;
};

}  // namespace

JobMessageBoxes::JobMessageBoxes(QWidget* owner)
    : QObject(owner), state_(std::make_shared<JobMessageBoxState>()) {
  state_->calls = GuiThreadCalls::For(this);
  state_->owner = owner;
  port_ = std::make_shared<GuiMessageBoxPort>(state_);
}

JobMessageBoxes::~JobMessageBoxes() {
  state_->calls->Detach();
  ShutDown();
}

void JobMessageBoxes::ShutDown() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->shutDown = true;
  state_->changed.notify_all();
}

}  // namespace vaultwick
