#include "ui/PPDelete.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

PPDelete::PPDelete() : CPropertyPage(IDD) {
  OnCommandMap(1044, LBN_DBLCLK, [this] {
    if (CPropertySheet* sheet = GetSheet()) sheet->PressButton(PSBTN_NEXT);
  });
}

void PPDelete::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 1044, m_List);
  DDX_LBString(pDX, 1044, m_strSelected);
}

BOOL PPDelete::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  FillSavedQuickSets(this, m_List, trace);
  EnableToolTips(TRUE);
  return TRUE;
}

BOOL PPDelete::OnSetActive() {
  WizardOf(this)->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return CPropertyPage::OnSetActive();
}

LRESULT PPDelete::OnWizardNext() {
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
  }
  return wiz->GetNextPage(kPageDelete);
}

LRESULT PPDelete::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageDelete);
}
