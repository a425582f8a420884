#include "ui/HalyardDlg.h"

#include <cstring>

#include "app/halyard.h"
#include "device/DeviceTalk.h"
#include "platform/framework/Afx.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiHost.h"
#include "platform/ui/UiTypes.h"
#include "settings/MyReg.h"
#include "settings/SettingsSchema.h"
#include "settings/ValueGetter.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"
#include "ui/SetupDevice.h"

namespace {

constexpr int kIdQsCombo = 1001;
constexpr int kIdScan = 1048;
constexpr int kIdSetup = 3;
constexpr int kTaskSaved = 2;
constexpr int kTaskOneTime = 3;

struct Caption {
  int nTask;
  UINT nString;
};
constexpr Caption kCaptions[] = {{kTaskOneTime, qs::kIdsOneTimeButton}, {kTaskSaved, qs::kIdsScanButton}};

// Presses of Scan in review mode, for the program's run.
int g_reviewPresses = 0;

}  // namespace

CHalyardDlg::CHalyardDlg(std::string& qsName, CWnd* parent) : CDialog(IDD, parent), m_strQsName(qsName) {
  OnCommandMap(kIdQsCombo, CBN_SELCHANGE, [this] { OnQsChanged(); });
  OnClicked(kIdScan, [this] { OnScan(); });
  OnClicked(kIdSetup, [this] { OnSetup(); });
}

void CHalyardDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, kIdScan, m_ScanBtn);
  DDX_Control(pDX, kIdQsCombo, m_QsCombo);
}

std::string CHalyardDlg::MainKeyPath(bool& loaded) {
  DebugTrace trace("MainKeyPath", __FILE__);
  std::string app;
  loaded = AfxLoadString(qs::kIdsTitleScanReg, app) && !app.empty();
  return std::string(settings::kMainKeyBase) + "\\" + app;
}

BOOL CHalyardDlg::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CDialog::OnInitDialog();
  EnableToolTips(TRUE);
  std::string about;
  if (!AfxLoadString(qs::kIdsAboutItem, about)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  if (!about.empty()) {
    CMenu* menu = GetSystemMenu(FALSE);
    menu->AppendMenu(MF_SEPARATOR);
    menu->AppendMenu(MF_STRING, IDM_ABOUTBOX, about.c_str());
  }
  HICON icon = platform::ui::LoadIcon(IDR_MAINFRAME);
  SetIcon(icon, TRUE);
  SetIcon(icon, FALSE);
  if (m_FindIris) m_FindIris();
  GetQsList();
  LoadQsCombo();
  GotoDlgCtrl(&m_ScanBtn);
  return FALSE;
}

BOOL CHalyardDlg::OnToolTipText(int id, char* buffer) {
  if (id != kIdSetup) return FALSE;
  std::string tip;
  AfxLoadString(qs::kIdsSetupTip, tip);
  std::strncpy(buffer, tip.c_str(), kToolTipBufferSize - 1);
  buffer[kToolTipBufferSize - 1] = '\0';
  return TRUE;
}

void CHalyardDlg::OnSysCommand(UINT id, LPARAM param) {
  // Commands 16 to 31: the low four bits belong to the system.
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CDialog about(IDD_ABOUTBOX, this);
    about.DoModal();
    return;
  }
  CDialog::OnSysCommand(id, param);
}

bool CHalyardDlg::LoadQsCombo() {
  DebugTrace trace("LoadQsCombo", __FILE__);
  bool loaded = false;
  const std::string path = MainKeyPath(loaded);
  if (!loaded) {
    trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN_REG"));
    return false;
  }
  MyReg key;
  std::string last;
  std::vector<std::string> names;
  if (key.Open(HKEY_CURRENT_USER, path, KEY_READ, MyReg::kQuiet)) {
    key.Query(last, settings::kMainQs.pszName);
    key.EnumKeys(names);
  }
  if (last.empty()) last = qs::LoadStr(qs::kIdsDefaultQs, trace, __LINE__);
  const std::string scratch = qs::LoadStr(qs::kIdsScratchQs, trace, __LINE__);
  const std::string oneTime = qs::LoadStr(qs::kIdsOneTimeEntry, trace, __LINE__);

  m_QsCombo.ResetContent();
  int task = kTaskSaved;
  for (const std::string& name : names) {
    if (name == scratch || name == oneTime) continue;
    const int index = m_QsCombo.AddString(name);
    if (index < 0) {
      trace.Error(TRACE_NUMBERED("AddString failed"));
      continue;
    }
    DWORD entryTask = kTaskSaved;
    MyReg sub;
    if (sub.Open(HKEY_CURRENT_USER, path + "\\" + name, KEY_READ, MyReg::kQuiet))
      sub.Query(entryTask, settings::kQsTask);
    if (m_QsCombo.SetItemData(index, entryTask) == CB_ERR) trace.Error(TRACE_NUMBERED("SetItemData failed"));
    if (name == last) task = static_cast<int>(entryTask);
  }
  const int oneTimeIndex = m_QsCombo.AddString(oneTime);
  if (oneTimeIndex < 0)
    trace.Error(TRACE_NUMBERED("AddString failed"));
  else if (m_QsCombo.SetItemData(oneTimeIndex, kTaskOneTime) == CB_ERR)
    trace.Error(TRACE_NUMBERED("SetItemData failed"));
  if (m_QsCombo.GetCount() == 0) {
    trace.Error("No Qs for combo box");
    return false;
  }
  if (!last.empty()) {
    if (last == scratch) {
      last = oneTime;
      task = kTaskOneTime;
    }
    // The whole name, ignoring case: a prefix search would pick a longer name listed before it.
    const int index = m_QsCombo.FindStringExact(-1, last);
    if (index != CB_ERR) m_QsCombo.SetCurSel(index);
  }
  UpdateBtnTxt(task);
  return true;
}

