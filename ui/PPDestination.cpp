#include "ui/PPDestination.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

void PPDestination::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Radio(pDX, 1000, m_nDest);
  DDX_Check(pDX, 40, m_bUseScannerSettings);
}

BOOL PPDestination::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  m_nDest = wiz->m_nDest;
  m_bUseScannerSettings = wiz->UseScannerSettings ? 1 : 0;
  if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  // In a one-time scan this is the first page.
  wiz->SetWizardButtons(wiz->m_nMode == OneTimeScan ? PSWIZB_NEXT : PSWIZB_BACK | PSWIZB_NEXT);
  return CPropertyPage::OnSetActive();
}

LRESULT PPDestination::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  CQsWizard* wiz = WizardOf(this);
  // No choice made keeps the file destination rather than an unknown one.
  wiz->m_nDest = m_nDest < 0 ? 0 : m_nDest;
  wiz->UseScannerSettings = m_bUseScannerSettings != 0;
  return wiz->GetNextPage(kPageDestination);
}

LRESULT PPDestination::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageDestination);
}
