#include "ui/PPFile.h"

#include <cstring>
#include <filesystem>

#include "platform/folders/Folders.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/UiTypes.h"
#include "settings/SettingsSchema.h"
#include "ui/BrowseDir.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

namespace {

constexpr char kSep = '/';  // the folder separator of this system

int ReadType(CComboBox& combo, DebugTrace& trace, int fallback) {
  const int sel = combo.GetCurSel();
  if (sel == CB_ERR) {
    trace.Error(TRACE_NUMBERED("GetCurSel failed"));
    return fallback;
  }
  return static_cast<int>(combo.GetItemData(sel));
}

// Selects the entry of the type's label (exact text); an unknown type leaves the selection.
void SelectType(CComboBox& combo, int type) {
  for (int i = 0; i < combo.GetCount(); ++i) {
    if (static_cast<int>(combo.GetItemData(i)) == type) {
      combo.SetCurSel(i);
      return;
    }
  }
}

}  // namespace

PPFile::PPFile() : CPropertyPage(IDD) {
  OnClicked(1062, [this] { OnRadio(); });
  OnClicked(56, [this] { OnRadio(); });
  OnClicked(58, [this] { OnFileBrowse(); });
  OnClicked(61, [this] { OnDirBrowse(); });
}

void PPFile::DoDataExchange(CDataExchange* pDX) {
  CPropertyPage::DoDataExchange(pDX);
  DDX_Control(pDX, 63, m_FileType);
  DDX_Control(pDX, 62, m_DirType);
  DDX_Text(pDX, 57, m_strFile);
  DDX_Text(pDX, 60, m_strDir);
  // The radio buttons are hidden in a one-time scan; their state is not exchanged then.
  CQsWizard* wiz = WizardOf(this);
  if (wiz == nullptr || wiz->m_nMode != OneTimeScan) DDX_Radio(pDX, 1062, m_nRadio);
}

BOOL PPFile::OnToolTipText(int id, char* buffer) {
  if (id != 57 && id != 60) return FALSE;
  const std::string text = GetDlgItemText(id);
  if (text.empty()) return FALSE;
  std::strncpy(buffer, text.c_str(), kToolTipBufferSize - 1);
  buffer[kToolTipBufferSize - 1] = '\0';
  return TRUE;
}

BOOL PPFile::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CPropertyPage::OnInitDialog();
  EnableToolTips(TRUE);
  CQsWizard* wiz = WizardOf(this);
  int def = wiz->m_nType;
  if (wiz->m_nMode != ModifyQs) {
    wiz->m_nType = 0;
    def = PX_TYPE_TIFF_PACKED;
  }
  if (wiz->m_nMode == OneTimeScan) {
    UpdateUi(Layout::kOneTimeScan);
  } else {
    wiz->m_ValueGetter.LoadFileTypeControl(&m_FileType, def);
    wiz->m_ValueGetter.LoadFileTypeControl(&m_DirType, def);
    UpdateUi(Layout::kQuickSet);
    m_strFile = wiz->m_strDir;
    m_strDir = wiz->m_strDir;
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  }
  GotoDlgCtrl(GetDlgItem(57));
  return FALSE;
}

