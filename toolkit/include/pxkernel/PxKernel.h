// Services of the toolkit kernel (libpxkernel.so), addressed by ordinal as plug-ins import them.
// libpxkernel exports one lookup, PxKernelProcByOrdinal(ordinal), returning the service or null.
// A plug-in binds every ordinal it needs once, in a library constructor (the moment a loader
// binds ordinal imports), through PxKernelBind(); PxKernel() then returns the bound table.
// Guarantees: PxKernel() never returns a table with a null entry once PxKernelBound() is true;
// when any ordinal is missing PxKernelBound() is false and the plug-in's entry points refuse with
// PXM_ERR_KERNEL_MISSING. Tests may replace the whole table (PxKernelSetImports) to simulate
// read failures, short reads, allocation failure and a full disk, and restore it with null.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pxkernel/PxRecords.h"

extern "C" {

// Open flags as the toolkit passes them (low bits: access; 0x0100 create, 0x0200 truncate,
// 0x8000 binary). Read: 0x8000 with permission 256 (read allowed); write: 0x8301 with 128.
enum : int32_t {
  PX_O_RDONLY = 0x0000,
  PX_O_WRONLY = 0x0001,
  PX_O_RDWR = 0x0002,
  PX_O_CREAT = 0x0100,
  PX_O_TRUNC = 0x0200,
  PX_O_EXCL = 0x0400,
  PX_O_BINARY = 0x8000,
  PX_S_IREAD = 256,
  PX_S_IWRITE = 128,
};

enum : int32_t { PX_SEEK_SET = 0, PX_SEEK_CUR = 1, PX_SEEK_END = 2 };

enum PxOrdinal : int32_t {
  PX_ORD_BITMAP_BEGIN = 100,
  PX_ORD_BITMAP_RELEASE = 125,
  PX_ORD_BITMAP_GET_ROW = 129,
  PX_ORD_BITMAP_END = 141,
  PX_ORD_SEQUENCE_START = 171,
  PX_ORD_CLOSE = 188,
  PX_ORD_OPEN = 189,
  PX_ORD_READ = 190,
  PX_ORD_SEEK = 191,
  PX_ORD_WRITE = 192,
  PX_ORD_BITMAP_PREPARE = 221,
  PX_ORD_ALLOC = 282,
  PX_ORD_FREE = 283,
  PX_ORD_FILE_IDENTITY = 290,  // optional: plug-ins work without it
};

// What tells one version of a file from another: the file (device, inode) and its state (size,
// modification and change times). A rewrite in place or a replacement changes at least one field.
struct PxFileIdentity {
  uint64_t nDevice;
  uint64_t nInode;
  int64_t nSize;
  int64_t nModifiedNs;
  int64_t nChangedNs;
};

// 189: returns a handle >= 0, negative on failure.
typedef int32_t (*PxOpenFn)(const char* pszName, int32_t nFlags, int32_t nPermission);
// 188: 0 on success, -1 on failure.
typedef int32_t (*PxCloseFn)(int32_t hFile);
// 190: bytes read (0 at end of file), negative on failure.
typedef int32_t (*PxReadFn)(int32_t hFile, void* pBuffer, int32_t nCount);
// 191: new position, negative on failure.
typedef int32_t (*PxSeekFn)(int32_t hFile, int32_t nOffset, int32_t nOrigin);
// 192: bytes written (fewer than asked when the disk is full), negative on failure.
typedef int32_t (*PxWriteFn)(int32_t hFile, const void* pBuffer, int32_t nCount);
// 282: zero-filled memory, or null on failure (also for 0 bytes).
typedef void* (*PxAllocFn)(size_t nBytes);
// 283: frees memory from 282; null is ignored.
typedef void (*PxFreeFn)(void* pMemory);
// 100 / 141: begin and end access to a bitmap's rows; 1 on success, negative on failure.
typedef int32_t (*PxBitmapBeginFn)(PxBitmap* pBitmap);
typedef int32_t (*PxBitmapEndFn)(PxBitmap* pBitmap);
// 129: copies row nRow (at most nBytes bytes) into pBuffer; 1 on success, negative on failure.
typedef int32_t (*PxBitmapGetRowFn)(PxBitmap* pBitmap, uint8_t* pBuffer, int32_t nRow, int32_t nBytes);
// 221: prepares a bitmap whose flags carry PX_BITMAP_NEEDS_PREPARE; returns 1.
typedef int32_t (*PxBitmapPrepareFn)(PxBitmap* pBitmap);
// 125: releases a bitmap handed to an encoder (frees owned pixels); 1 on success.
typedef int32_t (*PxBitmapReleaseFn)(PxBitmap* pBitmap);
// 171: called once when an encoder starts a sequence; returns 1 unless a toolkit hook objects.
typedef int32_t (*PxSequenceStartFn)(void);
// 290: identity of the file a name refers to now; 1 on success, negative when there is none.
typedef int32_t (*PxFileIdentityFn)(const char* pszName, PxFileIdentity* pIdentity);

// Exported by libpxkernel.so: the service with this ordinal, or null.
void* PxKernelProcByOrdinal(int32_t nOrdinal);

// Toolkit hook behind ordinal 171 (null: the call is a no-op returning 1). Exported by libpxkernel.
void PxKernelSetSequenceStartHook(PxSequenceStartFn pfnHook);

}  // extern "C"

// The bound imports of one plug-in.
struct PxKernelImports {
  PxOpenFn pfnOpen;                    // 189
  PxCloseFn pfnClose;                  // 188
  PxReadFn pfnRead;                    // 190
  PxSeekFn pfnSeek;                    // 191
  PxWriteFn pfnWrite;                  // 192
  PxAllocFn pfnAlloc;                  // 282
  PxFreeFn pfnFree;                    // 283
  PxBitmapBeginFn pfnBitmapBegin;      // 100
  PxBitmapEndFn pfnBitmapEnd;          // 141
  PxBitmapGetRowFn pfnBitmapGetRow;    // 129
  PxBitmapPrepareFn pfnBitmapPrepare;  // 221
  PxBitmapReleaseFn pfnBitmapRelease;  // 125
  PxSequenceStartFn pfnSequenceStart;  // 171
  PxFileIdentityFn pfnFileIdentity;    // 290, may be null (not part of PxKernelBound)
};

// Implemented by the plug-in (mpegfilter/KernelBinding.cpp), not by libpxkernel.
// The table in use: the substitute when one is set, else the bound kernel services.
const PxKernelImports& PxKernel();
// True when every ordinal was found at load time (or a substitute is set).
bool PxKernelBound();
// Binds all ordinals now (also run by the library constructor); returns PxKernelBound().
bool PxKernelBind();
// Test seam: use pImports instead of the kernel until called again with null. The table is copied.
void PxKernelSetImports(const PxKernelImports* pImports);
// The bound kernel services, regardless of a substitute (a substitute may forward to them).
const PxKernelImports& PxKernelBoundImports();
