#include "scan/FileConvert.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/folders/Folders.h"
#include "pxclass/PxError.h"
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxSaveOptions.h"
#include "scan/MapFile.h"
#include "scan/OcrPages.h"
#include "scan/ToolkitErrorText.h"
#include "scan/ToolkitLibraries.h"

namespace {

// A resize the toolkit refuses (a size beyond its limits) leaves the page as it was; the log says so.
bool ResizeLogged(PxBitmapBase& bitmap, int64_t width, int64_t height, DebugTrace& trace) {
  const std::string size = std::to_string(bitmap.GetWidth()) + "x" + std::to_string(bitmap.GetHeight()) +
                           " to " + std::to_string(width) + "x" + std::to_string(height);
  if (width < 1 || height < 1 || width > std::numeric_limits<int32_t>::max() ||
      height > std::numeric_limits<int32_t>::max()) {
    trace.Error(TRACE_NUMBERED("Resize from " + size + " refused: impossible size; the page keeps its size"));
    return false;
  }
  const int resized = bitmap.Resize(static_cast<int>(width), static_cast<int>(height));
  if (resized < 1) {
    trace.Error(TOOLKIT_ERROR(
        "Resize from " + size + " refused (" + PxErrorText(resized) + "); the page keeps its size", resized));
    return false;
  }
  return true;
}

bool FileExists(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

FileConvert::FileConvert() {
  SetBitmap(&m_Bitmap);
}

FileConvert::~FileConvert() {
  m_Bitmap.Free();
}

bool FileConvert::SetupDlls() {
  DebugTrace trace("SetupDlls", __FILE__);
  return EnsureToolkitLibrary(PxBase::PX_KRN, "PX_KRN", trace) &&
         EnsureToolkitLibrary(PxBase::PX_FIL, "PX_FIL", trace);
}

int FileConvert::Convert(ConvertRequest& request) {
  DebugTrace trace("Convert", __FILE__);
  if (request.saInputs.empty() || request.saOutputs.size() != 1 || request.nType == 0 ||
      request.saOutputs.front().size() >= 257) {
    trace.Write("Input parameters invalid");
    return 2;
  }
  m_nQuality = request.nQuality != -1 ? request.nQuality : PxDefaultQuality(request.nType);
  m_nOutX = request.nOutX;
  m_nOutY = request.nOutY;
  m_nOutX2 = request.nOutX2;
  m_nOutY2 = request.nOutY2;
  if (!SetupDlls()) {
    trace.Write("SetupDlls failed");
    return 1;
  }

  const std::string& output = request.saOutputs.front();
  const size_t slash = output.rfind('/');
  const size_t dot = output.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || slash < dot)) {
    m_strStem = output.substr(0, dot);
    m_strExt = output.substr(dot + 1);
  } else {
    m_strStem = output;
    m_strExt.clear();
  }
  m_strExt2 = request.strExt2;
  m_nType = request.nType;
  m_nType2 = request.nType2;
  m_pOutputs = &request.saOutputs;
  m_pOcr = request.pOcr;

  for (const std::string& name : request.saOutputs)
    if (DeleteFileA(name.c_str())) trace.WriteFormat("Deleted %s", name);
  request.saOutputs.clear();

  int converted = 0;
  for (const std::string& input : request.saInputs) {
    if (!FileExists(input)) {
      trace.WriteFormat("%s not found, skipping as input file", input);
      continue;
    }
    // A FIFO or device would block the open (or never end): only regular files are read.
    if (GetFileAttributesA(input.c_str()) & FILE_ATTRIBUTE_DEVICE) {
      trace.Error(DebugTrace::FormatOne("%s is not a regular file, refused as input file", input));
      return 3;
    }
    if (request.bMfpDtf) {
      if (!ConvertFaxFile(input)) {
        trace.Write("Converting fax file failed");
        return 3;
      }
    } else if (!ConvertFile(input)) {
      trace.Write("Converting file fails");
      return 3;
    }
    ++converted;
  }
  if (converted == 0) {
    // Nothing was there to convert: no output exists, which is not a finished conversion.
    trace.Write("No input file found");
    return 3;
  }
  std::string error;
  if (m_pOcr && !m_pOcr->Finish(error)) {
    trace.Error("The text of the converted pages is incomplete: " + error);
    return 3;
  }
  return 0;
}

