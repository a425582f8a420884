// CImageList and the system's small-icon image list. On this system the shell's image list is a fixed
// set of stock icons (file, closed folder, open folder, drive) that a host draws from its style;
// ShellSmallIcon answers the question a Win32 program asks SHGetFileInfo: which icon of that list
// shows a path, closed or open. A path that does not exist has no icon.
#pragma once

#include <string>

#include "platform/ui/UiTypes.h"

class CImageList {
 public:
  enum StockIcon : int { kFile = 0, kFolder = 1, kFolderOpen = 2, kDrive = 3, kStockCount = 4 };

  int GetImageCount() const { return m_nCount; }
  // The process-wide list of small system icons; never destroyed.
  static CImageList* System();

 private:
  int m_nCount = kStockCount;
};

// Index of the path's small icon in CImageList::System(), the open variant for folders when asked;
// false when the path cannot be examined.
bool ShellSmallIcon(const std::string& path, bool open, int& index);
