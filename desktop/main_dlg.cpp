#include "desktop/main_dlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QMessageBox>
#include <optional>

#include "desktop/byte_limit_validator.h"
#include "desktop/dialog_units.h"
#include "desktop/gui_thread_calls.h"
#include "desktop/job_message_boxes.h"
#include "desktop/main_dialog_template.h"
#include "shell/connections.h"
#include "shell/target_folder.h"

// The pictures are compiled into the desktop library; a static library's
// resources must be registered by name before first use.
static void RegisterDesktopResources() {
  Q_INIT_RESOURCE(desktop);
}

namespace vaultwick {

namespace {

constexpr const char* kStartHourMessage = "Please enter an integer between 0 and 23.";

// The row of the selected entry, -1 when none is selected.
int SelectedRow(const QListWidget* list) {
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.first());
}

// The lists' prefix search: the first entry that begins with `text`, letter
// case ignored; -1 when none does (or when `text` is empty).
template <typename TextAt>
int FindPrefix(int count, TextAt textAt, const QString& text) {
  if (text.isEmpty()) {
    return -1;
  }
  for (int row = 0; row < count; ++row) {
    if (textAt(row).startsWith(text, Qt::CaseInsensitive)) {
      return row;
    }
  }
  return -1;
}

// The start hour as typed, when it is an integer from 0 to 23.
std::optional<int> ParseStartHour(const QString& text) {
  bool ok = false;
  const int hour = text.trimmed().toInt(&ok);
  if (!ok || hour < 0 || hour > 23) {
    return std::nullopt;
  }
  return hour;
}

const Clock& SystemClockInstance() {
  static const SystemClock clock;
  return clock;
}

// Starts jobs through the runner; every job of the desktop program shows its
// copy-failure message in a message box.
class DesktopJobStarter : public JobStarter {
 public:
  DesktopJobStarter(JobRunner& runner, std::shared_ptr<MessageBoxPort> messageBox)
      : runner_(runner), messageBox_(std::move(messageBox)) {}

  JobStart Start(std::unique_ptr<BackupRequest>& request, JobOrigin origin,
                 StartRule rule) override {
    request->messageBox = messageBox_;
    return runner_.Start(request, origin, rule);
  }
  int RunningJobCount() const override { return runner_.RunningJobCount(); }

 private:
  JobRunner& runner_;
  std::shared_ptr<MessageBoxPort> messageBox_;
};

}  // namespace

