#include "desktop/progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "desktop/dialog_template.h"
#include "desktop/gui_thread_calls.h"
#include "desktop/middle_elided_label.h"

namespace vaultwick {

int openProgressWindows = 0;

namespace {

constexpr DialogControl kProgressControls[] = {
    {kProgressStatusId, ControlKind::Label, "Connecting...", {7, 7, 213, 8}, kStyleMiddleEllipsis},
};

constexpr DialogTemplate kProgressTemplate = {"Download status", 227, 22, kProgressControls};

// The job's status port: each text is queued to the window's label.
class ProgressWindowStatus : public StatusTextPort {
 public:
  ProgressWindowStatus(std::shared_ptr<GuiThreadCalls> calls, MiddleElidedLabel* label)
      : calls_(std::move(calls)), label_(label) {}

  void SetStatusText(const std::string& text) override {
    MiddleElidedLabel* label = label_;
    calls_->Post([label, shown = QString::fromStdString(text)] { label->setText(shown); });
  }

 private:
  std::shared_ptr<GuiThreadCalls> calls_;
  MiddleElidedLabel* label_;
};

}  // namespace

CFtpDown::CFtpDown(BackupRequest* request) : request_(request) {
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(DialogFont());
  const DialogControls controls = BuildDialogControls(this, kProgressTemplate, DialogUnits(font()));
  status_ = static_cast<MiddleElidedLabel*>(controls.value(kProgressStatusId));
  calls_ = GuiThreadCalls::For(status_);
}

CFtpDown* CFtpDown::Open(BackupRequest* request) {
  auto* window = new CFtpDown(request);
  window->show();
  window->PlaceByOpenWindows();
  ++openProgressWindows;
  window->raise();
  window->activateWindow();
  request->progressWindow = std::make_shared<ProgressWindowStatus>(window->calls_, window->status_);
  return window;
}

void CFtpDown::PlaceByOpenWindows() {
  const QSize outer = frameGeometry().size();
  const int n = openProgressWindows;
  QPoint origin;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    origin = screen->availableGeometry().topLeft();
  }
  move(origin + QPoint(outer.width() * (n % 2), outer.height() * (n / 2)));
}

void CFtpDown::CloseAll() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* window = dynamic_cast<CFtpDown*>(widget)) {
      window->close();
    }
  }
}

QString CFtpDown::StatusText() const {
  return status_->text();
}

CFtpDown::~CFtpDown() {
  HandOver();
}

void CFtpDown::closeEvent(QCloseEvent* event) {
  HandOver();
  event->accept();
}

// Once per window, on its close (or when it is destroyed without one, as at
// the end of the program): no text reaches it any more, the job learns that
// its window has gone, and whichever of the two ends second frees the request.
void CFtpDown::HandOver() {
  if (request_ == nullptr) {
    return;
  }
  calls_->Detach();
  CloseProgressWindow(request_);
  request_ = nullptr;
  --openProgressWindows;
}

}  // namespace vaultwick
