// Loading the PDF reader module on first use (see PdfReaderModule.h).
#include "toolkit/file/PdfReaderModule.h"

#include <cstdio>

#include "pxclass/PxError.h"

namespace pxfile {

namespace {
constexpr const char* kModuleName = "pxpdfread.dll";
}

PdfReaderModule& PdfReaderModule::Instance() {
  static PdfReaderModule module;
  return module;
}

void PdfReaderModule::SetLoader(PxfModuleLoadFn load, PxfModuleProcFn proc) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pfnLoad = load;
  m_pfnProc = proc;
}

int PdfReaderModule::Ensure() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pfnGetInfo && m_pfnLoadPage) return PX_OK;
  if (!m_pfnLoad || !m_pfnProc) {
    std::fprintf(stderr, "pxfile: %s not loaded: no module loader was set; PDF files cannot be read\n",
                 kModuleName);
    return PX_ERR_NO_LIBRARY;
  }
  unsigned long error = 0;
  void* module = m_pfnLoad(kModuleName, &error);
  if (!module) {
    std::fprintf(stderr, "pxfile: %s did not load (error %lu); PDF files cannot be read\n", kModuleName,
                 error);
    return PX_ERR_NO_LIBRARY;
  }
  // The module stays loaded for the life of the process (poppler and qpdf keep global state).
  auto getInfo = reinterpret_cast<PxPdfGetInfoFn>(m_pfnProc(module, "PxPdfGetInfo"));
  auto loadPage = reinterpret_cast<PxPdfLoadPageFn>(m_pfnProc(module, "PxPdfLoadPage"));
  if (!getInfo || !loadPage) {
    std::fprintf(stderr, "pxfile: %s lacks its entry points; PDF files cannot be read\n", kModuleName);
    return PX_ERR_NO_LIBRARY;
  }
  m_pfnGetInfo = getInfo;
  m_pfnLoadPage = loadPage;
  return PX_OK;
}

int PdfReaderModule::GetInfo(const uint8_t* data, size_t size, PxFileInfo* info) {
  const int result = Ensure();
  return result != PX_OK ? result : m_pfnGetInfo(data, size, info);
}

int PdfReaderModule::LoadPage(const uint8_t* data, size_t size, int page, PxPage** out) {
  const int result = Ensure();
  return result != PX_OK ? result : m_pfnLoadPage(data, size, page, out);
}

}  // namespace pxfile
