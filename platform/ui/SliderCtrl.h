// CSliderCtrl: a track bar of the control model: a range and a position kept inside it. A host reports
// the user's move, which sends SLN_POSCHANGED to the dialog.
#pragma once

#include "platform/ui/Wnd.h"

class CSliderCtrl : public CWnd {
 public:
  void SetRange(int minimum, int maximum, BOOL redraw = FALSE);
  void SetRangeMin(int minimum, BOOL redraw = FALSE) { SetRange(minimum, m_nMax, redraw); }
  void SetRangeMax(int maximum, BOOL redraw = FALSE) { SetRange(m_nMin, maximum, redraw); }
  int GetRangeMin() const { return m_nMin; }
  int GetRangeMax() const { return m_nMax; }
  void GetRange(int& minimum, int& maximum) const {
    minimum = m_nMin;
    maximum = m_nMax;
  }
  void SetPos(int pos);
  int GetPos() const { return m_nPos; }
  void SetTicFreq(int freq) { m_nTicFreq = freq; }
  int GetTicFreq() const { return m_nTicFreq; }

  void UserMove(int pos);
  void TakeStateFrom(const CWnd& other) override;

 private:
  int m_nMin = 0, m_nMax = 100, m_nPos = 0, m_nTicFreq = 1;
};
