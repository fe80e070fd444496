#pragma once

// A connection's restore points as a table: when each archive was placed,
// its size, the rows its dump holds and how its test restore went, newest
// first. The file's path is each row's tooltip.

#include <vector>

#include "desktop/list_table_model.h"

#include "platform/clock.h"
#include "shell/restore_points.h"

namespace vaultwick {

class RestorePointModel : public ListTableModel<RestorePoint> {
 public:
  enum Column { kPlaced, kSize, kRows, kVerified };

  // `clock` gives the zone the times are shown in; it must outlive the model.
  explicit RestorePointModel(const Clock& clock, QObject* parent = nullptr);

  QVariant data(const QModelIndex& index, int role) const override;

 private:
  const Clock& clock_;
};

// "2024-05-06 09:15" in the clock's zone; "?" when it cannot be broken down.
QString LocalMinuteText(const Clock& clock, WallTime time);

}  // namespace vaultwick
