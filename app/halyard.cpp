#include "app/halyard.h"

#include "app/OwnStrings.h"
#include "device/DeviceTalk.h"
#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/folders/Folders.h"
#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "platform/ui/MessageBox.h"
#include "scan/MultiFileWarnDialog.h"
#include "scan/ScanNotice.h"
#include "scan/TwainScan.h"
#include "settings/MyReg.h"
#include "settings/SettingsSchema.h"
#include "ui/HalyardDlg.h"
#include "ui/SetupDevice.h"

std::string g_strQsName;

namespace {

// Resource string numbers used by start-up and the message review.
enum : UINT {
  kIdsQsMailPhoto = 88,
  kIdsQsDefault = 89,
  kIdsScratchQs = 104,
  kIdsQsMailDocument = 186,
  kIdsFileConvertFailed = 191,
  kIdsAnotherPage = 192,
  kIdsScanCaption = 193,
  kIdsNoPaper = 199,
  kIdsScanFailed = 200,
  kIdsAcquireException = 201,
  kIdsDevDestDefault = 210,
  kIdsDevDestPhoto = 211,
  kIdsDevDestDocument = 212,
  kIdsNoMail = 215,
  kIdsAppLaunchFailed = 216,
  kIdsMultiFileWarn = 218,
  kIdsOverwrite = 219,
  kIdsOverwriteCaption = 220,
  kIdsConvertUnsupported = 221,
  kIdsTitleScanReg = 230,
  kIdsSetupDest = 244,
  kIdsCreateFolder = 245,
};

constexpr const char* kResourceLibrary = "marlin3.dll";

// Loads a string of the resource library; a failure is the numbered "LoadString failed" error line
// and the caller goes on with the empty text.
std::string LoadStr(UINT id, DebugTrace& trace, int place) {
  std::string text;
  if (!AfxLoadString(id, text)) trace.Error(DebugTrace::Numbered(place, "LoadString failed"));
  return text;
}

}  // namespace

ScanApp* GetScanApp() {
  return static_cast<ScanApp*>(AfxGetApp());
}

ScanApp::ScanApp()
    : m_hResDll(nullptr),
      m_nFileType(0),
      m_nTask(kTaskInteractive),
      m_nHide(settings::kQsHide.nDefault),
      m_nPageCount(0) {}

ScanApp::~ScanApp() {
  ReleaseResourceDll();
}

void ScanApp::ReleaseResourceDll() {
  if (m_hResDll != nullptr) {
    if (AfxGetResourceHandle() == m_hResDll) AfxSetResourceHandle(nullptr);
    FreeLibrary(m_hResDll);
    m_hResDll = nullptr;
  }
}

void ScanApp::SetupLogging() {
  std::string note;
  std::string path;
  char folder[260];
  DWORD length = GetTempPathA(sizeof folder, folder);
  if (length < 1 || length > 259) note = "GetTempPath failed\n";
  // The log goes into the user's own folder below the temporary folder, never into a shared one by a
  // fixed name; without such a folder the log stays where the trace's default puts it.
  std::string refusal;
  const std::string own = platform::folders::PrivateTempFolder(&refusal);
  if (!refusal.empty()) note += "Temporary folder refused: " + refusal + "\n";
  if (!own.empty()) {
    path = own + "marlin3.log";
    DeleteFileA(path.c_str());  // each run starts a new log
  }

  DebugTrace trace("SetupLogging", __FILE__, path.c_str());
  int level = DebugTrace::GetLevel();
  m_ValueGetter.GetFromCmdLine(settings::kOptLogDebug.WithDefault(level), level);
  DebugTrace::SetLevel(level);

  // Only the presence of "ShowDebug" counts, not its value.
  int show = 0;
  DebugTrace::SetShowErrors(m_ValueGetter.GetFromCmdLine(settings::kOptShowDebug, show));

  if (!note.empty()) trace.Write(note);
  if (!m_strCmdLine.empty()) trace.Write(m_strCmdLine);
}

