// The scan job of ScanApp: the Quick Set becomes a scan request (SetupTwainSettings), TwainScan
// acquires the pages into temporary files (DoScan), and the delivery saves, mails or opens them
// (DoFile, DoEmail, DoApp) through the shared naming and moving steps (GetOutFileName,
// GetAttachNames, MoveScanFiles). Every value is read with GetSetting, so an option of the same name
// overrides the Quick Set for the run. Failures return false and leave the temporary files in place.
#include <algorithm>
#include <cstring>

#include "app/halyard.h"
#include "log/DebugTrace.h"
#include "mail/ExtendedMapi.h"
#include "mail/SimpleMapi.h"
#include "platform/base/Environment.h"
#include "platform/files/Files.h"
#include "platform/framework/Afx.h"
#include "platform/process/Process.h"
#include "platform/ui/MessageBox.h"
#include "pxclass/PxFileTypes.h"
#include "scan/FileConvert.h"
#include "scan/MultiFileWarnDialog.h"
#include "scan/OcrPages.h"
#include "scan/OutFilePattern.h"
#include "scan/ScanJobText.h"
#include "scan/ScanRequest.h"
#include "scan/TwainScan.h"
#include "settings/SettingsSchema.h"
#include "ui/BrowseDir.h"

using scanjob::Ids;
using scanjob::LoadText;
using scanjob::ShowScanBox;

namespace {

// Paper sizes in hundredths of an inch, by code 1..28; code 29 ends the table (the custom size).
struct Paper {
  int nCode;
  int nWidth;
  int nHeight;
};
constexpr Paper kPaperTable[] = {
    {1, 850, 1100},  {2, 850, 1400}, {3, 725, 1050}, {4, 413, 583},   {5, 583, 827},   {6, 827, 1169},
    {7, 413, 950},   {8, 433, 866},  {9, 638, 902},  {10, 693, 984},  {11, 388, 750},  {12, 386, 984},
    {13, 717, 1012}, {14, 787, 583}, {15, 394, 583}, {16, 600, 450},  {17, 850, 1300}, {18, 775, 1075},
    {19, 350, 250},  {20, 350, 500}, {21, 500, 350}, {22, 400, 600},  {23, 600, 400},  {24, 500, 700},
    {25, 700, 500},  {26, 600, 800}, {27, 800, 600}, {28, 800, 1100}, {29, 0, 0},
};

void CopyField(char (&field)[36], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), text.size() < sizeof field ? text.size() : sizeof field);
}

