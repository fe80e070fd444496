#pragma once

// The history of runs as a table, newest first: when each started, its
// connection, what started it, how it ended, how long it took, the archive's
// size and rows, and its checks. The full account of a run (the end text with
// its cause, the test restore's finding, the restore points it removed) is
// each row's tooltip and what FullText gives for a selected row.

#include <vector>

#include "desktop/list_table_model.h"

#include "platform/clock.h"
#include "platform/settings_store.h"

namespace vaultwick {

class HistoryModel : public ListTableModel<HistoryRow> {
 public:
  enum Column {
    kStarted,
    kConnection,
    kBy,
    kResult,
    kTook,
    kSize,
    kRows,
    kChecked,
    kVerified,
    kOffsite
  };
  // Every column answers this role with its run's start (Unix seconds), by
  // which the window orders its rows.
  static constexpr int kSortRole = Qt::UserRole;

  // `clock` gives the zone the times are shown in; it must outlive the model.
  explicit HistoryModel(const Clock& clock, QObject* parent = nullptr);

  QVariant data(const QModelIndex& index, int role) const override;

 private:
  const Clock& clock_;
};

// Everything a history row says about how its run ended, in plain words,
// one fact a line.
QString HistoryFullText(const HistoryRow& row);

}  // namespace vaultwick
