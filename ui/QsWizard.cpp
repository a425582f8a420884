#include "ui/QsWizard.h"

#include "log/DebugTrace.h"
#include "platform/folders/Folders.h"
#include "platform/framework/Afx.h"
#include "settings/MyReg.h"
#include "settings/SettingsSchema.h"
#include "ui/PPApp.h"
#include "ui/PPDelete.h"
#include "ui/PPDestination.h"
#include "ui/PPEmail.h"
#include "ui/PPFile.h"
#include "ui/PPFileAttrib.h"
#include "ui/PPFinish.h"
#include "ui/PPModify.h"
#include "ui/PPSave.h"
#include "ui/PPSettings.h"
#include "ui/PPSetup.h"
#include "ui/QsStrings.h"

namespace {

int g_scanToForTest = -1;
int g_countryForTest = 0;

constexpr int kHideScanner = settings::kHideScannerDialog;  // 0x10
constexpr int kHidePrompts = settings::kHideFilePrompts;    // 0x1000
constexpr int kHideMail = settings::kHideMailWindow;        // 0x10000

// Country codes that use letter paper and inches.
constexpr int kLetterCountries[] = {1, 2, 51, 52, 54, 56, 57, 58, 502, 506, 507, 593, 595, 598, 599};

}  // namespace

CQsWizard* WizardOf(const CPropertyPage* page) {
  return page == nullptr ? nullptr : dynamic_cast<CQsWizard*>(page->GetSheet());
}

void FillSavedQuickSets(const CPropertyPage* page, CListBox& list, DebugTrace& trace) {
  CQsWizard* wiz = WizardOf(page);
  if (wiz == nullptr) return;
  const std::string scratch = qs::LoadStr(qs::kIdsScratchQs, trace, __LINE__);
  for (const std::string& name : wiz->m_QsNames)
    if (name != scratch) list.AddString(name);
  list.SetHorizontalExtent(750);
}

void CQsWizard::SetScanToAvailableForTest(int available) {
  g_scanToForTest = available;
}
void CQsWizard::SetCountryCodeForTest(int code) {
  g_countryForTest = code;
}

bool CQsWizard::ScanToAvailable() {
  if (g_scanToForTest >= 0) return g_scanToForTest != 0;
  return m_ValueGetter.IsScanToAvailable();
}

CQsWizard::CQsWizard(UINT captionId, WizardMode mode, const std::string& qsName, CWnd* parent,
                     UINT selectPage)
    : CPropertySheet(captionId, parent, selectPage), m_nMode(mode) {
  DebugTrace trace("QsWizard constructor", __FILE__);
  m_pSetup = std::make_unique<PPSetup>();
  m_pModify = std::make_unique<PPModify>();
  m_pDelete = std::make_unique<PPDelete>();
  m_pDestination = std::make_unique<PPDestination>();
  m_pSettings = std::make_unique<PPSettings>();
  m_pEmail = std::make_unique<PPEmail>();
  m_pFile = std::make_unique<PPFile>();
  m_pApp = std::make_unique<PPApp>();
  m_pFileAttrib = std::make_unique<PPFileAttrib>();
  m_pSave = std::make_unique<PPSave>();
  m_pFinish = std::make_unique<PPFinish>();

  const std::string oneTime = qs::LoadStr(qs::kIdsOneTimeEntry, trace, __LINE__);
  if (!qsName.empty() && qsName != oneTime) {
    m_strQsName = qsName;
  } else {
    m_strQsName = qs::LoadStr(qs::kIdsScratchQs, trace, __LINE__);
    DeleteQs(m_strQsName);
  }

  const std::string app = qs::LoadStr(qs::kIdsTitleScanReg, trace, __LINE__);
  MyReg key;
  if (key.Open(HKEY_CURRENT_USER, std::string(settings::kMainKeyBase) + "\\" + app, KEY_READ, MyReg::kQuiet))
    key.EnumKeys(m_QsNames);

  if (mode == ChooseTask || mode == Review) AddPage(m_pSetup.get());
  if (mode != OneTimeScan && mode != NewQs) {
    AddPage(m_pModify.get());
    AddPage(m_pDelete.get());
  }
  AddPage(m_pDestination.get());
  AddPage(m_pSettings.get());
  AddPage(m_pEmail.get());
  AddPage(m_pFile.get());
  AddPage(m_pApp.get());
  AddPage(m_pFileAttrib.get());
  AddPage(m_pSave.get());
  AddPage(m_pFinish.get());

  LoadSettings();
  SetWizardMode();
}

