#include "platform/ui/qt/DialogUnits.h"

#include <QFontMetrics>

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics fm(font);
  const int width =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_nBaseX = (width / 26 + 1) / 2;
  m_nBaseY = fm.height();
  if (m_nBaseX < 1) m_nBaseX = 1;
  if (m_nBaseY < 1) m_nBaseY = 1;
}
