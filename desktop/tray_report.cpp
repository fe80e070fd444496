#include "desktop/tray_report.h"

namespace vaultwick {
namespace {

constexpr const char* kTextNotVerified = "Archive placed, but its test restore did not verify";

// The text of a run that ended badly; empty for one that went well. A run
// whose archive was placed but did not come back in its test restore, or was
// not copied off-site, is not complete as far as anyone relying on it is
// concerned.
QString FailureText(const JobEnded& ended) {
  if (!ended.outcome) {
    return {};
  }
  const BackupOutcome& outcome = *ended.outcome;
  if (outcome.result != BackupResult::Complete) {
    return QString::fromStdString(outcome.endText);
  }
  if (outcome.verifyRestore &&
      outcome.verifyRestore->result != VerifyRestoreOutcome::Result::Verified) {
    const std::string& detail = outcome.verifyRestore->detail;
    return QString::fromLatin1(kTextNotVerified) +
           (detail.empty() ? QString() : ": " + QString::fromStdString(detail));
  }
  if (!ended.offsiteFailure.empty()) {
    return "Archive placed, but " +
           QString::fromStdString(NotCopiedOffsiteText(ended.offsiteFailure));
  }
  return {};
}

}  // namespace

std::optional<TrayReport::Notification> TrayReport::Add(const JobEnded& ended, const QString& at) {
  const QString name = QString::fromStdString(ended.connection);
  ++runs_;
  const QString failure = FailureText(ended);
  if (failure.isEmpty()) {
    last_ =
        name + ": " +
        QString::fromStdString(ended.outcome ? ended.outcome->endText : kTextPreviousRunStillGoing);
    return std::nullopt;
  }
  failedAt_.append(at);
  failures_.append(name + " \u2014 " + failure);
  return Notification{QStringLiteral("Backup of %1").arg(name), failure};
}

QString TrayReport::Text() const {
  if (failures_.isEmpty()) {
    return last_;
  }
  const QString head = QStringLiteral("%1 of %2 backups failed").arg(failures_.size()).arg(runs_);
  if (failures_.size() == 1) {
    return head + " at " + failedAt_[0] + ": " + failures_[0];
  }
  QString text = head + ":";
  for (qsizetype i = 0; i < failures_.size(); ++i) {
    text += "\n" + failedAt_[i] + " " + failures_[i];
  }
  return text;
}

void TrayReport::Clear() {
  *this = TrayReport{};
}

}  // namespace vaultwick