CQsWizard::~CQsWizard() = default;

void CQsWizard::GetFinishBtnText(std::string& text) {
  DebugTrace trace("GetFinishBtnText", __FILE__);
  UINT id = m_nMode == OneTimeScan ? qs::kIdsScanButton
            : m_nMode == RemoveQs  ? qs::kIdsFinishDelete
                                   : qs::kIdsFinishSave;
  text = qs::LoadStr(id, trace, __LINE__);
}

bool CQsWizard::FindLocalInfo(int& paperCode, bool& metric) {
  DebugTrace trace("FindLocalInfo", __FILE__);
  const int country = g_countryForTest != 0 ? g_countryForTest : GetLocaleCountryCode();
  if (country <= 0) {
    trace.Write("Can't determine local, defaulting");
    return false;
  }
  for (int code : kLetterCountries) {
    if (code == country) {
      paperCode = 1;
      metric = false;
      trace.Write("Defaulting to letter and english as necessary");
      return true;
    }
  }
  paperCode = 6;
  metric = true;
  trace.Write("Defaulting to A4 and metric as necessary");
  return true;
}

void CQsWizard::LoadSettings() {
  DebugTrace trace("LoadSettings", __FILE__);
  ValueGetter& v = m_ValueGetter;
  const std::string& qs = m_strQsName;
  v.GetSetting(settings::kQsAddToDevice, m_bAddToDevice, qs);
  // Letter is the paper when the locale cannot be read.
  int paper = 1;
  bool metric = false;
  FindLocalInfo(paper, metric);
  v.GetSetting(settings::kQsIsMetric.WithDefault(metric), m_bIsMetric, qs);
  const settings::IntValue hideValue = settings::kQsHide.For(settings::Reader::kWizard);
  int hide = hideValue.nDefault;
  v.GetSetting(hideValue, hide, qs);
  DontPromptForFilename = (hide & kHidePrompts) != 0;
  ShowMailDialog = (hide & kHideMail) == 0;
  UseScannerSettings = (hide & kHideScanner) == 0;
  int n = 0;
  v.GetSetting(settings::kQsDest, n, qs);
  m_nDest = n;
  v.GetSetting(settings::kQsPaperSize.WithDefault(paper), n, qs);
  m_nPaperSize = n;
  v.GetSetting(settings::kQsBitDepth, n, qs);
  m_nBitDepth = static_cast<int16_t>(n);
  v.GetSetting(settings::kQsType, n, qs);
  m_nType = static_cast<int16_t>(n);
  v.GetSetting(settings::kQsQuality, n, qs);
  m_nQuality = n;
  v.GetSetting(settings::kQsRes, n, qs);
  m_nRes = static_cast<int16_t>(n);
  v.GetSetting(settings::kQsAppExe, m_strAppExe, qs);
  v.GetSetting(settings::kQsOcr, m_strOcr, qs);
  v.GetSetting(settings::kQsAttachName, m_strAttachName, qs);
  v.GetSetting(settings::kQsDevDest, m_strDevDest, qs);
  v.GetSetting(settings::kQsNote, m_strNote, qs);
  v.GetSetting(settings::kQsDir, m_strDir, qs);
  v.GetSetting(settings::kQsOutFile, m_strOutFile, qs);
  v.GetSetting(settings::kQsSubject, m_strSubject, qs);
  v.GetSetting(settings::kQsTo, m_strTo, qs);
  v.GetSetting(settings::kQsInX.For(settings::Reader::kWizard), n, qs);
  m_nInX = n;
  v.GetSetting(settings::kQsInY.For(settings::Reader::kWizard), n, qs);
  m_nInY = n;
  v.GetSetting(settings::kQsSkipBlank, m_bSkipBlank, qs);
  v.GetSetting(settings::kQsCropBorder, m_bCropBorder, qs);
  v.GetSetting(settings::kQsUpright, m_bUpright, qs);
  v.GetSetting(settings::kQsDeskew, m_bDeskew, qs);
  if (m_strDir.empty()) v.GetDataDirectory(m_strDir);
}

