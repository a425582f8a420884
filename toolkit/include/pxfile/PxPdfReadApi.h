// The C interface of the PDF reader module (libpxpdfread.so, "pxpdfread.dll"). Only the file library
// calls it: it loads the module on the first PDF it reads, through the module loader the class
// library hands it (PxfSetModuleLoader). Results as PxFileApi.h: 1 success, negative PxError; a page
// returned through `out` is the caller's (PxPageFree). No exception leaves an entry point.
#pragma once

#include <stddef.h>

#include "pxclass/PxFileInfo.h"
#include "pxclass/PxPage.h"

#ifdef __cplusplus
extern "C" {
#endif

int32_t PxPdfGetInfo(const uint8_t* data, size_t size, PxFileInfo* info);
int32_t PxPdfLoadPage(const uint8_t* data, size_t size, int32_t page, PxPage** out);

typedef int32_t (*PxPdfGetInfoFn)(const uint8_t*, size_t, PxFileInfo*);
typedef int32_t (*PxPdfLoadPageFn)(const uint8_t*, size_t, int32_t, PxPage**);

// How the file library reaches the module layer: load "Name.dll" (null when it does not load, with
// the reason in *error) and find an entry point by name.
typedef void* (*PxfModuleLoadFn)(const char* name, unsigned long* error);
typedef void* (*PxfModuleProcFn)(void* module, const char* name);

#ifdef __cplusplus
}
#endif
