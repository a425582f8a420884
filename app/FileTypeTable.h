// The output file types in their fixed order: toolkit type code, the resource string of its extension
// (without the dot) and the resource string of its description. Every search and every list walks the
// table in this order, so an extension shared by two codes (3 and 17) maps back to the earlier one.
// Callers: the file-type services of ValueGetter (app/FileTypes.cpp, app/FileDialogs.cpp).
#pragma once

#include <iterator>

#include "platform/base/WinTypes.h"

struct FileTypeEntry {
  int nType;
  UINT nExtString;
  UINT nDescString;
};

inline constexpr FileTypeEntry kFileTypeTable[] = {
    {10, 4, 18},    // JPEG
    {17, 3, 29},    // TIFF, compressed
    {3, 3, 17},     // TIFF, uncompressed
    {6, 2, 16},     // BMP
    {2, 5, 19},     // GIF
    {146, 13, 27},  // PDF
    {75, 8, 22},    // PNG
};

// The type whose entry the save and open dialogs leave out unless asked to offer it.
inline constexpr int kFileTypePdf = 146;

inline const FileTypeEntry* FindFileType(int type) {
  for (const FileTypeEntry& entry : kFileTypeTable)
    if (entry.nType == type) return &entry;
  return nullptr;
}
