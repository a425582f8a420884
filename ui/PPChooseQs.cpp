#include "ui/PPChooseQs.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

PPChooseQs::PPChooseQs(UINT templateId, int pageCode, Focus focus, OnChosen onChosen, const char* sourceFile)
    : CPropertyPage(templateId),
      m_nPageCode(pageCode),
      m_focus(focus),
      m_onChosen(onChosen),
      m_pszSourceFile(sourceFile) {
  OnCommandMap(1044, LBN_DBLCLK, [this] {
    if (CPropertySheet* sheet = GetSheet()) sheet->PressButton(PSBTN_NEXT);
  });
}

void PPChooseQs::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 1044, m_List);
  DDX_LBString(pDX, 1044, m_strSelected);
}

BOOL PPChooseQs::OnInitDialog() {
  DebugTrace trace("OnInitDialog", m_pszSourceFile);
  CPropertyPage::OnInitDialog();
  FillSavedQuickSets(this, m_List, trace);
  if (m_focus == Focus::kList) {
    GotoDlgCtrl(&m_List);
    return FALSE;  // the focus is set
  }
  EnableToolTips(TRUE);
  return TRUE;
}

BOOL PPChooseQs::OnSetActive() {
  WizardOf(this)->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return CPropertyPage::OnSetActive();
}

LRESULT PPChooseQs::OnWizardNext() {
  DebugTrace trace("OnWizardNext", m_pszSourceFile);
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
    if (m_onChosen == OnChosen::kLoadValues) wiz->LoadSettings();
  }
  return wiz->GetNextPage(m_nPageCode);
}

LRESULT PPChooseQs::OnWizardBack() {
  DebugTrace trace("OnWizardBack", m_pszSourceFile);
  return WizardOf(this)->GetPreviousPage(m_nPageCode);
}
