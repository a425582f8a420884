// CProgressCtrl: a progress bar of the control model: a range and a position kept inside it, or a
// marquee (busy, no position) while the amount of work is not known. The program sets it; the user
// cannot change it.
#pragma once

#include "platform/ui/Wnd.h"

class CProgressCtrl : public CWnd {
 public:
  void SetRange32(int lower, int upper);
  void SetRange(short lower, short upper) { SetRange32(lower, upper); }
  void GetRange(int& lower, int& upper) const {
    lower = m_nLower;
    upper = m_nUpper;
  }
  // The previous position, as Win32 returns it.
  int SetPos(int pos);
  int GetPos() const { return m_nPos; }
  // On: the bar shows activity without a position (PBS_MARQUEE with PBM_SETMARQUEE).
  BOOL SetMarquee(BOOL on, int intervalMs = 30);
  bool IsMarquee() const { return m_bMarquee; }

  void TakeStateFrom(const CWnd& other) override;

 private:
  int m_nLower = 0, m_nUpper = 100, m_nPos = 0;
  bool m_bMarquee = false;
};
