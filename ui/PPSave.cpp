#include "ui/PPSave.h"

#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

namespace {
constexpr int kQsNameLimit = 90;
constexpr size_t kPrefixLength = 5;  // the longest network prefix: four characters and ":"

// The device name without the network prefix it was stored with. The prefix is as long as the
// computer's name allows (at most kPrefixLength): a fixed cut would eat the start of the name
// behind a shorter one, and every later change would send that shortened name to the device.
std::string WithoutPrefix(const std::string& devDest, const std::string& prefix) {
  if (!prefix.empty() && devDest.compare(0, prefix.size(), prefix) == 0) return devDest.substr(prefix.size());
  // Stored under another computer name: its prefix ends at the first ":".
  const size_t colon = devDest.find(':');
  if (colon != std::string::npos && colon < kPrefixLength) return devDest.substr(colon + 1);
  return devDest;
}
}  // namespace

PPSave::PPSave() : CPropertyPage(IDD) {
  OnClicked(1029, [this] { OnAddToDevice(); });
}

void PPSave::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 1021, m_QsNameEdit);
  DDX_Control(pDX, 1030, m_DevNameEdit);
  DDX_Text(pDX, 1021, m_strQsName);
  DDX_Text(pDX, 1030, m_strDevName);
  DDX_Check(pDX, 1029, m_bAddToDevice);
}

BOOL PPSave::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  CQsWizard* wiz = WizardOf(this);
  const bool review = wiz->m_nMode == Review;
  m_bScanTo = review || wiz->ScanToAvailable();
  m_bNetworked = review || wiz->m_ValueGetter.IsNetworked();
  m_QsNameEdit.SetLimitText(kQsNameLimit);
  if (m_bNetworked) {
    wiz->m_ValueGetter.GetNetworkPrefix(m_strPrefix);
    SetDlgItemText(1059, m_strPrefix);
    m_DevNameEdit.SetLimitText(9);
  } else {
    m_DevNameEdit.SetLimitText(14);
  }
  return TRUE;
}

void PPSave::UpdateControls() {
  CQsWizard* wiz = WizardOf(this);
  const BOOL enabled = m_bScanTo && m_bAddToDevice != 0;
  if (!m_bScanTo)
    if (CWnd* c = GetDlgItem(1029)) c->EnableWindow(FALSE);
  for (int id : {1030, 1020, 1022, 1059})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(enabled);
  const int show = wiz->m_nMode == ModifyQs ? SW_HIDE : SW_SHOW;
  for (int id : {1019, 1021})
    if (CWnd* c = GetDlgItem(id)) c->ShowWindow(show);
}

BOOL PPSave::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  m_bAddToDevice = wiz->m_bAddToDevice ? 1 : 0;
  if (wiz->m_strQsName != qs::LoadStr(qs::kIdsScratchQs, trace, __LINE__)) m_strQsName = wiz->m_strQsName;
  m_strDevName = wiz->m_strDevDest;
  if (m_bNetworked) m_strDevName = WithoutPrefix(m_strDevName, m_strPrefix);
  if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  UpdateControls();
  wiz->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return CPropertyPage::OnSetActive();
}

void PPSave::OnAddToDevice() {
  DebugTrace trace("OnAddToDevice", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  for (int id : {1030, 1020, 1022, 1059})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(m_bAddToDevice != 0);
}

void PPSave::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  for (UINT id : {qs::kIdsQsNameEmpty, qs::kIdsDevNameEmpty, qs::kIdsQsNameExists, qs::kIdsDevNameDup})
    qs::WizardMessage(id, trace, __LINE__);
  std::string text;
  AfxFormatString1(text, qs::kIdsDevNameInvalid, "USER DEFINED STRING");
  qs::WizardMessage(text);
}

LRESULT PPSave::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == Review) {
    ShowErrorMessages();
  } else {
    if (m_bScanTo && m_bAddToDevice != 0) {
      m_strDevName = qs::Trim(m_strDevName);
      if (m_strDevName.empty()) {
        qs::WizardMessage(qs::kIdsDevNameEmpty, trace, __LINE__);
        return -1;
      }
      std::string invalid;
      if (wiz->m_ValueGetter.FindInvalidChar(m_strDevName, invalid)) {
        std::string text;
        AfxFormatString1(text, qs::kIdsDevNameInvalid, invalid.c_str());
        qs::WizardMessage(text);
        trace.Write(text);
        return -1;
      }
      if (wiz->m_ValueGetter.IsDupDevName(m_strDevName, wiz->m_strQsName)) {
        qs::WizardMessage(qs::kIdsDevNameDup, trace, __LINE__);
        trace.Write("Duplicate device name");
        GotoDlgCtrl(GetDlgItem(1030));
        return -1;
      }
    }
    if (wiz->m_nMode == NewQs) {
      m_strQsName = qs::Trim(m_strQsName);
      if (m_strQsName.empty()) {
        qs::WizardMessage(qs::kIdsQsNameEmpty, trace, __LINE__);
        GotoDlgCtrl(GetDlgItem(1021));
        return -1;
      }
      for (const std::string& name : wiz->m_QsNames) {
        if (name == m_strQsName) {
          qs::WizardMessage(qs::kIdsQsNameExists, trace, __LINE__);
          GotoDlgCtrl(GetDlgItem(1021));
          return -1;
        }
      }
      // A name is a registry key: a separator would make it a path of keys.
      const size_t sep = m_strQsName.find_first_of("\\/");
      if (sep != std::string::npos) {
        std::string text;
        AfxFormatString1(text, qs::kIdsDevNameInvalid, m_strQsName.substr(sep, 1).c_str());
        qs::WizardMessage(text);
        GotoDlgCtrl(GetDlgItem(1021));
        return -1;
      }
    }
  }
  m_strDevName = qs::Trim(m_strDevName);
  if (m_strDevName.empty())
    wiz->m_strDevDest.clear();
  else
    wiz->m_strDevDest = m_bNetworked ? m_strPrefix + m_strDevName : m_strDevName;
  wiz->m_bAddToDevice = m_bAddToDevice != 0;
  // Mode 5 hides the name: the Quick Set keeps its own.
  if (wiz->m_nMode != ModifyQs) wiz->m_strQsName = m_strQsName;
  return wiz->GetNextPage(kPageSave);
}

LRESULT PPSave::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageSave);
}
