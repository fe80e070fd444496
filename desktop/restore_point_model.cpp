#include "desktop/restore_point_model.h"

#include <QLocale>

namespace vaultwick {

QString LocalMinuteText(const Clock& clock, WallTime time) {
  const std::optional<LocalTime> local = clock.ToLocalTime(time);
  if (!local) {
    return QStringLiteral("?");
  }
  return QStringLiteral("%1-%2-%3 %4:%5")
      .arg(local->year, 4, 10, QChar('0'))
      .arg(local->month, 2, 10, QChar('0'))
      .arg(local->day, 2, 10, QChar('0'))
      .arg(local->hour, 2, 10, QChar('0'))
      .arg(local->minute, 2, 10, QChar('0'));
}

RestorePointModel::RestorePointModel(const Clock& clock, QObject* parent)
    : ListTableModel({QStringLiteral("Placed"), QStringLiteral("Size"), QStringLiteral("Rows"),
                      QStringLiteral("Verified")},
                     parent),
      clock_(clock) {}

QVariant RestorePointModel::data(const QModelIndex& index, int role) const {
  if (!Holds(index)) {
    return {};
  }
  const RestorePoint& point = At(index.row());
  if (role == Qt::ToolTipRole) {
    return QString::fromStdString(point.file.path);
  }
  if (role == Qt::TextAlignmentRole && (index.column() == kSize || index.column() == kRows)) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) {
    return {};
  }
  const std::optional<HistoryRow>& run = point.run;
  switch (index.column()) {
    case kPlaced: {
      const QString placed = LocalMinuteText(clock_, point.file.time);
      return point.file.current ? placed + QStringLiteral(" (newest)") : placed;
    }
    case kSize:
      return QLocale().formattedDataSize(static_cast<qint64>(point.file.size));
    case kRows:
      return run ? QLocale().toString(static_cast<qlonglong>(run->rows)) : QStringLiteral("?");
    case kVerified:
      if (!run) {
        return QStringLiteral("?");
      }
      return run->verified.empty() ? QStringLiteral("not tested")
                                   : QString::fromStdString(run->verified);
    default:
      return {};
  }
}

}  // namespace vaultwick