CMainDlg::CMainDlg(MainDlgOptions options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      store_(*options_.store),
      clock_(options_.clock != nullptr ? *options_.clock : SystemClockInstance()) {
  RegisterDesktopResources();
  appIcon.addFile(QStringLiteral(":/vaultwick/icon-32.png"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(DialogFont());
  controls_ = BuildDialogControls(this, MainDialogTemplate(), DialogUnits(font()));
  connectionList_ = static_cast<QListWidget*>(Control(kConnectionListId));
  periodList_ = static_cast<QComboBox*>(Control(kPeriodListId));
  for (int period : kPeriodChoices) {
    periodList_->addItem(QString::number(period));
  }
  jobMessageBoxes_ = new JobMessageBoxes(this);
  calls_ = GuiThreadCalls::For(this);
  JobRunner::Observer observer;
  observer.ended = [calls = calls_, this](const JobEnded& ended, const std::string&) {
    calls->Post([this, ended] { OnJobEnded(ended); });
  };
  // A place is free for a scheduled run that waits, whatever ended.
  observer.placeFreed = [calls = calls_, this] {
    calls->Post([this] { WithStore([this] { scheduler_->StartQueued(); }); });
  };
  runner_ = std::make_unique<JobRunner>(&store_, clock_, std::move(observer));
  starter_ = std::make_unique<DesktopJobStarter>(*runner_, jobMessageBoxes_->Port());
  int maxParallel = Scheduler::kDefaultMaxParallel;
  WithStore([&] { maxParallel = LoadMaxParallel(store_); });
  scheduler_ = std::make_unique<Scheduler>(store_, *starter_, clock_, maxParallel);
  scheduleTimer_.setTimerType(Qt::PreciseTimer);
  ConnectHandlers();
  BuildMenus();
  OnInitDialog();
}

// No job may be left waiting for this thread while the runner waits for the
// jobs: message boxes are released and nothing more is posted here first.
CMainDlg::~CMainDlg() {
  jobMessageBoxes_->ShutDown();
  calls_->Detach();
  if (stopWaiter_.joinable()) {
    stopWaiter_.join();
  }
  scheduler_.reset();
  starter_.reset();
  runner_.reset();
}

QLineEdit* CMainDlg::Edit(int id) const {
  return static_cast<QLineEdit*>(Control(id));
}

void CMainDlg::ConnectHandlers() {
  auto onClick = [this](int id, void (CMainDlg::*handler)()) {
    connect(static_cast<QPushButton*>(Control(id)), &QPushButton::clicked, this, handler);
  };
  onClick(kAddButtonId, &CMainDlg::OnAdd);
  connect(connectionList_, &QListWidget::itemSelectionChanged, this, &CMainDlg::OnSelectConnection);
  onClick(kRemoveButtonId, &CMainDlg::OnRemove);
  onClick(kApplyButtonId, &CMainDlg::OnApplyChanges);
  onClick(kBrowseButtonId, &CMainDlg::OnBrowse);
  onClick(kDownloadNowButtonId, &CMainDlg::OnDownloadNow);
  Edit(kSaveToEditId)->installEventFilter(this);
  connect(&scheduleTimer_, &QTimer::timeout, this, &CMainDlg::OnScheduleTick);
}

void CMainDlg::OnInitDialog() {
  appIcon.addFile(QStringLiteral(":/vaultwick/icon-64.png"));
  setWindowIcon(appIcon);
  periodList_->setCurrentIndex(0);
  Edit(kStartHourEditId)->setMaxLength(kStartHourLimit);
  Edit(kStartMinuteEditId)->setText(QStringLiteral("00"));
  Edit(kNameEditId)->setMaxLength(kNameLimit);
  Edit(kHostEditId)->setMaxLength(kHostLimit);
  Edit(kLoginEditId)->setMaxLength(kLoginLimit);
  Edit(kPasswordEditId)->setMaxLength(kPasswordLimit);
  Edit(kDatabaseEditId)->setMaxLength(kDatabaseLimit);
  Edit(kSaveToEditId)->setValidator(new ByteLimitValidator(kSaveToByteLimit, this));
  WithStore([this] {
    const std::string saved = LoadTargetFolder(store_);
    saveToText = saved.size() <= kSaveToByteLimit ? QString::fromStdString(saved) : QString();
  });
  TransferOut();
  FillConnectionList();
}

bool CMainDlg::TransferIn() {
  const std::optional<int> startHour = ParseStartHour(Edit(kStartHourEditId)->text());
  if (!startHour) {
    ShowError(QString::fromLatin1(kStartHourMessage));
    Edit(kStartHourEditId)->setFocus();
    Edit(kStartHourEditId)->selectAll();
    return false;
  }
  nameText = Edit(kNameEditId)->text();
  hostText = Edit(kHostEditId)->text();
  loginText = Edit(kLoginEditId)->text();
  passwordText = Edit(kPasswordEditId)->text();
  startHourValue = *startHour;
  const int row = SelectedRow(connectionList_);
  selectedName = row < 0 ? QString() : connectionList_->item(row)->text();
  periodText = periodList_->currentText();
  databaseText = Edit(kDatabaseEditId)->text();
  return true;
}

void CMainDlg::TransferOut() {
  Edit(kNameEditId)->setText(nameText);
  Edit(kHostEditId)->setText(hostText);
  Edit(kLoginEditId)->setText(loginText);
  Edit(kPasswordEditId)->setText(passwordText);
  Edit(kStartHourEditId)->setText(QString::number(startHourValue));
  // Selecting from code is no user's choice: the lists stay silent.
  const int row = FindPrefix(
      connectionList_->count(), [this](int i) { return connectionList_->item(i)->text(); },
      selectedName);
  if (row >= 0) {
    const QSignalBlocker quiet(connectionList_);
    connectionList_->setCurrentRow(row);
  }
  const int period = FindPrefix(
      periodList_->count(), [this](int i) { return periodList_->itemText(i); }, periodText);
  if (period >= 0) {
    const QSignalBlocker quiet(periodList_);
    periodList_->setCurrentIndex(period);
  }
  Edit(kSaveToEditId)->setText(saveToText);
  Edit(kDatabaseEditId)->setText(databaseText);
}

void CMainDlg::UpdateDetailControls() {
  const bool selected = SelectedRow(connectionList_) >= 0;
  for (int id :
       {kNameEditId, kHostEditId, kLoginEditId, kPasswordEditId, kStartHourEditId, kDatabaseEditId,
        kPeriodListId, kRemoveButtonId, kApplyButtonId, kDownloadNowButtonId}) {
    Control(id)->setEnabled(selected);
  }
  UpdateMenuActions();
  if (!selected) {
    databaseText.clear();
    passwordText.clear();
    loginText.clear();
    hostText.clear();
    nameText.clear();
    startHourValue = 0;
    periodText = QStringLiteral("1");
    TransferOut();
  }
}

void CMainDlg::ShowError(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(), text,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

bool CMainDlg::WithStore(const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (const SettingsStoreError& error) {
    ShowError(QString::fromStdString(error.what()));
    return false;
  }
}

void CMainDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) {
    OnSize(isMinimized());
  }
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Control(kSaveToEditId) && event->type() == QEvent::FocusOut &&
      static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
    // Checked once the focus has settled, so that no message box opens in
    // the middle of the focus change.
    targetCheckPending_ = true;
    QMetaObject::invokeMethod(this, &CMainDlg::OnTargetFolderKillFocus, Qt::QueuedConnection);
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vaultwick
