#include "desktop/middle_elided_label.h"

#include <QPainter>

namespace vaultwick {

MiddleElidedLabel::MiddleElidedLabel(const QString& text, QWidget* parent)
    : QWidget(parent), text_(text) {
  setAccessibleName(text_);
}

void MiddleElidedLabel::setText(const QString& text) {
  if (text == text_) {
    return;
  }
  text_ = text;
  setAccessibleName(text_);
  update();
}

QString MiddleElidedLabel::shownText() const {
  return fontMetrics().elidedText(text_, Qt::ElideMiddle, width());
}

QSize MiddleElidedLabel::sizeHint() const {
  return QSize(fontMetrics().horizontalAdvance(text_), fontMetrics().height());
}

void MiddleElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, shownText());
}

}  // namespace vaultwick
