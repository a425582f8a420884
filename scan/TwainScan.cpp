#include "scan/TwainScan.h"

#include <cstring>
#include <new>

#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/framework/Afx.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxSaveOptions.h"
#include "pxtwain/PxTwainApi.h"
#include "scan/OcrPages.h"
#include "scan/ScanJobText.h"
#include "scan/SelectSourceDialog.h"
#include "scan/ToolkitErrorText.h"
#include "scan/ToolkitLibraries.h"

namespace {

constexpr UINT kIdsAnotherPage = 146;
constexpr UINT kDummyWindowTemplate = 142;
constexpr size_t kNameField = 36;
constexpr int kTextPollMs = 200;  // how often the wait for the text shows its progress

void CopyField(char* to, size_t size, const std::string& text) {
  std::memset(to, 0, size);
  std::memcpy(to, text.data(), std::min(text.size(), size - 1));
}

bool FileExists(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

TwainScan::TwainScan() = default;

TwainScan::~TwainScan() {
  // The session goes before the window it belongs to.
  CloseSession();
  m_pDummyWnd.reset();
  m_Bitmap.Free();
}

bool TwainScan::IsMultiPageSupported() const {
  return PxIsMultiPageType(m_nFileType);
}

int TwainScan::Scan(int mode, ScanRequest& request) {
  DebugTrace trace("Scan", __FILE__);
  if (int rc = Initialize(); rc != 0) return rc;
  if (!SetupParams(request)) {
    if (m_bUserCancelled) return 6;
    trace.Write("Trouble setting up parameters");
    return 4;
  }
  int flags = 3;
  switch (mode) {
    case 0:
      flags = 4;
      break;
    case 1:
      flags = 2;
      break;
    case 2:
      flags = 1;
      break;
    default:
      break;
  }
  std::string another;
  if (!AfxLoadString(kIdsAnotherPage, another)) trace.Error(TRACE_NUMBERED("LoadString failed"));

  int result = 0;
  for (;;) {
    m_bSaveFailed = false;
    const int rc = Acquire(flags);
    if (rc == PX_ERR_CANCELLED || rc == -90 || rc == -100 || rc == -80) {
      trace.Write("Got user cancel");
      m_bUserCancelled = true;
      result = 6;
      break;
    }
    if (rc < 1 || m_bSaveFailed) {
      // A page that could not be saved stops the acquisition; the scan is not complete.
      trace.Write("Aquire returned a failure");
      // The device's own cause (a jam, a lost connection, SANE's words); a page's save logs its own.
      if (rc < 1 && !GetLastErrorText().empty())
        trace.Error("The scan stopped (error " + std::to_string(rc) + "): " + GetLastErrorText());
      result = 5;
      break;
    }
    if (m_bAskForMore && AfxMessageBox(another, MB_YESNO | MB_ICONQUESTION) == IDYES) continue;
    result = 0;
    break;
  }
  if (result == 0 && m_nPageCount == 0 && m_nBlankPages > 0) {
    trace.WriteFormat("All %lld scanned page(s) were blank", m_nBlankPages);
    result = 7;
  }

  // The pages still being recognised are saved before the file library goes. The wait keeps the
  // progress window (where the scan had one), with its Cancel.
  if (m_pOcr && result == 0 && !WaitInProgress(flags == 2 || flags == 3, [this](int& page, int& pages) {
        return m_pOcr->WaitFor(kTextPollMs, page, pages);
      })) {
    trace.Write("Got user cancel while the text was recognised");
    m_bUserCancelled = true;
    result = 6;
  }
  if (m_pOcr) result = m_pOcr->EndScan(result);
  if (CloseSession() < 0) trace.Error(TOOLKIT_ERROR("CloseSession failed", CloseSession()));
  CleanUp();
  return result;
}

void TwainScan::CleanUp() {
  PxBase::UnloadLibraries(PxBase::GetLoadedLibraries());
  m_pDummyWnd.reset();
}

int TwainScan::Initialize() {
  DebugTrace trace("Initialize", __FILE__);
  if (!SetupDlls()) return 3;
  m_pDummyWnd.reset(new (std::nothrow) CDialog(kDummyWindowTemplate));
  if (!m_pDummyWnd) {
    trace.Write("Getting memory for dialog failed");
    return 2;
  }
  if (!m_pDummyWnd->CreateControls()) {
    trace.Write("Failed creating dummy window for TWAIN");
    m_pDummyWnd.reset();
    return 2;
  }
  SetBitmap(&m_Bitmap);
  SetWindow(m_pDummyWnd->GetSafeHwnd());
  EnableCallBack(1);
  if (!IsAvailable()) {
    trace.Write("TWAIN source not available");
    return 1;
  }
  return 0;
}

bool TwainScan::SetupDlls() {
  DebugTrace trace("SetupDlls", __FILE__);
  return EnsureToolkitLibrary(PxBase::PX_KRN, "PX_KRN", trace) &&
         EnsureToolkitLibrary(PxBase::PX_FIL, "PX_FIL", trace) &&
         EnsureToolkitLibrary(PxBase::PX_TWN, "PX_TWN", trace);
}

// The device of the source would not open: the log and the job's failure box name it and say what to do.
void TwainScan::NoteScannerMissing(const std::string& source, DebugTrace& trace) {
  trace.Error("The scanner '" + source + "' is not there or would not open (" + GetLastErrorText() +
              "): check that it is switched on, connected (USB cable or network) and not in use by another "
              "program, then scan again");
  std::string cause;
  if (!AfxFormatString1(cause, scanjob::Ids::kScannerMissing, source.c_str()))
    trace.Error(TRACE_NUMBERED("LoadString failed"));
  scanjob::Outcome().strCause = cause;
}

bool TwainScan::SetupParams(ScanRequest& request) {
  DebugTrace trace("SetupParams", __FILE__);
  PxTwainProps props{};
  if (GetProperties(&props) < 0) {
    trace.Error(TOOLKIT_ERROR("GetProperties failed", GetProperties(&props)));
    return false;
  }
  CopyField(props.manufacturer, sizeof props.manufacturer, "Nexora Co.");
  CopyField(props.productFamily, sizeof props.productFamily, FieldText(request.szProductFamily));
  CopyField(props.productName, sizeof props.productName, FieldText(request.szProductName));
  m_bAskForMore = request.bAskForMore;

  std::string source = FieldText(request.szSourceName);
  if (!SelectSource(source)) return false;
  if (source.size() > kNameField) {
    trace.WriteFormat("Source str too long: %s", source);
    source.clear();
  }
  CopyField(props.sourceName, sizeof props.sourceName, source);
  trace.WriteFormat("Using source '%s'", source);

  switch (request.nBitDepth) {
    case 1:
      props.pixelType = PX_TWN_PIXEL_BW;
      break;
    case 8:
      props.pixelType = PX_TWN_PIXEL_GRAY;
      break;
    case 24:
      props.pixelType = PX_TWN_PIXEL_RGB;
      break;
    default:
      props.pixelType = -1;
      break;
  }
  props.bitDepth = request.nBitDepth;
  props.resolution = request.nResolution;
  props.spare1 = request.nUnset1;
  props.spare2 = request.nUnset2;
  props.width = request.nWidth;
  props.height = request.nHeight;
  props.brightness = request.nBrightness;
  props.contrast = request.nContrast;
  if (SetProperties(&props, PX_TWN_SET_IDENTITY | PX_TWN_SET_IMAGE) < 0) {
    const int code = SetProperties(&props, PX_TWN_SET_IDENTITY | PX_TWN_SET_IMAGE);
    trace.Error(TOOLKIT_ERROR("SetProperties failed", code));
    if (code == PX_TWN_E_OPEN) NoteScannerMissing(source, trace);
    return false;
  }
  m_pFileNames = &request.saFileNames;
  m_nFileType = request.nFileType;
  m_nQuality = request.nQuality;
  m_pOcr = request.pOcr;
  m_Cleanup = request.cleanup;
  return true;
}

bool TwainScan::SelectSource(std::string& name) {
  DebugTrace trace("SelectSource", __FILE__);
  m_saSources.clear();
  if (EnumSources() < 0) {
    m_saSources.clear();
    trace.Error(TOOLKIT_ERROR("EnumSources failed", EnumSources()));
    return false;
  }
  if (m_saSources.size() == 1) {
    name = m_saSources.front();
    trace.WriteFormat("Only one src, using it: %s", name);
    return true;
  }
  for (const std::string& source : m_saSources) {
    if (source == name) {
      trace.WriteFormat("Using passed in src: %s", name);
      return true;
    }
  }
  SelectSourceDialog dialog(SelectSourceDialog::Choose);
  dialog.m_saSources = m_saSources;
  if (dialog.DoModal() != IDOK) {
    trace.Write("user canceled from scanner selection dialog");
    m_bUserCancelled = true;
    return false;
  }
  name = dialog.m_strSource;
  trace.WriteFormat("Using customer's choice: %s", name);
  return true;
}

int TwainScan::EnumSourcesCallBack(const char* name) {
  DebugTrace trace("EnumSourcesCallBack", __FILE__);
  const std::string source = name != nullptr ? name : "";
  const bool wia = source.compare(0, 3, "WIA") == 0;
  if (!wia && (source.find("NX") != std::string::npos || source.find("nx") != std::string::npos)) {
    m_saSources.push_back(source);
    trace.WriteFormat("Found and adding Source: %s", source);
  } else {
    trace.WriteFormat("Ignoring WIA or non-NX source: %s", source);
  }
  return 1;
}

int TwainScan::AcquireCallBack() {
  DebugTrace trace("AcquireCallBack", __FILE__);
  if (!m_Bitmap.IsAllocated()) {
    trace.Write("Bitmap IsAllocated failed");
    return 1;
  }
  if (m_pFileNames == nullptr || m_pFileNames->empty()) {
    // Scan always hands a first name; without one there is nowhere to save.
    trace.Error(TRACE_NUMBERED("No file name for the page"));
    m_bSaveFailed = true;
    m_Bitmap.Free();
    return 0;
  }
  switch (CleanPage(m_Bitmap, m_Cleanup, m_nPageCount + m_nBlankPages + 1, trace)) {
    case PageVerdict::kBlank:
      // Left out: the page count and the numbered names follow the pages kept.
      ++m_nBlankPages;
      m_Bitmap.Free();
      return 1;
    case PageVerdict::kFailed:
      m_bSaveFailed = true;
      m_Bitmap.Free();
      return 0;
    case PageVerdict::kKeep:
      break;
  }
  m_nFileType = PxPdfTypeForDepth(m_nFileType, m_Bitmap.GetBitsPerPixel());

  std::string name = m_pFileNames->front();
  if (m_nPageCount > 0 && !IsMultiPageSupported()) {
    // The number goes before the extension of the file name, never into a folder name.
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base = hasExt ? name.substr(0, dot) : name;
    name = base + std::to_string(m_nPageCount) + (hasExt ? "." + name.substr(dot + 1) : std::string());
    m_pFileNames->push_back(name);
  }
  if ((m_nPageCount == 0 || !IsMultiPageSupported()) && FileExists(name)) {
    trace.WriteFormat("'%s' already exists, deleting", name);
    DeleteFileA(name.c_str());
  }

  TrimBlackBottom(m_Bitmap);

  const PxSaveOptions options = PxSaveOptions::ForPage(m_nPageCount + 1);
  const int saved = m_pOcr ? m_pOcr->Add(m_Bitmap, name, m_nFileType, m_nQuality, 1, m_nPageCount + 1)
                           : m_Bitmap.Save(name.c_str(), m_nFileType, 0, m_nQuality, 1, &options);
  if (m_Bitmap.Free() < 0) {
    trace.Error(TOOLKIT_ERROR("Failed to free the bitmap", m_Bitmap.Free()));
    m_bSaveFailed = true;
    return 0;
  }
  if (saved < 1) {
    trace.Error(ToolkitErrorText(__FILE__, __LINE__, "Failed to write to " + name, saved));
    m_bSaveFailed = true;
    return 0;
  }
  ++m_nPageCount;
  return 1;
}

bool TwainScan::TrimBlackBottom(PxBitmapBase& bitmap) {
  const int width = bitmap.GetWidth();
  const int height = bitmap.GetHeight();
  if (width < 1 || height < 2) return false;
  int row = height - 1;
  while (row > 0 && bitmap.GetPixel(row, width - 1) == 0) --row;
  if (row == height - 1) return false;
  // The walk stopped at row 0 on black: the last column is black from top to bottom, and nothing
  // tells a band from the picture itself.
  if (row == 0 && bitmap.GetPixel(0, width - 1) == 0) return false;
  int cut = -1;
  for (int r = row + 1; r < height && cut < 0; ++r) {
    bool black = true;
    for (int column = width - 2; column >= 0 && black; --column) black = bitmap.GetPixel(r, column) == 0;
    if (black) cut = r;
  }
  if (cut < 0 || cut >= height - 1) return false;
  return bitmap.Trim(0, 0, width, cut) >= 1;
}

void TwainScan::ShowErrorMessages() {
  DebugTrace trace("ShowErrorMessages", __FILE__);
  std::string another;
  if (!AfxLoadString(kIdsAnotherPage, another)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  AfxMessageBox(another, MB_YESNO | MB_ICONQUESTION);
  SelectSourceDialog dialog(SelectSourceDialog::Preview);
  dialog.DoModal();
}
