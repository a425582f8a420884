// The convert task of ScanApp (task 8: existing image files to another type, delivered like a file
// scan, never prompting) and FindIris, which makes a Quick Set that scans into the OCR application
// when that application is installed. Inputs come from options ("InFile", "InFile1".., "NumInFiles",
// "Dir"); the conversion is FileConvert's, the naming and the move are the scan job's.
#include <cstring>

#include "app/halyard.h"
#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/folders/Profile.h"
#include "platform/module/Module.h"
#include "scan/FileConvert.h"
#include "scan/OcrPages.h"
#include "scan/ScanJobText.h"
#include "settings/MyReg.h"
#include "settings/SettingsSchema.h"

using scanjob::Ids;
using scanjob::LoadText;

namespace {

// Joins a name without a folder to "Dir" (adding the "/"); false when there is no "Dir".
bool JoinToDir(std::string& name, const std::string& dir) {
  if (name.find('/') != std::string::npos || dir.empty()) return name.find('/') != std::string::npos;
  name = (dir.back() == '/' ? dir : dir + "/") + name;
  return true;
}

// Reads a file whole; at most limit bytes (the ini file is small; a huge one is not ours to read).
bool ReadSmallFile(const std::string& path, std::string& text, size_t limit) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  text.clear();
  char buffer[4096];
  DWORD got = 0;
  while (text.size() < limit && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  CloseHandle(file);
  if (text.size() > limit) text.resize(limit);
  return true;
}

std::string TrimBlanks(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

constexpr size_t kIniLimit = 1024 * 1024;

}  // namespace

bool ScanApp::DoConvertFile() {
  DebugTrace trace("DoConvertFile", __FILE__);
  std::vector<std::string> inputs;
  if (!GetInFileNames(inputs)) {
    trace.Error(TRACE_NUMBERED("User cancelled from Open dialog box for input files"));
    return false;
  }
  std::vector<std::string> targets;
  if (!GetOutFileName(targets)) {
    trace.Error(TRACE_NUMBERED("User cancelled from Open dialog box for output files"));
    return false;
  }
  // Writing over an input would lose it before (or while) it is read: refused before anything is touched.
  for (const std::string& input : inputs) {
    if (platform::files::SameFile(input.c_str(), targets.front().c_str())) {
      trace.Error("Output file '" + targets.front() + "' is the input file '" + input +
                  "', nothing converted");
      return false;
    }
  }
  m_saScanFiles.push_back(ReserveName(m_nFileType, ""));

  ConvertRequest request(m_saScanFiles, inputs);
  request.nType = m_nFileType;
  m_ValueGetter.GetSetting(settings::kOptType2, request.nType2, g_strQsName);
  if (request.nType2 != 0) {
    m_ValueGetter.GetSetting(settings::kOptExt2, request.strExt2, g_strQsName);
    if (request.strExt2.empty()) request.strExt2 = m_ValueGetter.ConvertTypeToExt(request.nType2);
  }
  int quality = -1;
  m_ValueGetter.GetSetting(settings::kQsQuality, quality, g_strQsName);
  request.nQuality = m_ValueGetter.CheckQualityLevel(quality, m_nFileType);
  int mfpDtf = 0;
  m_ValueGetter.GetSetting(settings::kOptMfpDtf, mfpDtf, g_strQsName);
  request.bMfpDtf = mfpDtf != 0;
  for (auto [value, field] :
       {std::pair{&settings::kOptOutX, &request.nOutX}, std::pair{&settings::kOptOutY, &request.nOutY},
        std::pair{&settings::kOptOutX2, &request.nOutX2}, std::pair{&settings::kOptOutY2, &request.nOutY2}})
    m_ValueGetter.GetSetting(*value, *field, g_strQsName);

  bool ocrFailed = false;
  const std::unique_ptr<OcrPages> ocr = OcrPagesFor(m_nFileType, ocrFailed);
  if (ocrFailed) return false;
  request.pOcr = ocr.get();
  int result = 3;
  try {
    FileConvert converter;
    result = converter.Convert(request);
  } catch (...) {
    trace.Error("Caught exception so file conversion failed");
  }
  const UINT message = result == 1   ? UINT{Ids::kLibrariesMissing}
                       : result == 3 ? UINT{Ids::kConvertFailed}
                                     : 0;
  if (message != 0) {
    scanjob::ShowScanBox(m_nHide, LoadText(message, trace, __LINE__),
                         LoadText(Ids::kScanCaption, trace, __LINE__));
    trace.Error("File conversion failed");
    return false;
  }
  if (!MoveScanFiles(targets)) {
    trace.Error(TRACE_NUMBERED("Moving files failed"));
    return false;
  }
  return true;
}

bool ScanApp::GetInFileNames(std::vector<std::string>& names) {
  DebugTrace trace("GetInFileNames", __FILE__);
  std::string inFile, dir;
  m_ValueGetter.GetSetting(settings::kOptInFile, inFile, g_strQsName);
  m_ValueGetter.GetSetting(settings::kQsDir, dir, g_strQsName);

  if (!inFile.empty()) {
    if (inFile.find('/') == std::string::npos) {
      if (!dir.empty()) {
        JoinToDir(inFile, dir);
        trace.Write("Using passed in dir");
      } else {
        char current[4096];
        const DWORD length = GetCurrentDirectoryA(sizeof current, current);
        if (length == 0 || length >= sizeof current) {
          trace.Error("No directory given and can't find current");
          inFile = "/" + inFile;
        } else {
          trace.Write("No directory given so using current");
          std::string folder(current, length);
          inFile = (folder.back() == '/' ? folder : folder + "/") + inFile;
        }
      }
    }
    int count = 1;
    if (m_ValueGetter.GetSetting(settings::kOptNumInFiles, count, g_strQsName)) {
      const size_t slash = inFile.find_last_of('/');
      const size_t dot = inFile.find_last_of('.');
      const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
      // Each number names a file; a hostile count must not make a list without end.
      constexpr int kMaxInputs = 100000;
      if (count > kMaxInputs) {
        trace.Error("NumInFiles too large: " + std::to_string(count));
        return false;
      }
      for (int i = 1; i <= count; ++i)
        names.push_back(hasExt ? inFile.substr(0, dot) + std::to_string(i) + "." + inFile.substr(dot + 1)
                               : inFile + std::to_string(i));
    } else {
      names.push_back(inFile);
    }
  } else {
    for (int i = 1;; ++i) {
      std::string name;
      m_ValueGetter.GetSetting(settings::kOptInFile.pszName + std::to_string(i), name, g_strQsName,
                               settings::kOptInFile.pszDefault);
      if (name.empty()) break;
      if (!JoinToDir(name, dir)) trace.Write("No directory, but none specified");
      names.push_back(name);
    }
  }

  if (names.empty()) {
    if (m_nHide & settings::kHideFilePrompts) {
      trace.Error("No filename given, hide level prevents user prompt");
      return false;
    }
    std::string chosen;
    int type = 0;
    std::string folder = dir;
    if (!m_ValueGetter.ShowFileDialog(FileDialogKind::kOpen, chosen, type, folder,
                                      FileDialogFilter::kEveryTypeButPdf)) {
      trace.Error("User cancelled out of open dialog");
      return false;
    }
    names.push_back(folder + chosen);
  }
  return true;
}

bool ScanApp::FindIris() {
  DebugTrace trace("FindIris", __FILE__);
  std::string appName, qsName;
  AfxLoadString(Ids::kTitleScanReg, appName);
  AfxLoadString(Ids::kOcrQuickSet, qsName);
  const std::string key = std::string(settings::kMainKeyBase) + "\\" + appName + "\\" + qsName;
  {
    MyReg existing;
    if (!qsName.empty() && existing.Open(HKEY_CURRENT_USER, key, KEY_READ, MyReg::kQuiet)) return true;
  }

  std::string path;
  char windows[260];
  const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  const std::string ini = std::string(windows, length < sizeof windows ? length : 0) + "/readiris.ini";
  trace.Write(ini);
  std::string text;
  if (ReadSmallFile(ini, text, kIniLimit)) {
    trace.Write("Readiris.ini directory open");
    const std::string keyText = "current-version-path=";
    const size_t at = text.find(keyText);
    if (at != std::string::npos) {
      const size_t start = at + keyText.size();
      const size_t end = text.find('\n', start);
      path = TrimBlanks(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (path.empty() || path.back() != '/') {
        trace.Write("need to add a back slash");
        path += '/';
      }
      path += "readiris.exe";
      trace.Write("FIND!");
      trace.Write(path);
    } else {
      trace.Write("current_version_path not FIND!");
    }
  } else {
    trace.Write("Readiris.ini File Not find!");
  }

  if (path.empty()) {
    trace.Write("Readiris path Not find in general search!");
    MyReg iris;
    // Windows reads "...\\10.0\\" as the key itself; this registry refuses the empty last component.
    if (iris.Open(HKEY_LOCAL_MACHINE, settings::kIrisKey, KEY_READ, MyReg::kQuiet)) {
      std::string complete, folder;
      iris.Query(complete, settings::kIrisCompleteInstall.pszName);
      if (complete == "1") {
        iris.Query(folder, settings::kIrisPath.pszName);
        if (folder.empty() || folder.back() != '/') folder += '/';
        path = folder + "readiris.exe";
      }
    }
  }
  for (const char* name : {"full_path9", "exe-path"}) {
    if (!path.empty()) break;
    char value[260];
    GetPrivateProfileStringA("Readiris", name, "", value, sizeof value, "readiris.ini");
    if (*value != '\0') path = std::string(value) + "/readiris.exe";
  }
  if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Without that application the Quick Set scans into our own, installed beside this program.
    path = platform::module::ExecutableFolder() + "marlin3-ocr";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    trace.Write("Using our own OCR application " + path);
  }
  if (qsName.empty()) return false;  // an unnamed key would be the main key itself

  MyReg qs;
  if (!qs.Create(HKEY_CURRENT_USER, key, KEY_WRITE)) return false;
  std::string prefix;
  m_ValueGetter.GetNetworkPrefix(prefix);
  std::string devDest;
  AfxLoadString(Ids::kOcrDevDest, devDest);
  qs.Set(static_cast<DWORD>(settings::kQsTaskSaved), settings::kQsTask);
  qs.Set(prefix + devDest, settings::kQsDevDest.pszName);
  qs.Set("300", settings::kQsRes.pszName);
  qs.Set("8", settings::kQsBitDepth.pszName);
  qs.Set("2", settings::kQsDest.pszName);
  qs.Set("17", settings::kQsType.pszName);
  qs.Set("4112", settings::kQsHide.pszName);
  qs.Set(m_ValueGetter.IsNetworked() ? "0" : "1", settings::kQsAddToDevice.pszName);
  qs.Set(path, settings::kQsAppExe.pszName);
  return true;
}
