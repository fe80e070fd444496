#include "desktop/history_window.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace vaultwick {

HistoryWindow::HistoryWindow(SettingsStore& store, const Clock& clock, const QString& connection,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), model_(clock) {
  setWindowTitle(QStringLiteral("History"));
  filtered_.setSourceModel(&model_);
  filtered_.setFilterKeyColumn(HistoryModel::kConnection);
  // Newest start first; runs that started in the same second keep the
  // store's order, which is newest first.
  filtered_.setSortRole(HistoryModel::kSortRole);
  filtered_.sort(HistoryModel::kStarted, Qt::DescendingOrder);

  filter_ = new QComboBox(this);
  table_ = MakeRowTable(&filtered_, this);
  table_->setWordWrap(false);
  detail_ = new QLabel(this);
  detail_->setWordWrap(true);
  detail_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  detail_->setMinimumHeight(detail_->fontMetrics().lineSpacing() * 4);
  detail_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* reload = buttons->addButton(QStringLiteral("&Reload"), QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(QDialogButtonBox::Close);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Show:"), this));
  top->addWidget(filter_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(table_, 1);
  layout->addWidget(detail_);
  layout->addWidget(buttons);

  connect(filter_, &QComboBox::currentIndexChanged, this,
          [this] { ShowConnection(filter_->currentData().toString()); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &HistoryWindow::OnSelectionChanged);
  connect(reload, &QPushButton::clicked, this, &HistoryWindow::Reload);
  connect(close, &QPushButton::clicked, this, &QWidget::close);

  Reload();
  ShowConnection(connection);
  resize(820, 420);
}

void HistoryWindow::Reload() {
  const QString shown = filter_->currentData().toString();
  std::vector<HistoryRow> rows;
  std::vector<std::string> names;
  try {
    rows = store_.ReadHistory("", kRowsShown);
    names = store_.ConnectionNames();
  } catch (const SettingsStoreError& error) {
    detail_->setText(QString::fromStdString(error.what()));
  }
  model_.SetItems(std::move(rows));
  table_->resizeColumnsToContents();
  const QSignalBlocker quiet(filter_);
  filter_->clear();
  filter_->addItem(QStringLiteral("All connections"), QString());
  for (const std::string& name : names) {
    filter_->addItem(QString::fromStdString(name), QString::fromStdString(name));
  }
  ShowConnection(shown);
}

void HistoryWindow::ShowConnection(const QString& connection) {
  const int index =
      connection.isEmpty() ? 0 : filter_->findData(connection, Qt::UserRole, Qt::MatchFixedString);
  {
    const QSignalBlocker quiet(filter_);
    filter_->setCurrentIndex(std::max(index, 0));
  }
  filtered_.setFilterRegularExpression(
      connection.isEmpty()
          ? QRegularExpression()
          : QRegularExpression(QStringLiteral("^%1$").arg(QRegularExpression::escape(connection)),
                               QRegularExpression::CaseInsensitiveOption));
  OnSelectionChanged();
}

void HistoryWindow::OnSelectionChanged() {
  const QModelIndexList rows = table_->selectionModel()->selectedRows();
  if (rows.isEmpty()) {
    detail_->setText(QStringLiteral("Select a run to read how it ended in full."));
    return;
  }
  detail_->setText(HistoryFullText(model_.At(filtered_.mapToSource(rows.first()).row())));
}

}  // namespace vaultwick
