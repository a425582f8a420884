// CButton: push buttons, auto check boxes and auto radio buttons of the control model. A user click
// (from a host) toggles a check box, or checks a radio button and clears the others of its group, and
// then sends BN_CLICKED to the dialog, as Win32 auto buttons do.
#pragma once

#include "platform/ui/Wnd.h"

enum : int { BST_UNCHECKED = 0, BST_CHECKED = 1 };

class CButton : public CWnd {
 public:
  int GetCheck() const { return m_nCheck; }
  void SetCheck(int check);
  bool IsCheckBox() const { return m_nKind == M3_CHECKBOX; }
  bool IsRadio() const { return m_nKind == M3_RADIOBUTTON; }
  bool IsPushButton() const { return m_nKind == M3_PUSHBUTTON || m_nKind == M3_DEFPUSHBUTTON; }

  // What a host calls when the user presses the button.
  void UserClick();
  void TakeStateFrom(const CWnd& other) override;

 private:
  int m_nCheck = BST_UNCHECKED;
};
