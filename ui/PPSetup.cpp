#include "ui/PPSetup.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

PPSetup::PPSetup() : CPropertyPage(IDD) {
  OnClicked(1048, [this] { UpdateData(TRUE); });
  OnClicked(1049, [this] { UpdateData(TRUE); });
  OnClicked(1017, [this] { UpdateData(TRUE); });
  OnClicked(1047, [this] { UpdateData(TRUE); });
}

void PPSetup::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Radio(pDX, 1048, m_nChoice);
}

BOOL PPSetup::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  CQsWizard* wiz = WizardOf(this);
  switch (wiz->m_nMode) {
    case ChooseTask:
    case NewQs:
    case Review:
      m_nChoice = 0;
      break;
    case ModifyQs:
      m_nChoice = 1;
      break;
    case RemoveQs:
      m_nChoice = 2;
      break;
    case DeviceDestinations:
      m_nChoice = 3;
      break;
    default:
      trace.Write("current task didn't match");
      break;
  }
  if (wiz->m_nMode != Review && !wiz->ScanToAvailable()) {
    if (CWnd* device = GetDlgItem(1047)) device->ShowWindow(SW_HIDE);
  }
  if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  return TRUE;
}

BOOL PPSetup::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  wiz->m_strQsName = qs::LoadStr(qs::kIdsScratchQs, trace, __LINE__);
  wiz->DeleteQs(wiz->m_strQsName);
  wiz->LoadSettings();
  wiz->SetWizardButtons(PSWIZB_NEXT);
  return CPropertyPage::OnSetActive();
}

void PPSetup::DoNext() {
  DebugTrace trace("DoNext", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == Review) return;
  switch (m_nChoice) {
    case 3:
      wiz->m_nMode = DeviceDestinations;
      break;
    case 1:
      wiz->m_nMode = ModifyQs;
      break;
    case 2:
      wiz->m_nMode = RemoveQs;
      break;
    case 0:
      wiz->m_nMode = NewQs;
      wiz->SelectQs(qs::LoadStr(qs::kIdsScratchQs, trace, __LINE__));
      wiz->m_strDevDest.clear();
      break;
    default:
      trace.Write("current choice didn't matach a task");
      break;
  }
}

LRESULT PPSetup::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  DoNext();
  return WizardOf(this)->GetNextPage(kPageSetup);
}

LRESULT PPSetup::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  return WizardOf(this)->GetPreviousPage(kPageSetup);
}
