// The PDF reader module's C entry points (toolkit/include/pxfile/PxPdfReadApi.h).
#include "pxfile/PxPdfReadApi.h"

#include <new>

#include "toolkit/pdfread/PdfReader.h"

extern "C" {

__attribute__((visibility("default"))) int32_t PxPdfGetInfo(const uint8_t* data, size_t size,
                                                            PxFileInfo* info) {
  if (!data || !info) return PX_ERR_PARAMETER;
  try {
    return pxfile::PdfInfo(data, size, info);
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

__attribute__((visibility("default"))) int32_t PxPdfLoadPage(const uint8_t* data, size_t size, int32_t page,
                                                             PxPage** out) {
  if (!data || !out) return PX_ERR_PARAMETER;
  *out = nullptr;
  try {
    return pxfile::PdfLoad(data, size, page, out);
  } catch (const std::bad_alloc&) {
    return PX_ERR_NO_MEMORY;
  } catch (...) {
    return PX_ERR_INTERNAL;
  }
}

}  // extern "C"
