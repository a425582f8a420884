#include "platform/ui/ProgressCtrl.h"

#include <algorithm>

void CProgressCtrl::SetRange32(int lower, int upper) {
  m_nLower = lower;
  m_nUpper = std::max(lower, upper);
  m_nPos = std::clamp(m_nPos, m_nLower, m_nUpper);
  Changed();
}

int CProgressCtrl::SetPos(int pos) {
  const int previous = m_nPos;
  const int next = std::clamp(pos, m_nLower, m_nUpper);
  if (next != m_nPos) {
    m_nPos = next;
    Changed();
  }
  return previous;
}

BOOL CProgressCtrl::SetMarquee(BOOL on, int intervalMs) {
  if (m_bMarquee != (on != FALSE)) {
    m_bMarquee = on != FALSE;
    Changed();
  }
  return TRUE;
}

void CProgressCtrl::TakeStateFrom(const CWnd& other) {
  CWnd::TakeStateFrom(other);
  if (auto* p = dynamic_cast<const CProgressCtrl*>(&other)) {
    m_nLower = p->m_nLower;
    m_nUpper = p->m_nUpper;
    m_nPos = p->m_nPos;
    m_bMarquee = p->m_bMarquee;
  }
}
