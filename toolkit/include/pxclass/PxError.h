// The toolkit's result codes: 1 is success, negative values are errors. Shared by the class library
// and the run-time libraries (it crosses the C interface as a plain int). PxErrorText names each.
#pragma once

enum PxError : int {
  PX_OK = 1,
  PX_ERR_NO_LIBRARY = -1,   // the library that does this work is not loaded
  PX_ERR_NO_MEMORY = -2,    // an allocation failed or a page is larger than the limits allow
  PX_ERR_OPEN = -3,         // the file does not open
  PX_ERR_READ = -4,         // reading failed or the file ends early
  PX_ERR_WRITE = -5,        // writing failed (disk full, no permission)
  PX_ERR_FORMAT = -6,       // data of no known format
  PX_ERR_CORRUPT = -7,      // the data is damaged or inconsistent
  PX_ERR_TOO_LARGE = -8,    // declared sizes beyond the limits (PxLimits.h)
  PX_ERR_UNSUPPORTED = -9,  // a known format in a variant the toolkit does not handle
  PX_ERR_PAGE = -10,        // no such page in the file
  PX_ERR_NO_BITMAP = -11,   // no bitmap attached, or the bitmap holds no page
  PX_ERR_PARAMETER = -12,   // an argument out of range (size, type, depth, quality)
  PX_ERR_TYPE = -13,        // unknown file type code
  PX_ERR_APPEND = -14,      // the existing file cannot take another page (not ours, damaged)
  PX_ERR_CANCELLED = -29,   // the user or a callback stopped the operation
  PX_ERR_INTERNAL = -30,    // an unexpected failure inside a library
};

inline const char* PxErrorText(int code) {
  switch (code) {
    case PX_OK:
      return "success";
    case PX_ERR_NO_LIBRARY:
      return "library not loaded";
    case PX_ERR_NO_MEMORY:
      return "out of memory";
    case PX_ERR_OPEN:
      return "file does not open";
    case PX_ERR_READ:
      return "read failed or file truncated";
    case PX_ERR_WRITE:
      return "write failed";
    case PX_ERR_FORMAT:
      return "unknown file format";
    case PX_ERR_CORRUPT:
      return "corrupt data";
    case PX_ERR_TOO_LARGE:
      return "declared size beyond limits";
    case PX_ERR_UNSUPPORTED:
      return "unsupported format variant";
    case PX_ERR_PAGE:
      return "no such page";
    case PX_ERR_NO_BITMAP:
      return "no page in the bitmap";
    case PX_ERR_PARAMETER:
      return "argument out of range";
    case PX_ERR_TYPE:
      return "unknown file type";
    case PX_ERR_APPEND:
      return "cannot append to this file";
    case PX_ERR_CANCELLED:
      return "cancelled";
    case PX_ERR_INTERNAL:
      return "internal error";
    default:
      return code >= 1 ? "success" : "error";
  }
}
