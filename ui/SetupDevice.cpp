#include "ui/SetupDevice.h"

#include <algorithm>
#include <cstring>

#include "app/MonitorAutostart.h"
#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/DataExchange.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiTypes.h"
#include "platform/ui/WaitCursor.h"
#include "settings/MyReg.h"
#include "settings/SettingsSchema.h"
#include "ui/DeviceNamePrompt.h"
#include "ui/QsStrings.h"
#include "ui/QsWizard.h"

namespace {

constexpr int kIdPcList = 1004;
constexpr int kIdDeviceList = 1005;
constexpr int kIdMoveAll = 1006;
constexpr int kIdMove = 1007;
constexpr int kIdRemove = 1008;
constexpr int kIdRemoveAll = 1009;
constexpr int kIdPcLabel = 1010;
constexpr int kIdDeviceLabel = 1012;
constexpr int kIdNew = 1045;
constexpr int kIdScanTo = 1049;
constexpr int kListExtent = 750;

enum : UINT {
  kIdsWizardCaption = 102,
  kIdsScratchQs = 104,
  kIdsUpdateFailed = 108,
  kIdsClose = 109,
  kIdsCaption = 176,
  kIdsNoSelection = 179,
  kIdsReadFailed = 195,
  kIdsNotThisPc = 196,
  kIdsNoQsForEntry = 214,
  kIdsOneTimeEntry = 85,
  kIdsTitleScanReg = 230,
  kIdsDeviceFull = 235,
  kIdsSetupDest = 244,
  kIdsCancel = 255,
};

struct Tip {
  int nId;
  UINT nString;
};
constexpr Tip kTips[] = {{IDOK, 227},      {kIdMoveAll, 223},   {kIdMove, 222},
                         {kIdRemove, 224}, {kIdRemoveAll, 225}, {kIdNew, 226}};

constexpr const char* kMonitorExe = "DEVWATCH.exe";

}  // namespace

SetupDeviceDialog::SetupDeviceDialog(CWnd* parent) : CDialog(IDD, parent) {
  OnClicked(kIdMove, [this] { OnMoveToDevice(); });
  OnCommandMap(kIdPcList, LBN_DBLCLK, [this] { OnMoveToDevice(); });
  OnClicked(kIdMoveAll, [this] { OnMoveAllToDevice(); });
  OnClicked(kIdRemove, [this] { OnRemoveFromDevice(); });
  OnCommandMap(kIdDeviceList, LBN_DBLCLK, [this] { OnRemoveFromDevice(); });
  OnClicked(kIdRemoveAll, [this] { OnRemoveAllFromDevice(); });
  OnClicked(kIdNew, [this] { OnNew(); });
  OnClicked(kIdScanTo, [this] { OnChkBox(); });
  OnCommandMap(kIdPcList, LBN_SELCHANGE, [this] { OnSelPc(); });
  OnCommandMap(kIdDeviceList, LBN_SELCHANGE, [this] { OnSelDevice(); });
}

void SetupDeviceDialog::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, kIdPcList, m_PcList);
  DDX_Control(pDX, kIdDeviceList, m_DeviceList);
  DDX_Check(pDX, kIdScanTo, m_bScanToOn);
}

bool SetupDeviceDialog::ParseDisplayString(const std::string& entry, std::string& first,
                                           std::string& second) {
  const std::size_t open = entry.rfind('(');
  const std::size_t close = entry.rfind(')');
  if (open == std::string::npos || close == std::string::npos) {
    first = entry;
    second.clear();
    return false;
  }
  // The blank before "(" belongs to neither part.
  first = entry.substr(0, open > 0 ? open - 1 : 0);
  second = close > open ? entry.substr(open + 1, close - open - 1) : std::string();
  return true;
}

int SetupDeviceDialog::IsStringInArray(const std::string& text, const std::vector<std::string>& list) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i] == text) return static_cast<int>(i);
  return -1;
}

std::string SetupDeviceDialog::PcForm(std::size_t qs) const {
  if (m_saQsDevNames[qs].empty()) return m_saQsNames[qs];
  return m_saQsNames[qs] + " (" + m_saQsDevNames[qs] + ")";
}

std::string SetupDeviceDialog::DeviceForm(std::size_t qs) const {
  return m_saQsDevNames[qs] + " (" + m_saQsNames[qs] + ")";
}

int SetupDeviceDialog::QsForPcEntry(const std::string& entry) const {
  for (std::size_t i = 0; i < m_saQsNames.size(); ++i)
    if (m_aOnDevice[i] == 0 && PcForm(i) == entry) return static_cast<int>(i);
  return -1;
}