BOOL PPFile::OnSetActive() {
  DebugTrace trace("OnSetActive", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  wiz->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
  if (wiz->m_nMode == OneTimeScan) {
    m_strFile = wiz->m_strOutFile;
  } else {
    m_nRadio = wiz->DontPromptForFilename ? 0 : 1;
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
    OnRadio();
    SelectType(m_FileType, wiz->m_nType);
    SelectType(m_DirType, wiz->m_nType);
  }
  if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  return CPropertyPage::OnSetActive();
}

void PPFile::OnRadio() {
  DebugTrace trace("OnRadio", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  const BOOL first = m_nRadio == 0;
  for (int id : {57, 63, 79, 58})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(first);
  for (int id : {60, 62, 59, 78, 61})
    if (CWnd* c = GetDlgItem(id)) c->EnableWindow(!first);
}

void PPFile::UpdateUi(Layout layout) {
  const bool oneTime = layout == Layout::kOneTimeScan;
  if (CWnd* c = GetDlgItem(149)) c->ShowWindow(oneTime ? SW_SHOW : SW_HIDE);
  for (int id : {1062, 56, 79, 59, 78, 61, 60, 62, 63})
    if (CWnd* c = GetDlgItem(id)) c->ShowWindow(oneTime ? SW_HIDE : SW_SHOW);
}

void PPFile::OnFileBrowse() {
  DebugTrace trace("OnFileBrowse", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == OneTimeScan) {
    std::string folder;
    const size_t slash = m_strFile.rfind(kSep);
    if (!m_strFile.empty() && slash != std::string::npos) folder = m_strFile.substr(0, slash + 1);
    if (folder.empty()) wiz->m_ValueGetter.GetSetting(settings::kQsDir, folder, wiz->m_strQsName);
    if (folder.empty() && GetSpecialFolder(SpecialFolder::Personal, folder, false)) folder += kSep;
    std::string name;
    int type = wiz->m_nType == 0 ? int(PX_TYPE_JPEG) : wiz->m_nType;
    if (wiz->m_ValueGetter.ShowFileDialog(FileDialogKind::kSave, name, type, folder,
                                          FileDialogFilter::kEveryType)) {
      if (!folder.empty() && folder.back() != kSep) folder += kSep;
      m_strFile = folder + name;
      wiz->m_nType = static_cast<int16_t>(type);
      if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
    } else {
      trace.Write("User cancelled out of saveAs dialog");
    }
    return;
  }
  BrowseDir dlg(this);
  if (dlg.DoModal() == IDOK) {
    m_strFile = dlg.m_strPath + kSep;
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  }
}

void PPFile::OnDirBrowse() {
  DebugTrace trace("OnDirBrowse", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  BrowseDir dlg(this);
  if (dlg.DoModal() == IDOK) {
    m_strDir = dlg.m_strPath + kSep;
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  }
}

void PPFile::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  OnDirBrowse();
  qs::WizardMessage(qs::kIdsOutPathBad, trace, __LINE__);
  qs::WizardMessage(qs::kIdsFolderEmpty, trace, __LINE__);
}

LRESULT PPFile::CheckOneTimePath() {
  DebugTrace trace("CheckOneTimePath", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  std::string path = qs::Trim(m_strFile);
  if (path.empty() || path.back() == kSep) {
    qs::WizardMessage(qs::kIdsOutPathBad, trace, __LINE__);
    GotoDlgCtrl(GetDlgItem(57));
    return -1;
  }
  if (path.find(kSep) == std::string::npos) {
    BrowseDir dlg(this);
    dlg.DoModal();
    std::string folder = dlg.m_strPath;
    if (folder.empty()) wiz->m_ValueGetter.GetDataDirectory(folder);
    if (folder.empty() || folder.back() != kSep) folder += kSep;
    path = folder + path;
  }
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind(kSep);
  // A three-letter extension is needed; anything else gets the type's one appended.
  if (dot == std::string::npos || dot < slash || dot + 4 != path.size()) {
    if (wiz->m_nType == 0) wiz->m_nType = PX_TYPE_JPEG;
    const std::string ext = wiz->m_ValueGetter.ConvertTypeToExt(wiz->m_nType);
    // Without the resource library there is no extension to add: a bare "." would help nobody.
    if (ext.empty())
      trace.Error(TRACE_NUMBERED("No extension for the file type"));
    else
      path += "." + ext;
  }
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    trace.WriteFormat("File '%s' already present", path);
    std::string question;
    if (!AfxFormatString1(question, qs::kIdsOverwrite, path.c_str()))
      trace.Error(TRACE_NUMBERED("LoadString failed"));
    if (AfxMessageBox(question, MB_YESNO) == IDNO) {
      trace.Write("User doesn't want to delete file, exiting");
      m_strFile = path;
      UpdateData(FALSE);
      return -1;
    }
    if (!std::filesystem::remove(path, ec)) trace.Error("Failed to delete file");
  }
  std::string folder = path.substr(0, path.rfind(kSep) + 1);
  const std::string name = path.substr(path.rfind(kSep) + 1);
  if (!folder.empty()) {
    if (!wiz->m_ValueGetter.ValidateDir(folder, MissingFolder::kAskFirst, FinalSlash::kAdd)) {
      m_strFile = path;
      UpdateData(FALSE);
      return -1;
    }
    if (folder.back() != kSep) folder += kSep;
    path = folder + name;
  }
  m_strFile = path;
  UpdateData(FALSE);
  return 0;
}

LRESULT PPFile::OnWizardNext() {
  DebugTrace trace("OnWizardNext", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == Review) {
    if (!m_bReviewOneTimeShown) {
      m_bReviewOneTimeShown = true;
      UpdateUi(Layout::kOneTimeScan);
      if (CWnd* c = GetDlgItem(57)) c->EnableWindow(TRUE);
      if (CWnd* c = GetDlgItem(58)) c->EnableWindow(TRUE);
      return -1;
    }
    ShowErrorMessages();
  } else if (wiz->m_nMode == OneTimeScan) {
    if (CheckOneTimePath() != 0) return -1;
  } else {
    const int edit = m_nRadio == 1 ? 60 : 57;
    std::string& text = m_nRadio == 1 ? m_strDir : m_strFile;
    text = qs::Trim(text);
    if (text.empty()) {
      qs::WizardMessage(qs::kIdsFolderEmpty, trace, __LINE__);
      GotoDlgCtrl(GetDlgItem(edit));
      return -1;
    }
    std::string folder = text;
    if (!wiz->m_ValueGetter.ValidateDir(folder, MissingFolder::kAskFirst, FinalSlash::kAdd)) return -1;
    text = folder;
    if (!UpdateData(FALSE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  }
  SaveData();
  return wiz->GetNextPage(kPageFile);
}

void PPFile::SaveData() {
  DebugTrace trace("SaveData", __FILE__);
  CQsWizard* wiz = WizardOf(this);
  if (wiz->m_nMode == OneTimeScan) {
    wiz->m_strOutFile = m_strFile;
    if (wiz->m_nType == 0) {
      const size_t dot = m_strFile.rfind('.');
      int type =
          dot == std::string::npos ? 0 : wiz->m_ValueGetter.ConvertExtToType(m_strFile.substr(dot + 1));
      wiz->m_nType = static_cast<int16_t>(type == 0 ? PX_TYPE_JPEG : type);
    }
    return;
  }
  wiz->DontPromptForFilename = m_nRadio == 0;
  wiz->m_strDir = m_nRadio == 1 ? m_strDir : m_strFile;
  wiz->m_nType = static_cast<int16_t>(ReadType(m_nRadio == 1 ? m_DirType : m_FileType, trace, wiz->m_nType));
}

LRESULT PPFile::OnWizardBack() {
  DebugTrace trace("OnWizardBack", __FILE__);
  if (!UpdateData(TRUE)) trace.Error(TRACE_NUMBERED("Failed UpdateData()"));
  SaveData();
  return WizardOf(this)->GetPreviousPage(kPageFile);
}
