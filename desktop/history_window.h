#pragma once

// The history window: every run the store remembers, newest first, in a
// table that can show one connection alone. Hovering a row shows how its run
// ended in full; selecting it shows the same below the table, where it can be
// read at length and copied.

#include <QComboBox>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QWidget>

#include "desktop/history_model.h"
#include "platform/clock.h"
#include "platform/settings_store.h"

namespace vaultwick {

class HistoryWindow : public QWidget {
 public:
  // How many of the newest rows the window reads.
  static constexpr int kRowsShown = 1000;

  // Shows the runs of `connection`, or of all when it is empty. `store` and
  // `clock` must outlive the window. A store that cannot be read is said in
  // the detail line.
  HistoryWindow(SettingsStore& store, const Clock& clock, const QString& connection,
                QWidget* parent = nullptr);

  // Reads the store again.
  void Reload();
  // Shows the runs of one connection (letter case ignored), or all for "".
  void ShowConnection(const QString& connection);

  QTableView* Table() const { return table_; }
  QComboBox* ConnectionFilter() const { return filter_; }
  QLabel* Detail() const { return detail_; }

 private:
  void OnSelectionChanged();

  SettingsStore& store_;
  HistoryModel model_;
  QSortFilterProxyModel filtered_;
  QComboBox* filter_ = nullptr;
  QTableView* table_ = nullptr;
  QLabel* detail_ = nullptr;
};

}  // namespace vaultwick