int SetupDeviceDialog::QsForDeviceEntry(const std::string& entry) const {
  for (std::size_t i = 0; i < m_saQsNames.size(); ++i)
    if (m_aOnDevice[i] == 1 && !m_saQsDevNames[i].empty() && DeviceForm(i) == entry)
      return static_cast<int>(i);
  return -1;
}

int SetupDeviceDialog::MaxDest() const {
  // The review never reads a device: it shows the largest list one can hold.
  return m_bRealMode ? m_DeviceTalk.GetMaxDest() : DeviceTalk::kMaxDestinations;
}

void SetupDeviceDialog::Message(UINT id) {
  DebugTrace trace("Message", __FILE__);
  const std::string text = qs::LoadStr(id, trace, __LINE__);
  const std::string caption = qs::LoadStr(kIdsCaption, trace, __LINE__);
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

bool SetupDeviceDialog::DeviceGetList() {
  DebugTrace trace("DeviceGetList", __FILE__);
  try {
    return m_DeviceTalk.GetList(m_saThisPcOnDevice, m_saOtherPcs);
  } catch (const platform::xmldom::ComError& error) {
    trace.Error("Caught exception reading the device's list: " + error.ErrorMessage());
  }
  return false;
}

bool SetupDeviceDialog::DeviceUpdate(const std::vector<std::string>& names, ListChange change) {
  DebugTrace trace("DeviceUpdate", __FILE__);
  try {
    return m_DeviceTalk.Update(&names, change == ListChange::kAdd);
  } catch (const platform::xmldom::ComError& error) {
    trace.Error("Caught exception updating the device's list: " + error.ErrorMessage());
  }
  return false;
}

BOOL SetupDeviceDialog::OnInitDialog() {
  DebugTrace trace("OnInitDialog", __FILE__);
  CDialog::OnInitDialog();
  EnableToolTips(TRUE);
  UpdateButtons(Changes::kNone);
  if (m_bRealMode) {
    m_bNetworked = m_ValueGetter.IsNetworked();
    m_bScanToOn =
        m_ValueGetter.GetMainInt(settings::kMainScanToOn.pszName, m_bNetworked ? 0 : 1) != 0 ? 1 : 0;
  } else {
    m_bNetworked = true;
    m_bScanToOn = 1;  // the review shows its sample lists enabled
  }
  m_ValueGetter.GetNetworkPrefix(m_strNetworkPrefix);
  m_PcList.SetHorizontalExtent(kListExtent);
  m_DeviceList.SetHorizontalExtent(kListExtent);
  UpdateData(FALSE);
  UpdateControls();
  return TRUE;
}

BOOL SetupDeviceDialog::OnToolTipText(int id, char* buffer) {
  for (const Tip& tip : kTips) {
    if (tip.nId != id) continue;
    std::string text;
    AfxLoadString(tip.nString, text);
    std::strncpy(buffer, text.c_str(), kToolTipBufferSize - 1);
    buffer[kToolTipBufferSize - 1] = '\0';
    return TRUE;
  }
  return FALSE;
}

void SetupDeviceDialog::UpdateControls() {
  DebugTrace trace("UpdateControls", __FILE__);
  UpdateData(TRUE);
  const BOOL enable = m_bScanToOn ? TRUE : FALSE;
  for (int id : {kIdPcList, kIdDeviceList, kIdPcLabel, kIdDeviceLabel, kIdMoveAll, kIdMove, kIdRemove,
                 kIdRemoveAll, kIdNew}) {
    if (CWnd* control = GetDlgItem(id)) control->EnableWindow(enable);
  }
  if (m_bRealMode) {
    if (m_bScanToOn && !RefreshUi()) {
      m_bScanToOn = 0;
      UpdateData(FALSE);
      UpdateControls();
    }
    return;
  }
  if (m_saOtherPcs.empty()) {
    for (int i = 1; i <= 28; ++i) m_saOtherPcs.push_back("AAAAA:TEST " + std::to_string(i));
    m_saOtherPcs.push_back("BBBBB:TEST 1 a really long one XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX");
    m_saThisPcOnDevice.push_back(m_strNetworkPrefix + "EMAIL DOC");
    SetupQsLists();
    PopulateControls();
  }
}

bool SetupDeviceDialog::RefreshUi() {
  DebugTrace trace("RefreshUi", __FILE__);
  m_aOnDevice.clear();
  m_PcList.ResetContent();
  m_DeviceList.ResetContent();
  m_saQsNames.clear();
  m_saQsDevNames.clear();
  m_saThisPcOnDevice.clear();
  m_saOtherPcs.clear();
  if (!DeviceGetList()) {
    Message(kIdsReadFailed);
    return false;
  }
  SetupQsLists();
  PopulateControls();
  return true;
}

void SetupDeviceDialog::SetupQsLists() {
  DebugTrace trace("SetupQsLists", __FILE__);
  std::string app;
  if (!AfxLoadString(kIdsTitleScanReg, app)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  const std::string mainKey = std::string(settings::kMainKeyBase) + "\\" + app;
  MyReg key;
  m_saQsNames.clear();
  if (key.Open(HKEY_CURRENT_USER, mainKey, KEY_READ, MyReg::kQuiet)) key.EnumKeys(m_saQsNames);
  key.Close();
  const std::string scratch = qs::LoadStr(kIdsScratchQs, trace, __LINE__);
  const std::string oneTime = qs::LoadStr(kIdsOneTimeEntry, trace, __LINE__);
  std::erase_if(m_saQsNames, [&](const std::string& name) { return name == scratch || name == oneTime; });

  m_saQsDevNames.clear();
  m_aOnDevice.clear();
  for (const std::string& name : m_saQsNames) {
    std::string devDest;
    MyReg sub;
    if (sub.Open(HKEY_CURRENT_USER, mainKey + "\\" + name, KEY_READ, MyReg::kQuiet))
      sub.Query(devDest, settings::kQsDevDest.pszName);
    m_saQsDevNames.push_back(devDest);
    m_aOnDevice.push_back(!devDest.empty() && IsStringInArray(devDest, m_saThisPcOnDevice) >= 0 ? 1 : 0);
  }

  // This PC's names that no Quick Set claims any more leave the device at once.
  const std::string special = m_strNetworkPrefix + qs::LoadStr(kIdsSetupDest, trace, __LINE__);
  std::vector<std::string> stale;
  for (const std::string& name : m_saThisPcOnDevice)
    if (name != special && IsStringInArray(name, m_saQsDevNames) < 0) stale.push_back(name);
  if (!stale.empty() && m_bRealMode) DeviceUpdate(stale, ListChange::kRemove);
}

void SetupDeviceDialog::PopulateControls() {
  DebugTrace trace("PopulateControls", __FILE__);
  for (std::size_t i = 0; i < m_saQsNames.size(); ++i) {
    if (m_aOnDevice[i] == 0 && m_PcList.AddString(PcForm(i)) < 0)
      trace.Error(TRACE_NUMBERED("AddString failed"));
  }
  const std::string special = qs::LoadStr(kIdsSetupDest, trace, __LINE__);
  for (const std::string& name : m_saThisPcOnDevice) {
    const int qs = IsStringInArray(name, m_saQsDevNames);
    if (qs >= 0) {
      if (m_DeviceList.AddString(DeviceForm(static_cast<std::size_t>(qs))) < 0)
        trace.Error(TRACE_NUMBERED("AddString failed"));
      continue;
    }
    std::string bare = name;
    if (m_bNetworked) {
      const std::size_t colon = bare.find(':');
      if (colon != std::string::npos) bare.erase(0, colon + 1);
    }
    if (bare != special) trace.ErrorFormat("%s on deviceThis list but not on PC", name);
  }
  for (const std::string& name : m_saOtherPcs)
    if (m_DeviceList.AddString(name) < 0) trace.Error(TRACE_NUMBERED("AddString failed"));
}

bool SetupDeviceDialog::MoveEntryToDevice(const std::string& entry, const char* addFailure,
                                          bool& promptCancelled) {
  DebugTrace trace("MoveEntryToDevice", __FILE__);
  promptCancelled = false;
  const int found = QsForPcEntry(entry);
  if (found < 0) {
    trace.Error("Couldn't find " + entry + " in QsList");
    return false;
  }
  const std::size_t qs = static_cast<std::size_t>(found);
  if (m_saQsDevNames[qs].empty()) {
    DeviceNamePrompt prompt(m_saQsNames[qs], 1, this);
    if (prompt.DoModal() != IDOK || prompt.m_strAnswer.empty()) {
      promptCancelled = true;
      return false;
    }
    m_saQsDevNames[qs] = prompt.m_strAnswer;
    std::string app;
    if (!AfxLoadString(kIdsTitleScanReg, app)) trace.Error(TRACE_NUMBERED("LoadString failed"));
    MyReg sub;
    if (sub.Open(HKEY_CURRENT_USER, std::string(settings::kMainKeyBase) + "\\" + app + "\\" + m_saQsNames[qs],
                 KEY_WRITE, MyReg::kLogFailure))
      sub.Set(prompt.m_strAnswer, settings::kQsDevDest.pszName);
  }
  m_aOnDevice[qs] = 1;
  if (m_DeviceList.AddString(DeviceForm(qs)) < 0) trace.Error(addFailure);
  // The whole entry, ignoring case: a prefix search would take "Scan" for "Scan Colour".
  const int index = m_PcList.FindStringExact(-1, entry);
  if (index < 0)
    trace.Error(TRACE_NUMBERED("FindString failed"));
  else if (m_PcList.DeleteString(static_cast<UINT>(index)) < 0)
    trace.Error(TRACE_NUMBERED("DeleteString failed"));
  return true;
}

void SetupDeviceDialog::OnMoveToDevice() {
  DebugTrace trace("OnMoveToDevice", __FILE__);
  if (!UpdateData(TRUE)) trace.Error("Failed UpdateData()");
  const int selected = m_PcList.GetCurSel();
  if (selected < 0) {
    Message(kIdsNoSelection);
    return;
  }
  if (m_DeviceList.GetCount() >= MaxDest()) {
    Message(kIdsDeviceFull);
    return;
  }
  UpdateButtons(Changes::kPending);
  std::string entry;
  m_PcList.GetText(selected, entry);
  bool cancelled = false;
  MoveEntryToDevice(entry, "Adding the string in MoveToDevice failed", cancelled);
}

void SetupDeviceDialog::OnMoveAllToDevice() {
  DebugTrace trace("OnMoveAllToDevice", __FILE__);
  const int count = m_PcList.GetCount();
  const int room = std::max(0, MaxDest() - m_DeviceList.GetCount());
  const int moves = std::min(count, room);
  if (moves > 0) {
    UpdateButtons(Changes::kPending);
    // An entry that cannot be moved stays on top: step past it so the rest still move.
    int index = 0;
    for (int done = 0; done < moves && index < m_PcList.GetCount(); ++done) {
      std::string entry;
      m_PcList.GetText(index, entry);
      bool cancelled = false;
      if (!MoveEntryToDevice(entry, "Adding the string in MoveAllToDevice failed", cancelled)) {
        if (cancelled) return;
        ++index;
      }
    }
  }
  if (moves < count) Message(kIdsDeviceFull);
}

void SetupDeviceDialog::MoveEntryToPc(int qs, const std::string& entry) {
  DebugTrace trace("MoveEntryToPc", __FILE__);
  const std::size_t i = static_cast<std::size_t>(qs);
  m_aOnDevice[i] = 0;
  if (m_PcList.AddString(PcForm(i)) < 0) trace.Error(TRACE_NUMBERED("AddString failed"));
  const int index = m_DeviceList.FindStringExact(-1, entry);
  if (index < 0)
    trace.Error(TRACE_NUMBERED("FindString failed"));
  else if (m_DeviceList.DeleteString(static_cast<UINT>(index)) < 0)
    trace.Error(TRACE_NUMBERED("DeleteString failed"));
}

void SetupDeviceDialog::OnRemoveFromDevice() {
  DebugTrace trace("OnRemoveFromDevice", __FILE__);
  if (!UpdateData(TRUE)) trace.Error("Failed UpdateData()");
  const int selected = m_DeviceList.GetCurSel();
  if (selected < 0) {
    Message(kIdsNoSelection);
    return;
  }
  std::string entry;
  m_DeviceList.GetText(selected, entry);
  if (m_bNetworked && entry.find(m_strNetworkPrefix) == std::string::npos) Message(kIdsNotThisPc);
  UpdateButtons(Changes::kPending);
  const int qs = QsForDeviceEntry(entry);
  if (qs < 0) {
    std::string first, second;
    ParseDisplayString(entry, first, second);
    trace.Write("Couldn't find " + entry + " in QsList, ignoring");
    std::string text;
    if (!AfxFormatString1(text, kIdsNoQsForEntry, first.c_str()))
      trace.Error(TRACE_NUMBERED("LoadString failed"));
    const std::string caption = qs::LoadStr(kIdsCaption, trace, __LINE__);
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  MoveEntryToPc(qs, entry);
}

void SetupDeviceDialog::OnRemoveAllFromDevice() {
  DebugTrace trace("OnRemoveAllFromDevice", __FILE__);
  UpdateButtons(Changes::kPending);
  const int entries = m_DeviceList.GetCount();
  int index = 0;
  for (int step = 0; step < entries && index < m_DeviceList.GetCount(); ++step) {
    std::string entry;
    m_DeviceList.GetText(index, entry);
    const bool others = IsStringInArray(entry, m_saOtherPcs) >= 0 && QsForDeviceEntry(entry) < 0;
    if (others || (m_bNetworked && entry.find(m_strNetworkPrefix) == std::string::npos)) {
      ++index;  // another PC's: it stays
      continue;
    }
    const int qs = QsForDeviceEntry(entry);
    if (qs < 0) {
      std::string first, second;
      ParseDisplayString(entry, first, second);
      trace.Write("Couldn't find " + entry + " in QsList, ignoring");
      if (!m_bNetworked) {
        std::string text;
        if (!AfxFormatString1(text, kIdsNoQsForEntry, first.c_str()))
          trace.Error(TRACE_NUMBERED("LoadString failed"));
        const std::string caption = qs::LoadStr(kIdsCaption, trace, __LINE__);
        MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
      }
      ++index;
      continue;
    }
    MoveEntryToPc(qs, entry);
  }
}

void SetupDeviceDialog::OnNew() {
  DebugTrace trace("OnNew", __FILE__);
  if (!m_bRealMode) {
    MessageBoxA(nullptr, "REPEAT UI", "", MB_OKCANCEL);
    return;
  }
  CQsWizard wizard(kIdsWizardCaption, NewQs, "", this, 0);
  const INT_PTR result = wizard.DoModal();
  if (result == ID_WIZFINISH) {
    m_bQsAdded = true;
    m_saQsNames.push_back(wizard.m_strQsName);
    m_saQsDevNames.push_back(wizard.m_strDevDest);
    const std::size_t qs = m_saQsNames.size() - 1;
    if (wizard.m_bAddToDevice && !wizard.m_strDevDest.empty()) {
      m_aOnDevice.push_back(1);
      if (m_DeviceList.AddString(DeviceForm(qs)) < 0) trace.Error(TRACE_NUMBERED("AddString failed"));
      UpdateButtons(Changes::kPending);
    } else {
      m_aOnDevice.push_back(0);
      if (m_PcList.AddString(PcForm(qs)) < 0) trace.Error(TRACE_NUMBERED("AddString failed"));
    }
  } else if (result == IDCANCEL) {
    trace.Write("Wizard canceled");
  } else {
    trace.Error("Wizard failed");
  }
}

void SetupDeviceDialog::OnChkBox() {
  OnRemoveAllFromDevice();
  UpdateControls();
}

void SetupDeviceDialog::OnOK() {
  // Enter acts as Update only while Update can be pressed.
  CWnd* update = GetDlgItem(IDOK);
  if (update == nullptr || update->IsWindowEnabled()) OnUpdate();
}

void SetupDeviceDialog::OnUpdate() {
  DebugTrace trace("OnUpdate", __FILE__);
  if (!m_bRealMode) {
    ShowErrorMessages();
    return;
  }
  CWaitCursor wait;
  UpdateData(TRUE);
  UpdateButtons(Changes::kNone);

  std::vector<std::string> additions;
  std::vector<std::string> removals;
  if (m_bScanToOn != m_ValueGetter.GetMainInt(settings::kMainScanToOn)) {
    UpdateToolboxPolling();
    m_ValueGetter.SetMainInt(settings::kMainScanToOn.pszName, m_bScanToOn);
    if (!m_bNetworked) {
      const std::string special = qs::LoadStr(kIdsSetupDest, trace, __LINE__);
      (m_bScanToOn ? additions : removals).push_back(special);
    }
  }
  for (std::size_t i = 0; i < m_saQsNames.size(); ++i) {
    const std::string& name = m_saQsDevNames[i];
    if (name.empty()) continue;
    const int on = IsStringInArray(name, m_saThisPcOnDevice);
    if (on < 0 && m_aOnDevice[i] == 1) {
      additions.push_back(name);
      m_saThisPcOnDevice.push_back(name);
    } else if (on >= 0 && m_aOnDevice[i] == 0) {
      removals.push_back(name);
      m_saThisPcOnDevice.erase(m_saThisPcOnDevice.begin() + on);
    }
  }
  // A name the device did not take (its list full, the name too long for it) is not marked as on the
  // device, and one it did not remove stays marked.
  auto keepWhatTheDeviceHolds = [this](bool add) {
    for (const std::string& name : m_DeviceTalk.GetNotTaken()) {
      for (std::size_t i = 0; i < m_saQsNames.size(); ++i)
        if (m_saQsDevNames[i] == name) m_aOnDevice[i] = add ? 0 : 1;
    }
  };
  if (!removals.empty() && !DeviceUpdate(removals, ListChange::kRemove)) {
    keepWhatTheDeviceHolds(false);
    Message(kIdsUpdateFailed);
    trace.Error("Failed to remove dests when user pressed update");
  }
  if (!additions.empty() && !DeviceUpdate(additions, ListChange::kAdd)) {
    keepWhatTheDeviceHolds(true);
    Message(kIdsUpdateFailed);
    trace.Error("Failed to add dests when user pressed update");
  }
  for (std::size_t i = 0; i < m_saQsNames.size(); ++i)
    m_ValueGetter.SetSetting(settings::kQsAddToDevice.pszName, m_aOnDevice[i] == 1, m_saQsNames[i]);
  // Scan-to off leaves nothing to read: the lists stay empty and disabled.
  if (m_bScanToOn) RefreshUi();
  wait.Restore();
}

bool SetupDeviceDialog::UpdateToolboxPolling() {
  DebugTrace trace("UpdateToolboxPolling", __FILE__);
  const char* state = m_bScanToOn ? "On" : "Off";
  std::string hostId;
  m_ValueGetter.DetermineUniquePcName(hostId);
  std::string exe;
  if (!m_ValueGetter.FindPathFromExe(exe, kMonitorExe, settings::kMainToolboxExe.pszName))
    trace.Error("FindPathFromExe failed");
  if (exe.empty()) {
    trace.Error("Duvezaz exe is empty, can't update polling");
    // The session start still follows the switch: the installed unit names the monitor itself.
    MonitorAutostart::Apply(m_bScanToOn != 0 ? MonitorAutostart::Start::kOn : MonitorAutostart::Start::kOff,
                            exe);
    return false;
  }
  const std::string address = m_ValueGetter.GetMainStr(settings::kMainToolboxId.pszName);
  const std::string line =
      exe + " /notifications:DevAddr=" + address + "  DevMon=" + state + " DevHostId=" + hostId;
  if (DeviceTalk::CheckNotificationFields(address, hostId))
    m_ValueGetter.CreateProcess(line, "Notifying toolbox failed");
  // After the notification, so the state a session start reads is already the new one.
  MonitorAutostart::Apply(m_bScanToOn != 0 ? MonitorAutostart::Start::kOn : MonitorAutostart::Start::kOff,
                          exe);
  return true;
}

void SetupDeviceDialog::UpdateButtons(Changes changes) {
  const bool pending = changes == Changes::kPending;
  DebugTrace trace("UpdateButtons", __FILE__);
  if (!m_bRealMode) return;
  if (CWnd* update = GetDlgItem(IDOK)) update->EnableWindow(pending ? TRUE : FALSE);
  std::string caption;
  if (!AfxLoadString(pending ? kIdsCancel : kIdsClose, caption))
    trace.Error(TRACE_NUMBERED("LoadString failed"));
  if (CWnd* close = GetDlgItem(IDCANCEL)) close->SetWindowText(caption);
}

void SetupDeviceDialog::OnCancel() {
  if (!m_bRealMode) {
    CWnd* close = GetDlgItem(IDCANCEL);
    std::string pending;
    AfxLoadString(kIdsCancel, pending);
    if (close != nullptr && close->GetWindowText() == pending) {
      std::string caption;
      AfxLoadString(kIdsClose, caption);
      close->SetWindowText(caption);
      return;
    }
  }
  CDialog::OnCancel();
}

void SetupDeviceDialog::OnSelPc() {
  m_DeviceList.SetCurSel(-1);
}

void SetupDeviceDialog::OnSelDevice() {
  m_PcList.SetCurSel(-1);
}

void SetupDeviceDialog::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  for (UINT id : {kIdsNoSelection, kIdsNotThisPc, kIdsDeviceFull, kIdsUpdateFailed, kIdsReadFailed})
    Message(id);
  std::string text;
  if (!AfxFormatString1(text, kIdsNoQsForEntry, "USER_DEFINED"))
    trace.Error(TRACE_NUMBERED("LoadString failed"));
  const std::string caption = qs::LoadStr(kIdsCaption, trace, __LINE__);
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
  DeviceNamePrompt prompt("USER_DEFINED", 0, this);
  prompt.DoModal();
}