bool FileConvert::ConvertFile(const std::string& input) {
  DebugTrace trace("ConvertFile", __FILE__);
  SetFileName(input.c_str());
  PxFileInfo info{};
  if (GetInfo(&info, 1) < 1) {
    trace.WriteFormat("GetInfo Failed on %s", input);
    return false;
  }
  for (int page = 1; page <= info.nPages; ++page) {
    ++m_nSequence;
    if (m_Bitmap.Load(input.c_str(), 0, PX_COLOUR_ORDER_RGB, page, &info) < 0) {
      trace.Error(TOOLKIT_ERROR("Bitmap load failed",
                                m_Bitmap.Load(input.c_str(), 0, PX_COLOUR_ORDER_RGB, page, &info)));
      return false;
    }
    m_nType = PxPdfTypeForDepth(m_nType, info.nBitsPerPixel);
    m_nType2 = PxPdfTypeForDepth(m_nType2, info.nBitsPerPixel);
    if (!SavePage()) {
      trace.Write("SavePage failed");
      return false;
    }
  }
  return true;
}

bool FileConvert::ConvertFaxFile(const std::string& input) {
  DebugTrace trace("ConvertFaxFile", __FILE__);
  ++m_nSequence;
  // The unpacked pages go into the user's own temporary folder, never a shared one by a known name.
  std::string folder = platform::folders::PrivateTempFolder();
  if (folder.empty()) {
    trace.Error("No private temporary folder for the unpacked fax file");
    return false;
  }
  const size_t slash = input.rfind('/');
  const std::string intermediate =
      folder + "0" + (slash == std::string::npos ? input : input.substr(slash + 1));
  DeleteFileA(intermediate.c_str());

  MapFile map;
  if (!map.Initialize(input, intermediate)) {
    trace.Write(
        TRACE_NUMBERED(std::string("Unpacking fax file failed: ") + MapFile::ResultText(map.GetResult())));
    return false;
  }
  if (!IsLoadInfoCallBackEnabled()) EnableLoadInfoCallBack(1);
  SetFileName(intermediate.c_str());
  const std::vector<MapFile::Page>& pages = map.Pages();
  // Each page of the stream is loaded from its own place in the intermediate file.
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i > 0) ++m_nSequence;
    m_nFaxXRes = pages[i].xRes;
    m_nFaxYRes = pages[i].yRes;
    m_nFaxWidth = pages[i].width & 0xFFFF;
    m_nFaxHeight = pages[i].height;
    m_nFaxOffset = static_cast<int>(pages[i].offset);
    if (LoadFile(0, PX_COLOUR_ORDER_RGB, 3) < 0) {
      trace.Error(TOOLKIT_ERROR("Loading fax file failed", LoadFile(0, PX_COLOUR_ORDER_RGB, 3)));
      return false;
    }
    // Fax pages are 1 bit: a PDF output is the bilevel one.
    m_nType = PxPdfTypeForDepth(m_nType, 1);
    m_nType2 = PxPdfTypeForDepth(m_nType2, 1);
    if (!SavePage()) {
      trace.Write("SavePage failed");
      return false;
    }
  }
  return true;
}

int FileConvert::LoadInfoCallBack(PxLoadInfo* record) {
  DebugTrace trace("LoadInfoCallBack", __FILE__);
  record->nFormat = PX_RAW_FAX;
  record->nWidth = m_nFaxWidth;
  record->nHeight = m_nFaxHeight;
  record->nBitsPerPixel = 1;
  record->nXDpi = m_nFaxXRes;
  record->nYDpi = m_nFaxYRes;
  record->nOffset = m_nFaxOffset;
  record->nFlags = PX_FAX_G3_1D;
  return 1;
}

std::string FileConvert::PageName(const std::string& ext, int type) const {
  std::string name = m_strStem;
  if (!PxIsMultiPageType(type) && m_nPagesSaved > 1) name += std::to_string(m_nSequence);
  if (!ext.empty()) name += "." + ext;
  return name;
}