BOOL ScanApp::InitInstance() {
  m_strCmdLine = m_lpCmdLine != nullptr ? m_lpCmdLine : "";
  m_ValueGetter = ValueGetter(m_strCmdLine);
  SetupLogging();
  DebugTrace trace("InitInstance", __FILE__);
  // An error met before the hide mask is known waits with its box (logged at once): task 8 and a mask
  // with every bit set must never block an unattended run on a box.
  struct BoxGate {
    ~BoxGate() { DebugTrace::ReleaseErrorBoxes(); }
  } boxGate;
  DebugTrace::HoldErrorBoxes();

  Enable3dControls();
  if (!LoadResourceDll(kResourceLibrary)) {
    if (IsQuietRun()) DebugTrace::SetShowErrors(false);
    return FALSE;
  }

  std::string title;
  if (AfxLoadString(kIdsTitleScanReg, title) && !title.empty())
    SetAppName(title);
  else  // keep the framework's own name rather than profile values straight under the company key
    trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN_REG"));

  SetupRegistry();

  std::string devAddr;
  m_ValueGetter.GetFromCmdLine(settings::kOptDevAddr, devAddr);
  if (!devAddr.empty()) {
    if (!IsThisSelected(devAddr)) {
      if (IsQuietRun()) DebugTrace::SetShowErrors(false);
      ReleaseResourceDll();
      return FALSE;  // another product's device: end silently
    }
    m_ValueGetter.SetMainStr(settings::kMainToolboxId.pszName, devAddr, MissingMainKey::kFail);
  }

  m_ValueGetter.GetFromCmdLine(settings::kOptTask, m_nTask);
  SetRegistryKey(settings::kRegistryKey);

  SelectQuickSet(trace);
  ReadHideMask();
  if (m_nTask != kTaskReview) {
    if (m_nTask == kTaskConvert) m_nHide |= settings::kHideAll;
    if (m_nHide == settings::kHideAll) DebugTrace::SetShowErrors(false);
  }
  DebugTrace::ReleaseErrorBoxes();
  m_ValueGetter.GetSetting(settings::kQsType.For(settings::Reader::kStartup), m_nFileType, g_strQsName);

  std::string setupDest;
  if (!AfxLoadString(kIdsSetupDest, setupDest)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  std::string scratchQs;
  AfxLoadString(kIdsScratchQs, scratchQs);

  std::string devDest;
  m_ValueGetter.GetFromCmdLine(settings::kQsDevDest, devDest);
  // An empty setup-destination text (failed load) would be "found" in every name: require a text.
  bool setupRun = m_nTask == kTaskDeviceScan && g_strQsName == scratchQs && !setupDest.empty() &&
                  devDest.find(setupDest) != std::string::npos;

  if (m_nTask == kTaskDeviceSetup || setupRun) {
    RunDeviceSetupDialog(trace);
  } else {
    switch (m_nTask) {
      case kTaskConvert:
        DoConvertFile();
        break;
      case kTaskPoll:
        RunPoll(trace);
        break;
      case kTaskPublish:
        SendDestToDeviceNow();
        break;
      case kTaskInitPolling:
        InitializePolling();
        break;
      case kTaskClear:
        ClearMainRegistry();
        break;
      case kTaskDeviceScan:
        m_nHide |= settings::kHideMainDialog;
        RunInteractive(trace);
        break;
      default:
        RunInteractive(trace);
        break;
    }
  }

  ReleaseResourceDll();
  return FALSE;
}

void ScanApp::SelectQuickSet(DebugTrace& trace) {
  m_ValueGetter.GetFromCmdLine(settings::kMainQs.pszName, g_strQsName, g_strQsName);
  std::string devDest;
  m_ValueGetter.GetFromCmdLine(settings::kQsDevDest, devDest);

  if (g_strQsName.empty() && !devDest.empty()) {
    GetQsFromDeviceName(devDest, g_strQsName);
    if (g_strQsName.empty()) g_strQsName = LoadStr(kIdsScratchQs, trace, __LINE__);
  }
  if (g_strQsName.empty() && devDest.empty())
    g_strQsName = m_ValueGetter.GetMainStr(settings::kMainQs.pszName);
  if (g_strQsName.empty()) {
    if (!AfxLoadString(kIdsQsDefault, g_strQsName)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  }
}

void ScanApp::ReadHideMask() {
  m_ValueGetter.GetSetting(settings::kQsHide, m_nHide, g_strQsName);
}

bool ScanApp::IsQuietRun() {
  int task = settings::kOptTask.nDefault;
  m_ValueGetter.GetFromCmdLine(settings::kOptTask, task);
  if (task == kTaskConvert) return true;
  // The Quick Set as far as it is known without the resource library (its default name is a string).
  std::string qs;
  m_ValueGetter.GetFromCmdLine(settings::kMainQs.pszName, qs, qs);
  if (qs.empty()) qs = m_ValueGetter.GetMainStr(settings::kMainQs.pszName);
  int hide = settings::kQsHide.nDefault;
  m_ValueGetter.GetSetting(settings::kQsHide, hide, qs);
  return hide == settings::kHideAll;
}

bool ScanApp::LoadResourceDll(const std::string& name) {
  DebugTrace trace("LoadResourceDll", __FILE__);
  HMODULE module = LoadLibraryA(name.c_str());
  if (module != nullptr) {
    m_hResDll = module;
    AfxSetResourceHandle(module);
    return true;
  }

  trace.Error("Can't find Resource DLL");
  std::string text;
  if (!OwnStrings::Load(OwnStrings::kIdsNoResources, text)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  if (IsQuietRun()) return false;  // logged above; an unattended run must not wait on a box
  if (AfxMessageBox(text, MB_OK) == 0) trace.Error(TRACE_NUMBERED("AfxMsgBox failed"));
  return false;
}

void ScanApp::SetupRegistry() {
  DebugTrace trace("SetupRegistry", __FILE__);
  const std::string mainKey = m_ValueGetter.GetMainKeyPath();

  MyReg reg;
  const bool opened = reg.Open(HKEY_CURRENT_USER, mainKey, KEY_READ, MyReg::kQuiet);
  const DWORD openError = opened ? DWORD{ERROR_SUCCESS} : platform::GetLastError();
  // Only a missing main key is a first run; a store that cannot be read is said so, and defaults are
  // not written over it on every start.
  const bool firstRun = !opened && openError == ERROR_FILE_NOT_FOUND;
  if (!opened && !firstRun) {
    platform::SetLastError(openError);
    trace.SystemError(DebugTrace::FormatOne("Opening the main key %s failed", mainKey));
    const std::string problem = MyReg::StoreProblem(HKEY_CURRENT_USER);
    if (!problem.empty()) trace.Error(problem);
  }
  if (firstRun && reg.Create(HKEY_CURRENT_USER, mainKey, KEY_WRITE))
    reg.Set(LoadStr(kIdsQsDefault, trace, __LINE__), settings::kMainQs.pszName);
  reg.Close();

  m_ValueGetter.SetMainStr(settings::kMainProductToUse.pszName, settings::kKnownProduct,
                           MissingMainKey::kCreate);
  m_ValueGetter.GetNetworkPrefix(m_strNetworkPrefix);
  if (!firstRun) return;

  struct DefaultQs {
    UINT nName;
    UINT nDevDest;
    const char* pszRes;
    const char* pszDest;
    const char* pszType;
  };
  static constexpr DefaultQs kDefaults[] = {
      {kIdsQsMailDocument, kIdsDevDestDocument, "300", "1", "146"},
      {kIdsQsMailPhoto, kIdsDevDestPhoto, "150", "1", "10"},
      {kIdsQsDefault, kIdsDevDestDefault, "150", "0", "17"},
  };
  const char* addToDevice = m_ValueGetter.IsNetworked() ? "0" : "1";
  for (const DefaultQs& qs : kDefaults) {
    std::string name = LoadStr(qs.nName, trace, __LINE__);
    std::string devDest = m_strNetworkPrefix + LoadStr(qs.nDevDest, trace, __LINE__);
    if (name.empty()) continue;  // an unnamed subkey would be the main key itself
    MyReg qsKey;
    if (!qsKey.Create(HKEY_CURRENT_USER, mainKey + "\\" + name, KEY_WRITE)) continue;
    qsKey.Set(static_cast<DWORD>(settings::kQsTaskSaved), settings::kQsTask);
    qsKey.Set(devDest, settings::kQsDevDest.pszName);
    qsKey.Set(qs.pszRes, settings::kQsRes.pszName);
    qsKey.Set("24", settings::kQsBitDepth.pszName);
    qsKey.Set(qs.pszDest, settings::kQsDest.pszName);
    qsKey.Set(qs.pszType, settings::kQsType.pszName);
    qsKey.Set(addToDevice, settings::kQsAddToDevice.pszName);
  }
}

bool ScanApp::IsThisSelected(const std::string& address) {
  DebugTrace trace("IsThisSelected", __FILE__);
  if (m_ValueGetter.IsNetworked()) {
    std::string ip = m_ValueGetter.GetProductPortStr(settings::kPortIpAddress);
    std::string host = m_ValueGetter.GetProductPortStr(settings::kPortHostname);
    std::string port = m_ValueGetter.GetProductPortStr(settings::kPortPort);
    return address == ip || address == host || address == port;
  }
  return address == m_ValueGetter.GetProductPortStr(settings::kPortPort);
}

void ScanApp::GetQsFromDeviceName(const std::string& deviceName, std::string& qs) {
  DebugTrace trace("GetQsFromDeviceName", __FILE__);
  MyReg reg;
  reg.Open(HKEY_CURRENT_USER, m_ValueGetter.GetMainKeyPath(), KEY_READ, MyReg::kLogFailure);
  std::vector<std::string> names;
  reg.EnumKeys(names);
  for (const std::string& name : names) {
    std::string devDest;
    m_ValueGetter.GetFromReg(settings::kQsDevDest.pszName, devDest, name, settings::kQsDevDest.pszDefault);
    if (devDest == deviceName) {
      qs = name;
      trace.Write("Matched " + deviceName + " deviceName with " + name);
      return;
    }
  }
}

bool ScanApp::ClearMainRegistry() {
  DebugTrace trace("ClearMainRegistry", __FILE__);
  MyReg reg;
  if (!reg.Open(HKEY_CURRENT_USER, m_ValueGetter.GetMainKeyPath(), KEY_WRITE, MyReg::kQuiet)) return false;
  reg.DeleteValue(settings::kMainProductToUse.pszName);
  reg.DeleteValue(settings::kMainScanToOn.pszName);
  reg.DeleteValue(settings::kMainToolboxExe.pszName);
  reg.DeleteValue(settings::kMainToolboxId.pszName);
  return true;
}

void ScanApp::RunDeviceSetupDialog(DebugTrace& trace) {
  SetupDeviceDialog dlg;
  dlg.m_bRealMode = true;
  const INT_PTR result = dlg.DoModal();
  if (result == IDOK)
    trace.Write("SetupDevice returned OK");
  else if (result == IDCANCEL)
    trace.Write("SetupDevice dialog cancelled");
  else
    trace.Error("SetupDevice dialog failed to display");
}

void ScanApp::RunPoll(DebugTrace& trace) {
  int poll = 0;
  m_ValueGetter.GetFromCmdLine(settings::kOptPoll, poll);
  m_ValueGetter.SetMainInt(settings::kMainScanToOn.pszName, poll);
  // Whatever the new value, this PC's destinations leave the device; both calls log their failures.
  try {
    DeviceTalk device;
    std::vector<std::string> thisPc;
    std::vector<std::string> otherPcs;
    device.GetList(thisPc, otherPcs);
    device.Update(&thisPc, false);
  } catch (const platform::xmldom::ComError& error) {
    trace.Error("Caught exception removing this PC's destinations: " + error.ErrorMessage());
  }
}

void ScanApp::RunInteractive(DebugTrace& trace) {
  if ((m_nHide & settings::kHideMainDialog) == 0) {
    CHalyardDlg dlg(g_strQsName);
    dlg.m_nTask = m_nTask;
    dlg.m_FindIris = [this] { return FindIris(); };
    const INT_PTR result = dlg.DoModal();
    // The review never scans, whatever ended the dialog.
    if (m_nTask == kTaskReview) {
      ShowErrorMessages();
      return;
    }
    if (result == IDCANCEL) return;
    // A dialog that could not be shown chose nothing: scanning without the user's word would surprise.
    if (result != IDOK) {
      trace.Error("Main dialog failed to display");
      return;
    }
    m_nTask = dlg.m_nTask;
    if (m_nTask == kTaskInteractive) g_strQsName = LoadStr(104, trace, __LINE__);
    ReadHideMask();
  }
  if (!DoScan()) {
    scanjob::NotifyJobEnd(*this, false);
    return;
  }
  int dest = settings::kQsDest.nDefault;
  m_ValueGetter.GetSetting(settings::kQsDest, dest, g_strQsName);
  const bool delivered = dest == 1 ? DoEmail() : dest == 2 ? DoApp() : DoFile();
  scanjob::NotifyJobEnd(*this, delivered);
}

void ScanApp::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  std::string caption = LoadStr(kIdsScanCaption, trace, __LINE__);

  for (UINT id :
       {kIdsConvertUnsupported, kIdsFileConvertFailed, kIdsNoPaper, kIdsScanFailed, kIdsAcquireException}) {
    std::string text = LoadStr(id, trace, __LINE__);
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
  }
  for (UINT id : {kIdsCreateFolder, kIdsAnotherPage}) {
    std::string text = LoadStr(id, trace, __LINE__);
    AfxMessageBox(text, MB_YESNO);
  }

  TwainScan::ShowErrorMessages();

  std::string text = LoadStr(kIdsNoMail, trace, __LINE__);
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);

  if (!AfxFormatString1(text, kIdsAppLaunchFailed, "USER_DEFINED"))
    trace.Error(TRACE_NUMBERED("LoadString failed"));
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);

  MultiFileWarnDialog multiFile(nullptr);
  multiFile.m_strText = LoadStr(kIdsMultiFileWarn, trace, __LINE__);
  multiFile.DoModal();

  std::string overwriteCaption = LoadStr(kIdsOverwriteCaption, trace, __LINE__);
  if (!AfxFormatString1(text, kIdsOverwrite, "USER_DEFINED"))
    trace.Error(TRACE_NUMBERED("LoadString failed"));
  MessageBoxA(nullptr, text.c_str(), overwriteCaption.c_str(), MB_YESNO);
}