// "Dir" names a folder: one typed without its final "/" must not become a prefix of the file name.
std::string WithSlash(const std::string& dir) {
  return dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

// The copy that stands in for a failed move, "overwriting" as the move would: the copy is made beside
// the target under a new hidden name and renamed over it when complete and synced, so a copy that
// fails (a full disk) leaves the target as it was and no partial file behind.
bool CopyOver(const std::string& from, const std::string& target, DebugTrace& trace) {
  const size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string beside = folder + ".marlin3-copy-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(attempt) + "-" + file;
    if (!CopyFileA(from.c_str(), beside.c_str(), TRUE)) {
      if (platform::GetLastError() == ERROR_FILE_EXISTS) continue;
      trace.SystemError("Copy beside '" + target + "' failed");
      return false;
    }
    if (MoveFileExA(beside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    trace.SystemError("Putting the copy in place of '" + target + "' failed");
    DeleteFileA(beside.c_str());
    return false;
  }
  return false;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The text after the last "/" (all of it when there is none).
std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The text after the file name's last "." (empty when there is none).
std::string ExtensionOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Splits at the last "/": the folder keeps its "/", the name is the rest.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.find_last_of('/');
  folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The notice of a mailed scan: silent sends name the recipients, the compose window is the user's.
bool Mailed(const std::string& to) {
  scanjob::Outcome().bMailed = true;
  scanjob::Outcome().strMailTo = to;
  return true;
}

}  // namespace

std::string ScanApp::ExpandOutFile(const std::string& outFile, DebugTrace& trace) {
  return scanjob::ExpandOutFile(
      outFile, scanjob::LocalNow(), m_saScanFiles.size(),
      m_nFileType != 0 ? m_ValueGetter.ConvertTypeToExt(m_nFileType) : std::string(), FileExists, trace);
}

std::unique_ptr<OcrPages> ScanApp::OcrPagesFor(int type, bool& failed) {
  std::string languages;
  m_ValueGetter.GetSetting(settings::kQsOcr, languages, g_strQsName);
  return OcrPages::ForOutput(languages, type, m_nHide, failed);
}

bool ScanApp::SetupTwainSettings(ScanRequest& request) {
  DebugTrace trace("SetupTwainSettings", __FILE__);
  std::string text;
  if (!AfxLoadString(Ids::kTitleScan, text)) trace.Error(TRACE_NUMBERED("LoadString failed: IDS_TITLE_SCAN"));
  CopyField(request.szProductName, text);
  CopyField(request.szProductFamily, "");
  text.clear();
  if (!AfxLoadString(Ids::kCompanyName, text))
    trace.Error(TRACE_NUMBERED("LoadString failed: IDS_NX_COMPANYNAME"));
  CopyField(request.szCompanyName, text);

  std::string source;
  m_ValueGetter.GetSetting(settings::kQsTwainSrc, source, g_strQsName);
  if (source.empty()) {
    source = m_ValueGetter.GetProductPortStr(settings::kPortTwain);
    if (!source.empty() && source.find(" TWAIN") == std::string::npos) source += " TWAIN";
  }
  if (!source.empty()) {
    CopyField(request.szSourceName, source);
    trace.WriteFormat("Using passed in Src: %s", source);
  } else {
    trace.Write("Couldn't find the src, defaulting");
  }

  request.bAskForMore = (m_nHide & (settings::kHideFilePrompts | settings::kHideMailWindow |
                                    settings::kHideAnotherPage | settings::kHideMainDialog)) == 0;

  if (m_nHide & settings::kHideScannerDialog) {
    int depth = 24;
    m_ValueGetter.GetSetting(settings::kQsBitDepth, depth, g_strQsName);
    if (depth != 1 && depth != 8 && depth != 24) {
      trace.Error("Invalid BitDepth found, resetting");
      depth = 24;
    }
    request.nBitDepth = depth;
    m_ValueGetter.GetSetting(settings::kQsRes, request.nResolution, g_strQsName);
    int paper = 0;
    m_ValueGetter.GetSetting(settings::kQsPaperSize, paper, g_strQsName);
    if (paper <= 0 || paper == 29) {
      m_ValueGetter.GetSetting(settings::kQsInY, request.nHeight, g_strQsName);
      m_ValueGetter.GetSetting(settings::kQsInX, request.nWidth, g_strQsName);
    } else {
      const Paper* entry = kPaperTable;
      while (entry->nCode != 29 && entry->nCode != paper) ++entry;
      request.nHeight = entry->nHeight * 1440 / 100;
      request.nWidth = entry->nWidth * 1440 / 100;
    }
  } else {
    request.nBitDepth = request.nResolution = request.nHeight = request.nWidth = -1;
  }
  request.nUnset1 = request.nUnset2 = -1;

  m_ValueGetter.GetSetting(settings::kQsBright, request.nBrightness, g_strQsName);
  m_ValueGetter.GetSetting(settings::kQsContrast, request.nContrast, g_strQsName);

  m_ValueGetter.GetSetting(settings::kQsType, m_nFileType, g_strQsName);
  std::string first;
  m_ValueGetter.GetTempFilename(first, m_nFileType, "");
  m_saScanFiles.push_back(first);
  request.nFileType = m_nFileType;
  int quality = -1;
  m_ValueGetter.GetSetting(settings::kQsQuality, quality, g_strQsName);
  request.nQuality = m_ValueGetter.CheckQualityLevel(quality, m_nFileType);
  m_ValueGetter.GetSetting(settings::kQsSkipBlank, request.cleanup.bSkipBlank, g_strQsName);
  m_ValueGetter.GetSetting(settings::kQsCropBorder, request.cleanup.bCropBorder, g_strQsName);
  m_ValueGetter.GetSetting(settings::kQsUpright, request.cleanup.bUpright, g_strQsName);
  m_ValueGetter.GetSetting(settings::kQsDeskew, request.cleanup.bDeskew, g_strQsName);
  return true;
}

bool ScanApp::DoScan() {
  DebugTrace trace("DoScan", __FILE__);
  try {
    TwainScan twain;
    ScanRequest request(m_saScanFiles);
    if (!SetupTwainSettings(request)) {
      trace.Error(TRACE_NUMBERED("SetupTwainSettings failed"));
      return false;
    }
    const bool dialogHidden = (m_nHide & settings::kHideScannerDialog) != 0;
    const bool mode2Hidden = (m_nHide & settings::kHideUiMode2) != 0;
    const int mode = dialogHidden && mode2Hidden ? 0 : dialogHidden ? 1 : mode2Hidden ? 2 : 3;

    const std::string caption = LoadText(Ids::kScanCaption, trace, __LINE__);
    bool ocrFailed = false;
    const std::unique_ptr<OcrPages> ocr = OcrPagesFor(m_nFileType, ocrFailed);
    if (ocrFailed) return false;
    request.pOcr = ocr.get();
    const int result = twain.Scan(mode, request);
    m_nPageCount = twain.GetPageCount();
    // The first name was reserved as an empty file; with no page saved it is no scan to keep.
    if (m_nPageCount == 0 && !m_saScanFiles.empty()) {
      const std::string& first = m_saScanFiles.front();
      HANDLE file =
          CreateFileA(first.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD high = 0;
        const bool empty = GetFileSize(file, &high) == 0 && high == 0;
        CloseHandle(file);
        if (empty) DeleteFileA(first.c_str());
      }
    }
    if (result == 0) return true;
    // Pages saved before a failure or a cancel are not delivered; the log says where they are.
    if (m_nPageCount > 0) {
      trace.WriteFormat("%lld page(s) scanned before the scan ended are kept", m_nPageCount);
      for (const std::string& name : m_saScanFiles)
        if (FileExists(name)) trace.WriteFormat("Kept '%s'", name);
    }
    if (result == 6) {
      scanjob::Outcome().bCancelled = true;
      return false;
    }

    UINT message = Ids::kAcquireFailed;
    const char* error = "Acquire failed";
    switch (result) {
      case 1:
        message = Ids::kNoSource;
        error = "No TWAIN source available";
        break;
      case 2:
        message = Ids::kLowResources;
        error = "Low sys resources";
        break;
      case 3:
        message = Ids::kLibrariesMissing;
        error = "Loading the dlls() failed";
        break;
      case 5:
        error = "Aquire failed or was canceled";
        break;
      case 7:
        message = Ids::kAllPagesBlank;
        error = "Every scanned page was blank: nothing to deliver";
        break;
      default:
        break;
    }
    ShowScanBox(m_nHide, LoadText(message, trace, __LINE__), caption);
    trace.Error(error);
    return false;
  } catch (...) {
    ShowScanBox(m_nHide, LoadText(Ids::kAcquireFailed, trace, __LINE__),
                LoadText(Ids::kScanCaption, trace, __LINE__));
    trace.Error("Caught exception so aquire failed");
    return false;
  }
}

bool ScanApp::AskForReplacement(const std::string& name, DebugTrace& trace) {
  bool overwrite = false;
  if (m_nHide == settings::kHideAll) {
    m_ValueGetter.GetSetting(settings::kQsOverWrite, overwrite, g_strQsName);
    if (!overwrite) {
      trace.Write("hidden Ui, no confirm, outfile already exists, exiting");
      return false;
    }
  } else {
    std::string question;
    if (!AfxFormatString1(question, Ids::kOverwrite, name.c_str()))
      trace.Error(TRACE_NUMBERED("LoadString failed"));
    overwrite = AfxMessageBox(question, MB_YESNO) == IDYES;
  }
  // The old file is not deleted here: the move puts the finished new file over it (MoveScanFiles), so a
  // conversion or a write that fails on the way leaves the user's file as it was.
  if (overwrite) m_saReplaceable.push_back(name);
  return overwrite;
}

bool ScanApp::GetOutFileName(std::vector<std::string>& names) {
  DebugTrace trace("GetOutFileName", __FILE__);
  if (m_nFileType == 0)
    m_ValueGetter.GetSetting(settings::kQsType.For(settings::Reader::kOutputName), m_nFileType, g_strQsName);
  std::string outFile;
  m_ValueGetter.GetSetting(settings::kQsOutFile, outFile, g_strQsName);
  outFile = ExpandOutFile(outFile, trace);
  const bool prompts = (m_nHide & settings::kHideFilePrompts) == 0;
  std::string name;

  // The Save As dialog starting in folder; every type offered (only 146 when that is the type).
  auto saveAs = [&](std::string folder) {
    std::string chosen;
    int type = m_nFileType;
    const FileDialogFilter offered =
        m_nFileType == PX_TYPE_PDF ? FileDialogFilter::kOnlyThisType : FileDialogFilter::kEveryType;
    if (!m_ValueGetter.ShowFileDialog(FileDialogKind::kSave, chosen, type, folder, offered)) {
      trace.Error("User cancelled out of saveAs dialog");
      scanjob::Outcome().bCancelled = true;  // the user's choice: no failure notice
      return false;
    }
    m_nFileType = type;
    name = folder + chosen;
    // The dialog asked before it let an existing name through.
    if (FileExists(name)) m_saReplaceable.push_back(name);
    return true;
  };

  if (outFile.empty()) {
    std::string dir;
    m_ValueGetter.GetSetting(settings::kQsDir, dir, g_strQsName);
    if (prompts) {
      if (!dir.empty() && !FolderExists(dir.substr(0, dir.size() - 1))) {
        const std::string folder = dir.substr(0, dir.size() - 1);
        std::string question;
        if (!AfxFormatString1(question, Ids::kCreateFolder, folder.c_str()))
          trace.Error(TRACE_NUMBERED("LoadString failed"));
        if (AfxMessageBox(question, MB_YESNO) != IDYES) {
          trace.Write("User doesn't want to create dir, exiting");
          scanjob::Outcome().bCancelled = true;
          return false;
        }
        std::string withSlash = WithSlash(dir);
        if (!m_ValueGetter.ValidateDir(withSlash, MissingFolder::kCreate, FinalSlash::kAdd)) {
          trace.Write("CreateDirectory failed, exiting");
          return false;
        }
      }
      if (!saveAs(dir)) return false;
    } else {
      if (!dir.empty() && !FolderExists(dir)) {
        std::string withSlash = WithSlash(dir);
        if (!m_ValueGetter.ValidateDir(withSlash, MissingFolder::kCreate, FinalSlash::kAdd)) return false;
      }
      name = ReserveName(m_nFileType, WithSlash(dir));
    }
  } else {
    std::string folder, file;
    SplitPath(outFile, folder, file);
    if (folder.empty()) {
      m_ValueGetter.GetSetting(settings::kQsDir, folder, g_strQsName);
      if (folder.empty())
        m_ValueGetter.GetDataDirectory(folder);
      else if (folder.back() != '/')
        folder += '/';
    } else if (!FolderExists(folder)) {
      trace.WriteFormat("Directory '%s' not present, creating it", folder);
      std::string created = folder;
      if (!m_ValueGetter.ValidateDir(created, MissingFolder::kCreate, FinalSlash::kAdd)) {
        trace.SystemError(DebugTrace::FormatOne("Trouble creating directory '%s'", folder));
        return false;
      }
    }
    if (!file.empty()) {
      if (file.find('.') == std::string::npos) {
        if (m_nFileType == 0) {
          trace.Error("Ext not found and type not known, exiting");
          return false;
        }
        file += "." + m_ValueGetter.ConvertTypeToExt(m_nFileType);
      }
      name = folder + file;
    } else if (prompts) {
      std::string dir;
      m_ValueGetter.GetSetting(settings::kQsDir, dir, g_strQsName);
      if (!saveAs(dir)) return false;
    } else {
      trace.Error("No filename and hide file prompt true");
      return false;
    }
    const bool confirmed =
        std::find(m_saReplaceable.begin(), m_saReplaceable.end(), name) != m_saReplaceable.end();
    if (FileExists(name) && !confirmed) {
      trace.WriteFormat("File '%s' already present", name);
      if (!AskForReplacement(name, trace)) {
        if (m_nHide == settings::kHideAll) return false;
        // No: the user names another file. A cancelled dialog ends the job; the old file stays.
        std::string chosen;
        int type = m_nFileType;
        std::string start = folder;
        if (!m_ValueGetter.ShowFileDialog(FileDialogKind::kSave, chosen, type, start,
                                          FileDialogFilter::kAllFiles)) {
          trace.Error("User cancelled out of saveAs dialog");
          scanjob::Outcome().bCancelled = true;
          return false;
        }
        name = start + chosen;
        if (FileExists(name)) m_saReplaceable.push_back(name);
      }
    }
  }

  names.push_back(name);
  if (m_nFileType == 0) {
    const size_t dot = name.find_last_of('.');
    m_nFileType =
        m_ValueGetter.ConvertExtToType(dot == std::string::npos ? std::string() : name.substr(dot + 1));
    if (m_nFileType == 0) m_nFileType = PX_TYPE_JPEG;
  }
  return true;
}

std::string ScanApp::ReserveName(int type, const std::string& folder) {
  // GetTempFilename reserves the name by creating the file; the move that follows wants it free.
  std::string name;
  m_ValueGetter.GetTempFilename(name, type, folder);
  DeleteFileA(name.c_str());
  return name;
}

void ScanApp::WarnMultiFileIfNeeded() {
  WarnMultiFile(m_ValueGetter, m_nPageCount, m_nFileType);
}

bool ScanApp::DoFile() {
  DebugTrace trace("DoFile", __FILE__);
  if (m_nFileType == 0) m_nFileType = PX_TYPE_TIFF_PACKED;
  const int scannedType = m_nFileType;
  std::vector<std::string> targets;
  std::string outFile;
  m_ValueGetter.GetSetting(settings::kQsOutFile, outFile, g_strQsName);
  outFile = ExpandOutFile(outFile, trace);
  if (!outFile.empty()) {
    if (FileNameOf(outFile).find('.') == std::string::npos)
      outFile += "." + m_ValueGetter.ConvertTypeToExt(m_nFileType);
    // Never replace what the user has without the question (or "OverWrite" when nothing may be asked).
    if (FileExists(outFile)) {
      trace.WriteFormat("File '%s' already present", outFile);
      if (!AskForReplacement(outFile, trace)) return false;
    }
    targets.push_back(outFile);
  } else if (!GetOutFileName(targets)) {
    trace.Error(TRACE_NUMBERED("Trouble getting the main output filename for user"));
    return false;
  }
  WarnMultiFileIfNeeded();

  if (m_nFileType != scannedType) {
    try {
      std::vector<std::string> outputs{ReserveName(m_nFileType, "")};
      FileConvert converter;
      ConvertRequest request(outputs, m_saScanFiles);
      request.nType = m_nFileType;
      bool ocrFailed = false;
      const std::unique_ptr<OcrPages> ocr = OcrPagesFor(m_nFileType, ocrFailed);
      if (ocrFailed) return false;
      request.pOcr = ocr.get();
      const int result = converter.Convert(request);
      if (result == 1 || result == 3) {
        ShowScanBox(m_nHide,
                    LoadText(result == 1 ? Ids::kLibrariesMissing : Ids::kConvertFailed, trace, __LINE__),
                    LoadText(Ids::kScanCaption, trace, __LINE__));
        trace.Error("File conversion failed");
        return false;
      }
      m_saScanFiles = outputs;
    } catch (...) {
      trace.Error("Caught exception so file conversion from scan failed");
      return false;
    }
  }

  const bool moved = MoveScanFiles(targets);
  if (!moved) trace.Error(TRACE_NUMBERED("Moving files failed"));
  scanjob::Outcome().saDelivered = targets;
  return moved;
}

void ScanApp::GetAttachNames(std::vector<std::string>& names) {
  DebugTrace trace("GetAttachNames", __FILE__);
  std::string attach;
  m_ValueGetter.GetSetting(settings::kQsAttachName, attach, g_strQsName);
  const size_t dot = attach.find_last_of('.');
  for (size_t i = 0; i < m_saScanFiles.size(); ++i) {
    if (attach.empty())
      names.push_back(FileNameOf(m_saScanFiles[i]));
    else if (i == 0)
      names.push_back(attach);
    else if (dot == std::string::npos)
      names.push_back(attach + std::to_string(i + 1));
    else
      names.push_back(attach.substr(0, dot) + std::to_string(i + 1) + "." + attach.substr(dot + 1));
  }
}

bool ScanApp::DoEmail() {
  DebugTrace trace("DoEmail", __FILE__);
  std::string to, subject, note;
  m_ValueGetter.GetSetting(settings::kQsTo, to, g_strQsName);
  m_ValueGetter.GetSetting(settings::kQsSubject, subject, g_strQsName);
  m_ValueGetter.GetSetting(settings::kQsNote, note, g_strQsName);
  const bool silent = (m_nHide & settings::kHideMailWindow) != 0;
  std::vector<std::string> names;
  GetAttachNames(names);

  if (silent) {
    ExtendedMapi mapi(nullptr, "", "", 0);
    if (mapi.SendMail(to, "", "", subject, note, m_saScanFiles, names, false)) return Mailed(to);
  }
  SimpleMapi mapi(false);
  if (mapi.SendMail(to, "", "", "", subject, note, m_saScanFiles, names, silent))
    return Mailed(silent ? to : "");
  // The box says what the provider found, in the user's language, beside the fixed text.
  std::string text = LoadText(Ids::kNoMail, trace, __LINE__);
  if (mapi.FailureKind() == 1) {
    text += "\n\n" + LoadText(Ids::kNoMailProgram, trace, __LINE__);
  } else if (mapi.FailureKind() == 2 && !mapi.FailureText().empty()) {
    std::string cause;
    if (!AfxFormatString1(cause, Ids::kMailCause, mapi.FailureText().c_str()))
      trace.Error(TRACE_NUMBERED("LoadString failed"));
    text += "\n\n" + cause;
  }
  ShowScanBox(m_nHide, text, LoadText(Ids::kScanCaption, trace, __LINE__));
  return false;
}

bool ScanApp::DoApp() {
  DebugTrace trace("DoApp", __FILE__);
  std::vector<std::string> targets;
  if ((m_nHide & settings::kHideFilePrompts) == 0) {
    if (!GetOutFileName(targets)) {
      trace.Error(TRACE_NUMBERED("Trouble getting the main output filename for user"));
      return false;
    }
    WarnMultiFileIfNeeded();
  } else {
    std::string dir;
    m_ValueGetter.GetSetting(settings::kQsDir, dir, g_strQsName);
    targets.push_back(ReserveName(m_nFileType, WithSlash(dir)));
  }
  if (!MoveScanFiles(targets)) {
    trace.Error(TRACE_NUMBERED("Moving files failed"));
    return false;
  }
  m_saScanFiles = targets;
  scanjob::Outcome().saDelivered = targets;

  std::string app;
  m_ValueGetter.GetSetting(settings::kQsAppExe, app, g_strQsName);
  const size_t first = app.find_first_not_of(" \"");
  const size_t last = app.find_last_not_of(" \"");
  app = first == std::string::npos ? std::string() : app.substr(first, last - first + 1);
  int sleep = 1500;
  m_ValueGetter.GetSetting(settings::kQsSleep, sleep, g_strQsName);
  // A stored or given wait is bounded, so a scan of many pages never stalls for days between starts.
  constexpr int kMaxSleepMs = 5000;
  if (sleep > kMaxSleepMs) {
    trace.WriteFormat("Sleep of %d ms is above the bound; 5000 ms used", sleep);
    sleep = kMaxSleepMs;
  }

  for (size_t i = 0; i < m_saScanFiles.size(); ++i) {
    if (i > 0) Sleep(static_cast<DWORD>(sleep));
    const std::string& file = m_saScanFiles[i];
    const std::string command = "\"" + app + "\" \"" + file + "\"";
    trace.Write(command);
    if (!app.empty()) {
      if (!m_ValueGetter.CreateProcess(command, "Failed to launch app")) {
        std::string text;
        if (!AfxFormatString1(text, Ids::kAppLaunchFailed, file.c_str()))
          trace.Error(TRACE_NUMBERED("LoadString failed"));
        ShowScanBox(m_nHide, text, LoadText(Ids::kScanCaption, trace, __LINE__));
        return false;
      }
    } else if (!ShellExecuteOpen(file.c_str())) {
      // ShellExecute's answer for a failed start is 32 or below; the desktop opener gives no number.
      trace.Error(DebugTrace::FormatOne("ShellExecute failed with %d on ", 2LL) + command);
    }
  }
  return true;
}

bool ScanApp::MoveScanFiles(std::vector<std::string>& targets) {
  DebugTrace trace("MoveScanFiles", __FILE__);
  if (m_saScanFiles.size() < targets.size() || targets.empty()) {
    trace.Error("Original array is smaller than the new one");
    return false;
  }
  std::string folder, file;
  SplitPath(targets[0], folder, file);
  const size_t dot = file.find_last_of('.');
  const std::string stem = dot == std::string::npos ? file : file.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : file.substr(dot + 1);

  std::string checked = folder;
  if (!folder.empty() && !m_ValueGetter.ValidateDir(checked, MissingFolder::kCreate, FinalSlash::kAdd)) {
    // An unattended run must not wait on a folder choice: the scanned files stay where they are.
    if (m_nHide & settings::kHideFilePrompts) {
      trace.Error("Cannot use folder '" + folder + "' and the hide level prevents asking for another");
      return false;
    }
    BrowseDir browse(nullptr, folder);
    if (browse.DoModal() != IDOK || browse.m_strPath.empty()) {
      trace.Error("No folder for the scanned files");
      return false;
    }
    folder = browse.m_strPath;
    if (folder.back() != '/') folder += '/';
  }
  const std::string firstTarget = folder + file;

  std::string caption = LoadText(Ids::kOverwriteCaption, trace, __LINE__);
  bool undelivered = false;
  targets.clear();
  for (size_t i = 0; i < m_saScanFiles.size(); ++i) {
    // A file of another type than the first (a second output's) keeps its own extension.
    const std::string ownExt = ExtensionOf(m_saScanFiles[i]);
    const std::string& targetExt = i > 0 && ownExt != ExtensionOf(m_saScanFiles[0]) ? ownExt : ext;
    std::string target = i == 0 ? firstTarget : folder + stem + std::to_string(i + 1) + "." + targetExt;
    bool replace =
        i == 0 && std::find(m_saReplaceable.begin(), m_saReplaceable.end(), target) != m_saReplaceable.end();
    if (i > 0 && FileExists(target) && m_nHide == settings::kHideAll) {
      // Nobody to ask: "OverWrite" answers, as for the main output name.
      bool overwrite = false;
      m_ValueGetter.GetSetting(settings::kQsOverWrite, overwrite, g_strQsName);
      if (!overwrite) {
        trace.Write("hidden Ui, no confirm, '" + target + "' already exists, '" + m_saScanFiles[i] +
                    "' stays where it is");
        undelivered = true;
        continue;
      }
      replace = true;
    } else if (i > 0 && FileExists(target)) {
      std::string question;
      if (!AfxFormatString1(question, Ids::kOverwrite, target.c_str()))
        trace.Error(TRACE_NUMBERED("LoadString failed"));
      if (MessageBoxA(nullptr, question.c_str(), caption.c_str(), MB_YESNO) == IDYES) {
        replace = true;
      } else {
        std::string chosen;
        int type = m_nFileType;
        std::string start = folder;
        if (!m_ValueGetter.ShowFileDialog(FileDialogKind::kSave, chosen, type, start,
                                          FileDialogFilter::kOnlyThisType)) {
          // The existing file stays; this page stays in the temporary folder, named in the log.
          trace.Error("User cancelled out of saveAs dialog, '" + m_saScanFiles[i] + "' stays where it is");
          continue;
        }
        target = start + chosen;
        replace = FileExists(target);
      }
    }
    const std::string& from = m_saScanFiles[i];
    // A replaced file is renamed over, its new contents synced first: never deleted before.
    const BOOL moved =
        replace ? MoveFileExA(from.c_str(), target.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)
                : MoveFileA(from.c_str(), target.c_str());
    if (!moved) {
      trace.Write("Error moving " + from + " to " + target);
      if (!CopyOver(from, target, trace)) {
        trace.Write("Error copying " + from + " to " + target);
        // A page that reached neither place is not delivered: the old file (if any) is as it was, the
        // scanned file stays where it is, and the job does not report success.
        undelivered = true;
        continue;
      }
    }
    if (replace) trace.WriteFormat("Replaced %s", target);
    targets.push_back(target);
  }
  return !undelivered;
}
