#pragma once

// The picture control of the main window's banner. The bitmap is drawn at
// its own size in the control's top left corner, as a bitmap control shows
// it; when the dialog font makes the control wider or taller than the bitmap,
// the bitmap's last column and row are stretched over the rest, so the banner
// is drawn to be extended that way (plain colour at its right and bottom).

#include <QPixmap>
#include <QWidget>

namespace vaultwick {

class BannerPicture : public QWidget {
 public:
  explicit BannerPicture(QPixmap bitmap, QWidget* parent = nullptr);

  const QPixmap& bitmap() const { return bitmap_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap bitmap_;
};

}  // namespace vaultwick