bool CHalyardDlg::GetQsList() {
  DebugTrace trace("GetQsList", __FILE__);
  bool loaded = false;
  const std::string path = MainKeyPath(loaded);
  if (!loaded) trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN_REG"));
  const std::string scratch = qs::LoadStr(qs::kIdsScratchQs, trace, __LINE__);
  MyReg key;
  std::vector<std::string> names;
  if (loaded && key.Open(HKEY_CURRENT_USER, path, KEY_READ, MyReg::kQuiet)) key.EnumKeys(names);
  for (const std::string& name : names)
    if (name != scratch) m_QsList.push_back(name);
  return true;
}

bool CHalyardDlg::UpdateBtnTxt(int task) {
  DebugTrace trace("UpdateBtnTxt", __FILE__);
  std::string caption;
  for (const Caption& row : kCaptions) {
    if (row.nTask != task) continue;
    caption = qs::LoadStr(row.nString, trace, __LINE__);
    if (!caption.empty()) break;
  }
  if (caption.empty())
    trace.Error("LoadString failed on button text");
  else
    m_ScanBtn.SetWindowText(caption);
  return true;
}

void CHalyardDlg::OnQsChanged() {
  DebugTrace trace("OnQsChanged", __FILE__);
  const int sel = m_QsCombo.GetCurSel();
  if (sel == CB_ERR) {
    trace.Error(TRACE_NUMBERED("GetCurSel failed"));
    return;
  }
  UpdateBtnTxt(static_cast<int>(m_QsCombo.GetItemData(sel)));
  m_QsCombo.GetLBText(sel, m_strQsName);
}

void CHalyardDlg::OnScan() {
  DebugTrace trace("OnScan", __FILE__);
  if (m_nTask == kTaskReview) {
    ++g_reviewPresses;
    UpdateBtnTxt(g_reviewPresses % 2 == 1 ? kTaskOneTime : kTaskSaved);
    return;
  }
  const int sel = m_QsCombo.GetCurSel();
  if (sel == CB_ERR) {
    trace.Error(TRACE_NUMBERED("GetCurSel failed"));
    trace.Error("Failed to get item value from selection, defaulting");
    m_nTask = kTaskSaved;
  } else {
    m_nTask = static_cast<int>(m_QsCombo.GetItemData(sel));
  }
  if (m_nTask == kTaskOneTime) {
    CQsWizard wizard(qs::kIdsWizardCaption, OneTimeScan, "", this, 0);
    const INT_PTR result = wizard.DoModal();
    if (result == IDCANCEL) {
      trace.Write("Wizard dialog cancelled");
      return;
    }
    if (result == ID_WIZFINISH)
      m_strQsName = wizard.m_strQsName;
    else
      trace.Write("Wizard failed to display");
  } else if (sel != CB_ERR) {
    m_QsCombo.GetLBText(sel, m_strQsName);
  }
  bool loaded = false;
  const std::string path = MainKeyPath(loaded);
  if (loaded) {
    MyReg key(HKEY_CURRENT_USER, path, MyReg::kCreate, KEY_WRITE);
    const std::string text = m_QsCombo.GetWindowText();
    if (!text.empty()) key.Set(text, settings::kMainQs.pszName);
  } else {
    trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN_REG"));
  }
  EndDialog(IDOK);
}

