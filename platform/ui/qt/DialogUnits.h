// DialogUnits: converts template coordinates (dialog units) to pixels from the metrics of the font the
// dialog is shown with, the way Win32 does: x units are a quarter of the average character width
// (measured over the 52 letters), y units an eighth of the character height. Layouts therefore scale
// with the font.
#pragma once

#include <QFont>

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const { return (units * m_nBaseX + 2) / 4; }
  int Y(int units) const { return (units * m_nBaseY + 4) / 8; }

 private:
  int m_nBaseX;
  int m_nBaseY;
};
