#pragma once

// A read-only table over a list of items, one item a row, for the windows
// that show what the shell gives them (restore points, history rows). A
// model says how an item looks in each column (data) and names its columns;
// the rows and their count are kept here.

#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <utility>
#include <vector>

namespace vaultwick {

template <typename Item>
class ListTableModel : public QAbstractTableModel {
 public:
  ListTableModel(QStringList headers, QObject* parent)
      : QAbstractTableModel(parent), headers_(std::move(headers)) {}

  // Replaces the rows.
  void SetItems(std::vector<Item> items) {
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
  }
  const Item& At(int row) const { return items_[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= headers_.size()) {
      return {};
    }
    return headers_[section];
  }

 protected:
  // Whether `index` names one of the rows: the first thing data() asks.
  bool Holds(const QModelIndex& index) const {
    return index.isValid() && index.row() < rowCount() && index.column() < columnCount();
  }

 private:
  QStringList headers_;
  std::vector<Item> items_;
};

// A table view of `parent` over `model` in which whole rows are chosen, one
// at a time, and nothing is edited.
QTableView* MakeRowTable(QAbstractItemModel* model, QWidget* parent);

}  // namespace vaultwick
