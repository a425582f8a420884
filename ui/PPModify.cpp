#include "ui/PPModify.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

PPModify::PPModify() : CPropertyPage(IDD) {
  OnCommandMap(1044, LBN_DBLCLK, [this] {
    if (CPropertySheet* sheet = GetSheet()) sheet->PressButton(PSBTN_NEXT);
  });
}

void PPModify::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 1044, m_List);
  DDX_LBString(pDX, 1044, m_strSelected);
}

BOOL PPModify::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  FillSavedQuickSets(this, m_List, trace);
  GotoDlgCtrl(&m_List);
  return FALSE;
}

BOOL PPModify::OnSetActive() {
  WizardOf(this)->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return CPropertyPage::OnSetActive();
}

LRESULT PPModify::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == Review) {
    qs::WizardMessage(qs::kIdsNoSelection, trace, __LINE__);
  } else {
    if (m_List.GetCurSel() < 0) {
      qs::WizardMessage(qs::kIdsNoSelection, trace, __LINE__);
      return -1;
    }
    wiz->m_strQsName = m_strSelected;
    wiz->LoadSettings();
  }
  return wiz->GetNextPage(kPageModify);
}

LRESULT PPModify::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageModify);
}
