// CPropertyPage: one page of a property sheet in wizard mode, built from its own template (whose
// caption is the page title). Its controls are created and OnInitDialog runs when the page is first
// shown. OnSetActive returns TRUE to show the page and FALSE to pass on to the neighbour in the direction
// of travel; OnWizardNext and OnWizardBack return 0 (the sheet's neighbour), -1 (stay) or the template
// number of the page to go to; OnWizardFinish returns TRUE to let the sheet close with ID_WIZFINISH.
#pragma once

#include "platform/ui/Dialog.h"

class CPropertySheet;

class CPropertyPage : public CDialog {
 public:
  explicit CPropertyPage(UINT templateId) : CDialog(templateId, nullptr) {}

  virtual BOOL OnSetActive() { return TRUE; }
  // Leaving the page: by default the controls go to the fields; FALSE keeps the page.
  virtual BOOL OnKillActive() { return UpdateData(TRUE); }
  virtual LRESULT OnWizardNext() { return 0; }
  virtual LRESULT OnWizardBack() { return 0; }
  virtual BOOL OnWizardFinish() { return TRUE; }
  virtual BOOL OnQueryCancel() { return TRUE; }

  CPropertySheet* GetSheet() const { return m_pSheet; }
  // On a page these act on the sheet: EndDialog ends the whole sheet, OK and Cancel press its buttons.
  void EndDialog(int result) override;
  void OnOK() override;
  void OnCancel() override;
  INT_PTR DoModal() override { return -1; }

  // Framework: called by the sheet.
  void SetSheet(CPropertySheet* sheet) { m_pSheet = sheet; }
  bool Open();

 private:
  CPropertySheet* m_pSheet = nullptr;
  bool m_bInitialised = false;
};
