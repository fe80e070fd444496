#include "desktop/banner_picture.h"

#include <QPainter>

namespace vaultwick {

BannerPicture::BannerPicture(QPixmap bitmap, QWidget* parent)
    : QWidget(parent), bitmap_(std::move(bitmap)) {}

void BannerPicture::paintEvent(QPaintEvent*) {
  if (bitmap_.isNull()) {
    return;
  }
  QPainter painter(this);
  const int w = bitmap_.width();
  const int h = bitmap_.height();
  painter.drawPixmap(0, 0, bitmap_);
  if (width() > w) {
    painter.drawPixmap(QRect(w, 0, width() - w, h), bitmap_, QRect(w - 1, 0, 1, h));
  }
  if (height() > h) {
    painter.drawPixmap(QRect(0, h, w, height() - h), bitmap_, QRect(0, h - 1, w, 1));
    if (width() > w) {
      painter.drawPixmap(QRect(w, h, width() - w, height() - h), bitmap_,
                         QRect(w - 1, h - 1, 1, 1));
    }
  }
}

}  // namespace vaultwick
