#pragma once

// Dialog templates give positions in dialog units, which scale with the
// dialog's font: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its character height. The
// average width is measured over the 52 Latin letters and rounded, so a
// template keeps its proportions with whatever font the desktop offers.

#include <QFont>
#include <QRect>

namespace vaultwick {

// A rectangle in dialog units: x, y, width, height as a template states them.
struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& dialogFont);

  int baseX() const { return baseX_; }
  int baseY() const { return baseY_; }

  int ToPixelsX(int units) const;
  int ToPixelsY(int units) const;
  QRect ToPixels(const DialogRect& rect) const;

 private:
  int baseX_;
  int baseY_;
};

// The font every dialog of the program uses: the desktop's own family at 8
// points, the size the templates were drawn for.
QFont DialogFont();

}  // namespace vaultwick