void CHalyardDlg::OnSetup() {
  DebugTrace trace("OnSetup", __FILE__);
  ValueGetter values;
  values.SetMainStr(settings::kMainQs.pszName, m_strQsName, MissingMainKey::kFail);
  CQsWizard wizard(qs::kIdsWizardCaption, m_nTask == kTaskReview ? Review : ChooseTask, m_strQsName, this, 0);
  const INT_PTR result = wizard.DoModal();
  if (result == IDCANCEL) {
    trace.Write("Wizard canceled");
    return;
  }
  if (result == kResultDeviceDestinations) {
    SetupDevice();
    return;
  }
  if (result != ID_WIZFINISH) {
    trace.Error("Wizard failed");
    return;
  }
  if (m_nTask == kTaskReview) {
    SetupDevice();
    return;
  }
  m_nTask = wizard.m_nMode;
  if (wizard.m_nMode == NewQs) {
    m_strQsName = wizard.m_strQsName;
    m_QsList.push_back(m_strQsName);
    const int index = m_QsCombo.AddString(m_strQsName);
    if (index < 0) {
      trace.Error(TRACE_NUMBERED("AddString failed"));
    } else {
      if (m_QsCombo.SetItemData(index, kTaskSaved) == CB_ERR)
        trace.Error(TRACE_NUMBERED("SetItemData failed"));
      // Selected by its index: a prefix search could pick a longer name listed earlier.
      if (m_QsCombo.SetCurSel(index) == CB_ERR) trace.Error(TRACE_NUMBERED("SelectString failed"));
      UpdateBtnTxt(kTaskSaved);
    }
    // Refused: the Quick Set is not on the device, and a later change may send it again.
    if (wizard.m_bAddToDevice && !GetScanApp()->SendDestToDevice(wizard.m_strDevDest))
      values.SetSetting(settings::kQsAddToDevice.pszName, false, wizard.m_strQsName);
  } else if (wizard.m_nMode == ModifyQs) {
    if (values.IsScanToAvailable()) UpdateModifiedOnDevice(wizard);
  } else if (wizard.m_nMode == RemoveQs) {
    m_QsList.clear();
    GetQsList();
    const std::string removed = wizard.m_strQsName;
    // The whole name, ignoring case: a prefix search could delete a longer name listed earlier.
    const int index = m_QsCombo.FindStringExact(-1, removed);
    if (index == CB_ERR)
      trace.Error(TRACE_NUMBERED("FindString failed"));
    else
      m_QsCombo.DeleteString(index);
    if (removed == m_strQsName) {
      m_QsCombo.SetCurSel(0);
      const int sel = m_QsCombo.GetCurSel();
      if (sel == CB_ERR) {
        trace.Error(TRACE_NUMBERED("GetCurSel failed"));
      } else {
        m_QsCombo.GetLBText(sel, m_strQsName);
        UpdateBtnTxt(static_cast<int>(m_QsCombo.GetItemData(sel)));
        values.SetMainStr(settings::kMainQs.pszName, m_strQsName, MissingMainKey::kFail);
      }
    }
  }
}

// A changed Quick Set: its old name leaves the device and its new one arrives, as the change asks.
// What the device refused is taken back in the registry, so that the registry names what the device
// holds and the same change made again is sent again (the box asks the user to try again).
void CHalyardDlg::UpdateModifiedOnDevice(const CQsWizard& wizard) {
  DebugTrace trace("UpdateModifiedOnDevice", __FILE__);
  ValueGetter& values = GetScanApp()->GetValueGetter();
  const std::string& qs = wizard.m_strQsName;
  std::string oldName;
  bool wasOnDevice = false;
  values.GetSetting(settings::kQsDevDestOld, oldName, qs);
  values.GetSetting(settings::kQsAddToDeviceOld, wasOnDevice, qs);
  if (!wasOnDevice) {
    if (wizard.m_bAddToDevice && !GetScanApp()->SendDestToDevice(wizard.m_strDevDest))
      values.SetSetting(settings::kQsAddToDevice.pszName, false, qs);
    return;
  }
  DeviceTalk device;
  // A failing DOM call (the XML library missing) is a failed update, as on the other publishing paths.
  auto update = [&](const std::vector<std::string>& names, bool add) {
    try {
      return device.Update(&names, add);
    } catch (const platform::xmldom::ComError& error) {
      trace.Error("Caught exception updating destination: " + error.ErrorMessage());
      return false;
    }
  };
  const std::vector<std::string> oldNames{oldName};
  bool removed = false;
  bool added = true;
  const char* failure = nullptr;
  if (wizard.m_bAddToDevice) {
    if (oldName == wizard.m_strDevDest) return;
    const std::vector<std::string> newNames{wizard.m_strDevDest};
    removed = update(oldNames, false);
    added = update(newNames, true);  // both are always attempted
    failure = "Failed to modify dest name on device";
  } else {
    removed = update(oldNames, false);
    failure = "Failed to remove modified dest from device";
  }
  if (removed && added) return;
  if (!removed) {
    // The old name is still there; a new one that did arrive stays the Quick Set's own.
    if (!wizard.m_bAddToDevice || !added) {
      values.SetSetting(settings::kQsDevDest.pszName, oldName, qs);
      values.SetSetting(settings::kQsAddToDevice.pszName, true, qs);
    }
  } else {
    values.SetSetting(settings::kQsAddToDevice.pszName, false, qs);
  }
  std::string text, caption;
  AfxLoadString(108, text);
  AfxLoadString(176, caption);
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
  trace.Error(failure);
}

void CHalyardDlg::SetupDevice() {
  DebugTrace trace("SetupDevice", __FILE__);
  SetupDeviceDialog dlg;
  dlg.m_bRealMode = m_nTask != kTaskReview;
  dlg.DoModal();
  if (!dlg.m_bRealMode || !dlg.m_bQsAdded) return;
  m_QsList.clear();
  GetQsList();
  // The whole name, ignoring case: a prefix search would take a new "Scan" as present when "Scan
  // Colour" is.
  for (const std::string& name : m_QsList)
    if (m_QsCombo.FindStringExact(-1, name) < 0) m_QsCombo.AddString(name);
}
