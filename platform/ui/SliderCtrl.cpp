#include "platform/ui/SliderCtrl.h"

#include <algorithm>

void CSliderCtrl::SetRange(int minimum, int maximum, BOOL redraw) {
  m_nMin = minimum;
  m_nMax = std::max(minimum, maximum);
  m_nPos = std::clamp(m_nPos, m_nMin, m_nMax);
  Changed();
}

void CSliderCtrl::SetPos(int pos) {
  m_nPos = std::clamp(pos, m_nMin, m_nMax);
  Changed();
}

void CSliderCtrl::UserMove(int pos) {
  SetPos(pos);
  Notify(SLN_POSCHANGED);
}

void CSliderCtrl::TakeStateFrom(const CWnd& other) {
  CWnd::TakeStateFrom(other);
  if (auto* s = dynamic_cast<const CSliderCtrl*>(&other)) {
    m_nMin = s->m_nMin;
    m_nMax = s->m_nMax;
    m_nPos = s->m_nPos;
    m_nTicFreq = s->m_nTicFreq;
  }
}
