#include "ui/PPApp.h"

#include <cstring>

#include "platform/files/Files.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/UiTypes.h"
#include "ui/BrowseDir.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

PPApp::PPApp() : CPropertyPage(IDD) {
  OnClicked(1046, [this] { OnDontPromptForFilename(); });
  OnClicked(80, [this] { OnFileBowse(); });
  OnClicked(81, [this] { OnDirBrowse(); });
}

void PPApp::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 77, m_Type);
  DDX_Text(pDX, 75, m_strAppExe);
  DDX_Text(pDX, 78, m_strDir);
  DDX_Check(pDX, 1046, m_bDontPromptForFilename);
}

BOOL PPApp::OnToolTipText(int id, char* buffer) {
  if (id != 75 && id != 78) return FALSE;
  const std::string text = GetDlgItemText(id);
  if (text.empty()) return FALSE;
  std::strncpy(buffer, text.c_str(), kToolTipBufferSize - 1);
  buffer[kToolTipBufferSize - 1] = '\0';
  return TRUE;
}

BOOL PPApp::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  EnableToolTips(TRUE);
  CQsWizard* wiz = WizardOf(this);
  wiz->m_ValueGetter.LoadFileTypeControl(&m_Type,
                                         wiz->m_nMode == ModifyQs ? wiz->m_nType : int(PX_TYPE_TIFF_PACKED));
  return TRUE;
}

BOOL PPApp::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  wiz->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  m_strAppExe = wiz->m_strAppExe;
  m_bDontPromptForFilename = wiz->DontPromptForFilename ? 1 : 0;
  m_strDir = wiz->m_strDir;
  for (int id : {78, 81})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(m_bDontPromptForFilename != 0);
  for (int i = 0; i < m_Type.GetCount(); ++i)
    if (static_cast<int>(m_Type.GetItemData(i)) == wiz->m_nType) m_Type.SetCurSel(i);
  if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  return CPropertyPage::OnSetActive();
}

void PPApp::OnDontPromptForFilename() {
  DebugTrace trace("OnDontPromptForFilename", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  for (int id : {78, 81})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(m_bDontPromptForFilename != 0);
}

void PPApp::OnFileBowse() {
  DebugTrace trace("OnFileBowse", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  std::string name;
  std::string folder;
  int type = 0;
  if (wiz->m_ValueGetter.ShowFileDialog(FileDialogKind::kOpen, name, type, folder,
                                        FileDialogFilter::kAllFiles)) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    m_strAppExe = folder + name;
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  } else {
    trace.Write("File dialog not successful");
  }
}

void PPApp::OnDirBrowse() {
  DebugTrace trace("OnDirBrowse", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  BrowseDir dlg(this);
  if (dlg.DoModal() == IDOK) {
    m_strDir = dlg.m_strPath + "/";
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  }
}

LRESULT PPApp::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  CQsWizard* wiz = WizardOf(this);
  const bool review = wiz->m_nMode == Review;
  if (review) {
    qs::WizardMessage(qs::kIdsAppMissing, trace, __LINE__);
  } else {
    m_strAppExe = qs::Trim(m_strAppExe);
    if (!m_strAppExe.empty() && GetFileAttributesA(m_strAppExe.c_str()) == INVALID_FILE_ATTRIBUTES) {
      qs::WizardMessage(qs::kIdsAppMissing, trace, __LINE__);
      return -1;
    }
  }
  wiz->m_strAppExe = m_strAppExe;
  const int sel = m_Type.GetCurSel();
  if (sel == CB_ERR)
    trace.Error(TRACE_NUMBERED("GetCurSel failed"));
  else
    wiz->m_nType = static_cast<int16_t>(m_Type.GetItemData(sel));
  wiz->DontPromptForFilename = m_bDontPromptForFilename != 0;
  if (m_bDontPromptForFilename != 0 && !review) {
    m_strDir = qs::Trim(m_strDir);
    if (m_strDir.empty()) {
      qs::WizardMessage(qs::kIdsFolderEmpty, trace, __LINE__);
      GotoDlgCtrl(GetDlgItem(78));
      return -1;
    }
  }
  wiz->m_strDir = m_strDir;
  return wiz->GetNextPage(kPageApp);
}

LRESULT PPApp::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  return WizardOf(this)->GetPreviousPage(kPageApp);
}
