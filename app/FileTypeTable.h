// The output file types in their fixed order: toolkit type code, the resource string of its extension
// (without the dot) and the resource string of its description. Every search and every list walks the
// table in this order, so an extension shared by two codes (3 and 17) maps back to the earlier one.
// The codes and what they mean are pxclass/PxFileTypes.h. Callers: the file-type services of
// ValueGetter (app/FileTypes.cpp, app/FileDialogs.cpp).
#pragma once

#include <iterator>

#include "platform/base/WinTypes.h"
#include "pxclass/PxFileTypes.h"

struct FileTypeEntry {
  int nType;
  UINT nExtString;
  UINT nDescString;
};

inline constexpr FileTypeEntry kFileTypeTable[] = {
    {PX_TYPE_JPEG, 4, 18},         // jpg, "JPEG image"
    {PX_TYPE_TIFF_PACKED, 3, 29},  // tif, "TIFF image, compressed"
    {PX_TYPE_TIFF, 3, 17},         // tif, "TIFF image, uncompressed"
    {PX_TYPE_BMP, 2, 16},          // bmp
    {PX_TYPE_GIF, 5, 19},          // gif
    {PX_TYPE_PDF, 13, 27},         // pdf
    {PX_TYPE_PNG, 8, 22},          // png
};

inline const FileTypeEntry* FindFileType(int type) {
  for (const FileTypeEntry& entry : kFileTypeTable)
    if (entry.nType == type) return &entry;
  return nullptr;
}
