// Result codes of the pxmpeg entry points (the imaging toolkit's codes: 1 success, negative errors)
// and their texts. Shared by the decoder and the encoder; PxResultText never returns null.
#pragma once

#include <cstdint>

enum PxResult : int32_t {
  PXM_OK = 1,
  PXM_END_OF_STREAM = 0,  // the stream ended before the page (also: no sequence header)
  PXM_ERR_NO_MEMORY = -1,
  PXM_ERR_WRITE = -5,     // the kernel wrote fewer bytes than asked (disk full)
  PXM_ERR_BAD_DATA = -9,  // not a usable MPEG video stream
  PXM_ERR_NO_FILE_NAME = -13,
  PXM_ERR_OPEN = -14,           // the kernel could not open the file (read or write)
  PXM_ERR_NOT_SUPPORTED = -16,  // saving through the filter interface
  PXM_ERR_BAD_DEPTH = -27,
  PXM_ERR_KERNEL_MISSING = -28,  // a kernel service ordinal could not be bound
  PXM_ERR_READ = -4,             // the kernel read failed
  PXM_ERR_SEEK = -6,             // the kernel could not rewind the handle (a pipe: ESPIPE)
};

inline const char* PxResultText(int32_t n) {
  switch (n) {
    case PXM_OK:
      return "success";
    case PXM_END_OF_STREAM:
      return "stream ended before the requested picture";
    case PXM_ERR_NO_MEMORY:
      return "out of memory, or the picture needs more than the memory limit";
    case PXM_ERR_WRITE:
      return "write failed";
    case PXM_ERR_BAD_DATA:
      return "not a usable MPEG video stream";
    case PXM_ERR_NO_FILE_NAME:
      return "no file name";
    case PXM_ERR_OPEN:
      return "cannot open the file";
    case PXM_ERR_NOT_SUPPORTED:
      return "not supported";
    case PXM_ERR_BAD_DEPTH:
      return "unsupported bits per pixel";
    case PXM_ERR_KERNEL_MISSING:
      return "toolkit kernel service missing";
    case PXM_ERR_READ:
      return "read failed";
    case PXM_ERR_SEEK:
      return "cannot rewind the stream (illegal seek: a pipe or FIFO); read it from a regular file";
    default:
      return "error";
  }
}
