// CDataExchange and the DDX_ functions: moving values between a dialog's controls and its fields in
// either direction (UpdateData). A missing control or a text that does not convert marks the exchange
// failed (Fail); UpdateData then returns FALSE, and fields that were already exchanged keep their value.
// As in the framework, the exchange stops at the first failure; a text the user must correct (not a
// number, too long) is reported in a message box and the focus goes to its control, an edit box with
// its text selected.
#pragma once

#include <string>

#include "platform/ui/Dialog.h"

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, BOOL saveAndValidate)
      : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
  // Marks the exchange failed; when saving, the focus goes to the last control exchanged.
  void Fail();
  // Shows the framework's message about the last control's text, then fails.
  void FailWithMessage(const std::string& text);
  bool Failed() const { return m_bFailed; }
  // The control, or null after marking the exchange failed.
  CWnd* Control(int id);

  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
  int m_idLastControl = 0;

 private:
  bool m_bFailed = false;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Text(CDataExchange* pDX, int id, double& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);
// Index among the radio buttons of the group starting at id; -1 when none is checked.
void DDX_Radio(CDataExchange* pDX, int id, int& value);
void DDX_CBIndex(CDataExchange* pDX, int id, int& value);
void DDX_CBString(CDataExchange* pDX, int id, std::string& value);
void DDX_LBIndex(CDataExchange* pDX, int id, int& value);
void DDX_LBString(CDataExchange* pDX, int id, std::string& value);
void DDX_Slider(CDataExchange* pDX, int id, int& value);
// When saving: fails when the text is longer than count characters. When loading: limits the edit box.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int count);
