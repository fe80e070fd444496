#pragma once

// A one-line label that keeps its whole text but, when the text is wider
// than the label, shows it shortened with an ellipsis in the middle, so that
// both the start and the end of a long path or table name stay readable.

#include <QString>
#include <QWidget>

namespace vaultwick {

class MiddleElidedLabel : public QWidget {
 public:
  explicit MiddleElidedLabel(const QString& text, QWidget* parent = nullptr);

  QString text() const { return text_; }
  void setText(const QString& text);
  // What the label shows at its present width.
  QString shownText() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

}  // namespace vaultwick