bool FileConvert::SaveTo(PxBitmapBase& bitmap, const std::string& name, int type, const char* failure) {
  DebugTrace trace("SavePage", __FILE__);
  if (!PxIsMultiPageType(type) || m_nPagesSaved == 1) DeleteFileA(name.c_str());
  const PxSaveOptions options = PxSaveOptions::ForPage(m_nPagesSaved + 1);
  // A failed save is not repeated for its code: a second save could append a page or leave a file
  // behind a failure that has already been reported.
  const int saved = m_pOcr && OcrPages::TakesText(type)
                        ? m_pOcr->Add(bitmap, name, type, m_nQuality, 3, m_nPagesSaved + 1)
                        : bitmap.Save(name.c_str(), type, 0, m_nQuality, 3, &options);
  if (saved < 0) {
    trace.Error(TOOLKIT_ERROR(failure, saved));
    return false;
  }
  // Listed once: with a second output the names alternate, and a caller moves each listed file once.
  if (std::find(m_pOutputs->begin(), m_pOutputs->end(), name) == m_pOutputs->end())
    m_pOutputs->push_back(name);
  return true;
}

bool FileConvert::SavePage() {
  DebugTrace trace("SavePage", __FILE__);
  ++m_nPagesSaved;
  PxBitmapBase copy;
  if (m_nType2 != 0 && copy.Copy(m_Bitmap) < 1) {
    trace.Error(TRACE_NUMBERED("Copying the page for the second output failed"));
    return false;
  }
  if (m_nFaxXRes != m_nFaxYRes) ReSizeRes(m_Bitmap, m_nType);
  if (m_nOutX != -1 || m_nOutY != -1) ReSizePixels(m_Bitmap, m_nOutX, m_nOutY);
  if (!SaveTo(m_Bitmap, PageName(m_strExt, m_nType), m_nType, "Bitmap Save failed")) return false;
  if (m_nType2 != 0) {
    if (m_nFaxXRes != m_nFaxYRes) ReSizeRes(copy, m_nType2);
    if (m_nOutX2 != -1 || m_nOutY2 != -1) ReSizePixels(copy, m_nOutX2, m_nOutY2);
    // The second output's name carries its own type's extension, so its content matches its name.
    if (!SaveTo(copy, PageName(m_strExt2, m_nType2), m_nType2, "Second Bitmap Save failed")) return false;
    copy.Free();
  }
  return true;
}

bool FileConvert::ReSizeRes(PxBitmapBase& bitmap, int type) {
  DebugTrace trace("ReSizeRes", __FILE__);
  const uint32_t width = static_cast<uint32_t>(m_nFaxWidth);
  const uint32_t height = static_cast<uint32_t>(m_nFaxHeight);
  const uint32_t xRes = static_cast<uint32_t>(m_nFaxXRes);
  const uint32_t yRes = static_cast<uint32_t>(m_nFaxYRes);
  switch (PxBaseFileType(type)) {
    case PX_TYPE_JPEG:
      if (yRes == 0) return false;
      return ResizeLogged(bitmap, static_cast<int64_t>(width), static_cast<int64_t>(height * xRes / yRes),
                          trace);
    case PX_TYPE_BMP:
    case PX_TYPE_GIF:
      if (xRes == 0) return false;
      return ResizeLogged(bitmap, static_cast<int64_t>(width * yRes / xRes), static_cast<int64_t>(height),
                          trace);
    case PX_TYPE_TIFF_PACKED:
    case PX_TYPE_TIFF:
    case PX_TYPE_PDF:
    case PX_TYPE_PNG:
      return true;
    default:
      trace.Write(TRACE_NUMBERED("No resolution rule for this file type"));
      return false;
  }
}

bool FileConvert::ReSizePixels(PxBitmapBase& bitmap, int width, int height) {
  DebugTrace trace("ReSizePixels", __FILE__);
  if (width < 0 && height < 0) {
    trace.Write("Both pixel resize directions are less than 0");
    return false;
  }
  const int64_t bw = bitmap.GetWidth();
  const int64_t bh = bitmap.GetHeight();
  int64_t w = width;
  int64_t h = height;
  // Product first, truncated toward zero; in 64 bits, so a large size cannot overflow.
  if (w < 0) w = bh > 0 ? h * bw / bh : 0;
  if (h < 0) h = bw > 0 ? w * bh / bw : 0;
  return ResizeLogged(bitmap, w, h, trace);
}
