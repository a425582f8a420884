// The C interface of the file library (libpxfile.so, "pxfile.dll", PxBase::PX_FIL). The class
// library resolves these by name from PxBase::LibraryHandle(PX_FIL). Pages are PxPage records
// (malloc'ed pixels); a page returned through `out` is the caller's, freed with PxfFreePage.
// Results: 1 success, negative PxError. Every entry point catches everything: no exception leaves.
#pragma once

#include "pxclass/PxFileInfo.h"
#include "pxclass/PxPage.h"
#include "pxfile/PxPdfReadApi.h"
#include "pxocr/PxOcrApi.h"

#ifdef __cplusplus
extern "C" {
#endif

int32_t PxfGetInfo(const char* name, PxFileInfo* info);
int32_t PxfLoadPage(const char* name, int32_t page, PxPage** out);
int32_t PxfLoadRaw(const char* name, const PxLoadInfo* raw, PxPage** out);
// pageNumber > 1 appends to an existing multi-page file; 0 or 1 writes a new one.
int32_t PxfSavePage(const PxPage* page, const char* name, int32_t type, int32_t quality, int32_t flags,
                    int32_t pageNumber);
// As PxfSavePage, with the words recognised on the page (PxOcrRecognize) laid over a PDF page as
// invisible text; other types ignore them. text may be null; its size must be the page's.
int32_t PxfSavePageText(const PxPage* page, const char* name, int32_t type, int32_t quality, int32_t flags,
                        int32_t pageNumber, const PxOcrText* text);
int32_t PxfResize(const PxPage* in, int32_t width, int32_t height, PxPage** out);
int32_t PxfConvertDepth(const PxPage* in, int32_t bitsPerPixel, PxPage** out);
void PxfFreePage(PxPage* page);
// A JPEG file written while its rows arrive (8-bit grey or 24-bit RGB rows, in order), the page never
// held whole; quality is the toolkit's factor. Open fails with PX_ERR_PARAMETER for what the stream
// does not take (save the whole page then). Close frees the stream: keep 1 writes the rows received
// (a shorter image when fewer came than announced), keep 0 removes the file.
typedef struct PxfJpegStream PxfJpegStream;
int32_t PxfJpegStreamOpen(const char* name, int32_t width, int32_t height, int32_t bitsPerPixel, int32_t xDpi,
                          int32_t yDpi, int32_t quality, PxfJpegStream** out);
int32_t PxfJpegStreamWrite(PxfJpegStream* stream, const uint8_t* rows, int32_t count, int32_t stride);
int32_t PxfJpegStreamClose(PxfJpegStream* stream, int32_t keep);
// The module layer the file library uses to load the PDF reader ("pxpdfread.dll") on first use.
void PxfSetModuleLoader(PxfModuleLoadFn load, PxfModuleProcFn proc);

typedef int32_t (*PxfGetInfoFn)(const char*, PxFileInfo*);
typedef int32_t (*PxfLoadPageFn)(const char*, int32_t, PxPage**);
typedef int32_t (*PxfLoadRawFn)(const char*, const PxLoadInfo*, PxPage**);
typedef int32_t (*PxfSavePageFn)(const PxPage*, const char*, int32_t, int32_t, int32_t, int32_t);
typedef int32_t (*PxfSavePageTextFn)(const PxPage*, const char*, int32_t, int32_t, int32_t, int32_t,
                                     const PxOcrText*);
typedef int32_t (*PxfResizeFn)(const PxPage*, int32_t, int32_t, PxPage**);
typedef int32_t (*PxfConvertDepthFn)(const PxPage*, int32_t, PxPage**);
typedef int32_t (*PxfJpegStreamOpenFn)(const char*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                       PxfJpegStream**);
typedef int32_t (*PxfJpegStreamWriteFn)(PxfJpegStream*, const uint8_t*, int32_t, int32_t);
typedef int32_t (*PxfJpegStreamCloseFn)(PxfJpegStream*, int32_t);
typedef void (*PxfSetModuleLoaderFn)(PxfModuleLoadFn, PxfModuleProcFn);

#ifdef __cplusplus
}
#endif