void CQsWizard::SelectQs(const std::string& name) {
  m_strQsName = name;
  LoadSettings();
}

bool CQsWizard::SaveSettings() {
  DebugTrace trace("SaveSettings", __FILE__);
  ValueGetter& v = m_ValueGetter;
  const std::string& qs = m_strQsName;
  std::string oldDest;
  v.GetSetting(settings::kQsDevDest, oldDest, qs);
  v.SetSetting(settings::kQsDevDestOld.pszName, oldDest, qs);
  bool oldAdd = false;
  v.GetSetting(settings::kQsAddToDevice, oldAdd, qs);
  v.SetSetting(settings::kQsAddToDeviceOld.pszName, oldAdd, qs);

  v.SetSetting(settings::kQsAddToDevice.pszName, m_bAddToDevice, qs);
  v.SetSetting(settings::kQsIsMetric, m_bIsMetric, qs);
  v.SetSetting(settings::kQsDest.pszName, static_cast<int>(m_nDest), qs);
  v.SetSetting(settings::kQsPaperSize.pszName, static_cast<int>(m_nPaperSize), qs);
  v.SetSetting(settings::kQsBitDepth.pszName, static_cast<int>(m_nBitDepth), qs);
  v.SetSetting(settings::kQsType.pszName, static_cast<int>(m_nType), qs);
  v.SetSetting(settings::kQsQuality.pszName, static_cast<int>(m_nQuality), qs);
  v.SetSetting(settings::kQsRes.pszName, static_cast<int>(m_nRes), qs);
  v.SetSetting(settings::kQsAppExe.pszName, m_strAppExe, qs);
  v.SetSetting(settings::kQsOcr.pszName, m_strOcr, qs);
  v.SetSetting(settings::kQsAttachName.pszName, m_strAttachName, qs);
  v.SetSetting(settings::kQsDevDest.pszName, m_strDevDest, qs);
  v.SetSetting(settings::kQsNote.pszName, m_strNote, qs);
  v.SetSetting(settings::kQsDir.pszName, m_strDir, qs);
  v.SetSetting(settings::kQsOutFile.pszName, m_strOutFile, qs);
  v.SetSetting(settings::kQsSubject.pszName, m_strSubject, qs);
  v.SetSetting(settings::kQsTo.pszName, m_strTo, qs);
  v.SetSetting(settings::kQsInX.pszName, static_cast<int>(m_nInX), qs);
  v.SetSetting(settings::kQsInY.pszName, static_cast<int>(m_nInY), qs);
  v.SetSetting(settings::kQsSkipBlank.pszName, m_bSkipBlank, qs);
  v.SetSetting(settings::kQsCropBorder.pszName, m_bCropBorder, qs);
  v.SetSetting(settings::kQsUpright.pszName, m_bUpright, qs);
  v.SetSetting(settings::kQsDeskew.pszName, m_bDeskew, qs);

  int hide = 0;
  v.GetSetting(settings::kQsHide.For(settings::Reader::kWizardSave), hide, qs);
  hide = DontPromptForFilename ? (hide | kHidePrompts) : (hide & ~kHidePrompts);
  hide = ShowMailDialog ? (hide & ~kHideMail) : (hide | kHideMail);
  hide = UseScannerSettings ? (hide & ~kHideScanner) : (hide | kHideScanner);
  v.SetSetting(settings::kQsHide, hide, qs);

  if (m_nMode == NewQs) {
    std::string app;
    if (!AfxLoadString(qs::kIdsTitleScanReg, app) || app.empty()) {
      trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN_REG"));
      return false;
    }
    MyReg key(HKEY_CURRENT_USER, std::string(settings::kMainKeyBase) + "\\" + app + "\\" + qs, MyReg::kCreate,
              KEY_WRITE);
    key.Set(static_cast<DWORD>(settings::kQsTaskSaved), settings::kQsTask);
  }
  return true;
}

