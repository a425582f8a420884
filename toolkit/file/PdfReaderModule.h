// The PDF reader module ("pxpdfread.dll") as the file library reaches it: loaded through the module
// layer on the first PDF read, so processes that never read a PDF do not map poppler and qpdf. The
// class library hands in the module layer's load and lookup (PxfSetModuleLoader) when it loads the
// file library. When the module is missing or incomplete, PDF reading fails with PX_ERR_NO_LIBRARY
// and a line on stderr; every other format is unaffected. A failed load is retried on the next PDF.
#pragma once

#include <cstddef>
#include <mutex>

#include "pxfile/PxPdfReadApi.h"

namespace pxfile {

class PdfReaderModule {
 public:
  static PdfReaderModule& Instance();

  void SetLoader(PxfModuleLoadFn load, PxfModuleProcFn proc);
  int GetInfo(const uint8_t* data, size_t size, PxFileInfo* info);
  int LoadPage(const uint8_t* data, size_t size, int page, PxPage** out);

 private:
  // PX_OK once the entry points are known.
  int Ensure();

  std::mutex m_mutex;
  PxfModuleLoadFn m_pfnLoad = nullptr;
  PxfModuleProcFn m_pfnProc = nullptr;
  PxPdfGetInfoFn m_pfnGetInfo = nullptr;
  PxPdfLoadPageFn m_pfnLoadPage = nullptr;
};

}  // namespace pxfile
