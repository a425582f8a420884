// CEdit: an edit box of the control model. Its length limit, as in Win32, holds for what the user types
// (UserType), not for text the program sets. Number-only boxes drop the non-digits a user types.
// The selection is kept in characters (EM_SETSEL): SetSel(0, -1) selects all, a start of -1 removes
// the selection; ReplaceSel puts text in place of the selection, or at the caret, and leaves the caret
// after it. Setting the window text puts the caret at the start.
#pragma once

#include "platform/ui/Wnd.h"

class CEdit : public CWnd {
 public:
  static constexpr int kDefaultLimit = 30000;

  void SetLimitText(int limit) { m_nLimit = limit <= 0 ? kDefaultLimit : limit; }
  void LimitText(int limit) { SetLimitText(limit); }
  int GetLimitText() const { return m_nLimit; }
  void SetSel(int start, int end);
  void GetSel(int& start, int& end) const;
  void ReplaceSel(const std::string& text);
  void SetWindowText(const std::string& text) override;

  // What a host calls when the user replaces the text; sends EN_CHANGE. Returns the text kept.
  std::string UserType(const std::string& text);
  void TakeStateFrom(const CWnd& other) override;

 private:
  int m_nLimit = kDefaultLimit;
  int m_nSelStart = 0;
  int m_nSelEnd = 0;
};
