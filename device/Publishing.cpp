// Publishing this PC's destinations to the device and telling the device monitor to watch it: the
// ScanApp operations of tasks 11 and 14 and of the main dialog after a new Quick Set. Each builds a
// DeviceTalk of its own for one Update and discards it; the monitor is started through CreateProcess
// with one of the notification command lines below (their spacing differs on purpose: the monitor
// accepts each of them).
#include <cstdio>
#include <vector>

#include "app/MonitorAutostart.h"
#include "app/halyard.h"
#include "device/DeviceTalk.h"
#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/MessageBox.h"
#include "settings/MyReg.h"
#include "settings/SettingsSchema.h"

namespace {

enum : UINT {
  kIdsAddDestFailed = 108,
  kIdsAddDestCaption = 176,
  kIdsSetupDest = 244,
};

constexpr const char* kMonitorExe = "DEVWATCH.exe";

std::string PollingLine(const std::string& exe, const std::string& address, const std::string& state,
                        const std::string& hostId) {
  return exe + " /notifications:DevAddr=" + address + "  DevMon=" + state + "  DevHostId=" + hostId;
}

std::string AddedLine(const std::string& exe, const std::string& address, const std::string& hostId) {
  return exe + " /notifications:DevAddr=" + address + "  DevMon=On DevHostId=" + hostId;
}

}  // namespace

bool ScanApp::SendDestToDeviceNow() {
  DebugTrace trace("SendDestToDeviceNow", __FILE__);
  MyReg reg;
  reg.Open(HKEY_CURRENT_USER, m_ValueGetter.GetMainKeyPath(), KEY_READ, MyReg::kLogFailure);
  std::vector<std::string> quickSets;
  reg.EnumKeys(quickSets);
  reg.Close();

  std::vector<std::string> names;
  if (m_strNetworkPrefix.empty() && !quickSets.empty()) {
    std::string special;
    if (!AfxLoadString(kIdsSetupDest, special)) trace.Error(TRACE_NUMBERED("LoadString failed"));
    names.push_back(special);
  }
  for (const std::string& qs : quickSets) {
    bool add = false;
    m_ValueGetter.GetSetting(settings::kQsAddToDevice.pszName, add, qs, settings::kQsAddToDevice.bDefault);
    if (!add) continue;
    MyReg qsKey;
    std::string devDest;
    if (qsKey.Open(HKEY_CURRENT_USER, m_ValueGetter.GetMainKeyPath() + "\\" + qs, KEY_READ,
                   MyReg::kLogFailure))
      qsKey.Query(devDest, settings::kQsDevDest.pszName);
    names.push_back(devDest);
  }

  try {
    DeviceTalk device;
    if (!device.Update(&names, true)) trace.Error("Failed to send dests to device because update failed");
  } catch (const platform::xmldom::ComError& error) {
    trace.Error("Caught exception publishing destinations: " + error.ErrorMessage());
  }
  return true;
}

bool ScanApp::InitializePolling() {
  DebugTrace trace("InitializePolling", __FILE__);
  int scanToOn = m_ValueGetter.GetMainInt(settings::kMainScanToOn);
  bool on = false;
  if (scanToOn == -1) {
    on = !m_ValueGetter.IsNetworked();
    m_ValueGetter.SetMainInt(settings::kMainScanToOn.pszName, on ? 1 : 0);
  } else {
    on = scanToOn != 0;
  }
  if (!on) return false;

  SendDestToDeviceNow();
  std::string hostId;
  m_ValueGetter.DetermineUniquePcName(hostId);
  std::string exe;
  m_ValueGetter.FindPathFromExe(exe, kMonitorExe, settings::kMainToolboxExe.pszName);
  std::string address = m_ValueGetter.GetMainStr(settings::kMainToolboxId.pszName);
  if (DeviceTalk::CheckNotificationFields(address, hostId))
    m_ValueGetter.CreateProcess(PollingLine(exe, address, "On", hostId),
                                "Launching toolbox to update polling failed");
  // Scan-to decided on here (the first run after installing) also starts the monitor with later sessions.
  MonitorAutostart::Apply(MonitorAutostart::Start::kOn, exe);
  return true;
}

bool ScanApp::SendDestToDevice(const std::string& name) {
  DebugTrace trace("SendDestToDevice", __FILE__);
  bool added = false;
  try {
    DeviceTalk device;
    std::vector<std::string> names{name};
    added = device.Update(&names, true);
  } catch (const platform::xmldom::ComError& error) {
    trace.Error("Caught exception adding destination: " + error.ErrorMessage());
  }
  if (!added) {
    std::string text;
    std::string caption;
    if (!AfxLoadString(kIdsAddDestFailed, text)) trace.Error(TRACE_NUMBERED("LoadString failed"));
    if (!AfxLoadString(kIdsAddDestCaption, caption)) trace.Error(TRACE_NUMBERED("LoadString failed"));
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
    trace.Error("Failed to add new dest");
    return false;
  }

  if (m_ValueGetter.GetMainInt(settings::kMainScanToOn) == 0) {
    std::string hostId;
    m_ValueGetter.DetermineUniquePcName(hostId);
    std::string exe;
    m_ValueGetter.FindPathFromExe(exe, kMonitorExe, settings::kMainToolboxExe.pszName);
    std::string address = m_ValueGetter.GetMainStr(settings::kMainToolboxId.pszName);
    if (DeviceTalk::CheckNotificationFields(address, hostId)) {
      m_ValueGetter.CreateProcess(AddedLine(exe, address, hostId), "Notifying toolbox failed");
      m_ValueGetter.SetMainInt(settings::kMainScanToOn.pszName, 1);
    }
  }
  return true;
}
