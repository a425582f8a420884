#include "ui/PPEmail.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

void PPEmail::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 69, m_Type);
  DDX_Text(pDX, 64, m_strTo);
  DDX_Text(pDX, 65, m_strSubject);
  DDX_Text(pDX, 67, m_strNote);
  DDX_Check(pDX, 1025, m_bShowMailDialog);
}

BOOL PPEmail::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  CQsWizard* wiz = WizardOf(this);
  wiz->m_ValueGetter.LoadFileTypeControl(&m_Type, wiz->m_nMode == ModifyQs ? wiz->m_nType : int(PX_TYPE_PDF));
  return TRUE;
}

BOOL PPEmail::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  m_strTo = wiz->m_strTo;
  m_strSubject = wiz->m_strSubject;
  m_strNote = wiz->m_strNote;
  m_bShowMailDialog = wiz->ShowMailDialog ? 1 : 0;
  wiz->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  for (int i = 0; i < m_Type.GetCount(); ++i)
    if (static_cast<int>(m_Type.GetItemData(i)) == wiz->m_nType) m_Type.SetCurSel(i);
  return CPropertyPage::OnSetActive();
}

LRESULT PPEmail::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == Review) {
    qs::WizardMessage(qs::kIdsMailNeedsToSubject, trace, __LINE__);
    return wiz->GetNextPage(kPageEmail);
  }
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  wiz->m_strTo = m_strTo;
  wiz->m_strSubject = m_strSubject;
  wiz->m_strNote = m_strNote;
  wiz->ShowMailDialog = m_bShowMailDialog != 0;
  const int sel = m_Type.GetCurSel();
  if (sel == CB_ERR)
    trace.Error(TRACE_NUMBERED("GetCurSel failed"));
  else
    wiz->m_nType = static_cast<int16_t>(m_Type.GetItemData(sel));
  const std::string to = qs::Trim(m_strTo);
  const std::string subject = qs::Trim(m_strSubject);
  if ((!to.empty() && !subject.empty()) || wiz->ShowMailDialog) return wiz->GetNextPage(kPageEmail);
  qs::WizardMessage(qs::kIdsMailNeedsToSubject, trace, __LINE__);
  GotoDlgCtrl(GetDlgItem(!subject.empty() ? 64 : 65));
  return -1;
}

LRESULT PPEmail::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageEmail);
}
