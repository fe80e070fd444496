#include "desktop/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>

namespace vaultwick {

namespace {

constexpr int kDialogFontPoints = 8;

// a * b / c rounded to the nearest integer, as the units are converted.
int MulDivRounded(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  return static_cast<int>((product >= 0 ? product + c / 2 : product - c / 2) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& dialogFont) {
  const QFontMetrics metrics(dialogFont);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = (letters / 26 + 1) / 2;
  baseY_ = metrics.height();
}

int DialogUnits::ToPixelsX(int units) const {
  return MulDivRounded(units, baseX_, 4);
}

int DialogUnits::ToPixelsY(int units) const {
  return MulDivRounded(units, baseY_, 8);
}

// Each edge is converted on its own, so that neighbours that touch in dialog
// units touch in pixels too.
QRect DialogUnits::ToPixels(const DialogRect& rect) const {
  const int left = ToPixelsX(rect.x);
  const int top = ToPixelsY(rect.y);
  return QRect(left, top, ToPixelsX(rect.x + rect.width) - left,
               ToPixelsY(rect.y + rect.height) - top);
}

QFont DialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(kDialogFontPoints);
  return font;
}

}  // namespace vaultwick