LRESULT CQsWizard::DestinationPage() const {
  return m_nDest == 1 ? IDD_PP_EMAIL : m_nDest == 2 ? IDD_PP_APP : IDD_PP_FILE;
}

LRESULT CQsWizard::GetNextPage(int pageCode) {
  DebugTrace trace("GetNextPage", __FILE__);
  if (m_nMode == Review) return 0;
  switch (pageCode) {
    case kPageSetup:
      return m_nMode == DeviceDestinations ? IDD_PP_FINISH
             : m_nMode == ModifyQs         ? IDD_PP_MODIFY
             : m_nMode == RemoveQs         ? IDD_PP_DELETE
                                           : IDD_PP_DESTINATION;
    case kPageModify:
      return IDD_PP_DESTINATION;
    case kPageDelete:
      return IDD_PP_FINISH;
    case kPageDestination:
      return UseScannerSettings ? DestinationPage() : int{IDD_PP_SETTINGS};
    case kPageSettings:
      return DestinationPage();
    case kPageEmail:
    case kPageFile:
    case kPageApp:
      if (HasAttributes(m_nType)) return IDD_PP_FILEATTRIB;
      [[fallthrough]];
    case kPageFileAttrib:
      if (m_nMode == OneTimeScan) return IDD_PP_FINISH;
      if (m_nMode == ModifyQs) return ScanToAvailable() ? IDD_PP_SAVE : IDD_PP_FINISH;
      return IDD_PP_SAVE;
    case kPageSave:
      return IDD_PP_FINISH;
    default:
      trace.Write("Unknown page, defaulting to next");
      return 0;
  }
}

LRESULT CQsWizard::GetPreviousPage(int pageCode) {
  DebugTrace trace("GetPreviousPage", __FILE__);
  switch (pageCode) {
    case kPageModify:
    case kPageDelete:
      return IDD_PP_SETUP;
    case kPageDestination:
      return m_nMode == NewQs ? IDD_PP_SETUP : m_nMode == ModifyQs ? IDD_PP_MODIFY : 0;
    case kPageSettings:
      return IDD_PP_DESTINATION;
    case kPageEmail:
    case kPageFile:
    case kPageApp:
      return UseScannerSettings ? IDD_PP_DESTINATION : IDD_PP_SETTINGS;
    case kPageFileAttrib:
      return DestinationPage();
    case kPageSave:
      return HasAttributes(m_nType) ? int{IDD_PP_FILEATTRIB} : DestinationPage();
    case kPageFinish:
      if (m_nMode == OneTimeScan) return DestinationPage();
      if (m_nMode == ModifyQs) return ScanToAvailable() ? int{IDD_PP_SAVE} : DestinationPage();
      if (m_nMode == RemoveQs) return IDD_PP_DELETE;
      return IDD_PP_SAVE;
    default:  // the task page has no page before it
      trace.Write("Unknown page");
      return 0;
  }
}

bool CQsWizard::DeleteQs(const std::string& name) {
  DebugTrace trace("DeleteQs", __FILE__);
  std::string app;
  AfxLoadString(qs::kIdsTitleScanReg, app);
  if (app.empty()) {
    trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN_REG"));
    return false;
  }
  // An empty name would name the main key itself.
  if (name.empty()) return true;
  const std::string parent = std::string(settings::kMainKeyBase) + "\\" + app;
  MyReg key;
  if (key.Open(HKEY_CURRENT_USER, parent + "\\" + name, KEY_WRITE, MyReg::kQuiet)) {
    key.Close();
    MyReg parentKey;
    if (parentKey.Open(HKEY_CURRENT_USER, parent, KEY_WRITE)) parentKey.DeleteSubKey(name);
  }
  return true;
}
