#include "desktop/history_model.h"

#include <QLocale>

#include "desktop/restore_point_model.h"

namespace vaultwick {

QString HistoryFullText(const HistoryRow& row) {
  QStringList lines = {QString::fromStdString(row.endText)};
  if (!row.cause.empty()) {
    lines << QString::fromStdString(row.cause);
  }
  if (!row.verified.empty()) {
    QString test = QStringLiteral("Test restore: %1").arg(QString::fromStdString(row.verified));
    if (!row.verifyDetail.empty()) {
      test += QStringLiteral(": ") + QString::fromStdString(row.verifyDetail);
    }
    lines << test;
  }
  if (!row.pruned.empty()) {
    lines << QStringLiteral("Restore points removed:") << QString::fromStdString(row.pruned);
  }
  if (!row.offsite.empty()) {
    lines << QStringLiteral("Off-site: %1").arg(QString::fromStdString(row.offsite));
    if (!row.offsiteDetail.empty()) {
      lines << QString::fromStdString(row.offsiteDetail);
    }
  }
  return lines.join('\n');
}

HistoryModel::HistoryModel(const Clock& clock, QObject* parent)
    : ListTableModel(
          {QStringLiteral("Started"), QStringLiteral("Connection"), QStringLiteral("Started by"),
           QStringLiteral("Result"), QStringLiteral("Took"), QStringLiteral("Size"),
           QStringLiteral("Rows"), QStringLiteral("Checked"), QStringLiteral("Verified"),
           QStringLiteral("Off-site")},
          parent),
      clock_(clock) {}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
  if (!Holds(index)) {
    return {};
  }
  const HistoryRow& row = At(index.row());
  if (role == Qt::ToolTipRole) {
    return HistoryFullText(row);
  }
  if (role == kSortRole) {
    return QVariant::fromValue<qlonglong>(row.startedAt);
  }
  if (role != Qt::DisplayRole) {
    return {};
  }
  const auto yesNo = [](const std::optional<bool>& value) {
    return !value ? QStringLiteral("?") : *value ? QStringLiteral("yes") : QStringLiteral("no");
  };
  switch (index.column()) {
    case kStarted:
      return LocalMinuteText(clock_, WallTime(std::chrono::seconds(row.startedAt)));
    case kConnection:
      return QString::fromStdString(row.connection);
    case kBy:
      return QString::fromStdString(row.startedBy);
    case kResult:
      return QString::fromStdString(row.endText);
    case kTook:
      return QStringLiteral("%1 s").arg(static_cast<double>(row.durationMs) / 1000.0, 0, 'f', 1);
    case kSize:
      return row.archiveSize > 0 ? QLocale().formattedDataSize(row.archiveSize) : QString();
    case kRows:
      return QLocale().toString(static_cast<qlonglong>(row.rows));
    case kChecked:
      return yesNo(row.archiveChecked);
    case kVerified:
      return QString::fromStdString(row.verified);
    case kOffsite:
      return QString::fromStdString(row.offsite);
    default:
      return {};
  }
}

}  // namespace vaultwick
