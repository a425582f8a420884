#include "platform/ui/ImageList.h"

#include <sys/stat.h>

CImageList* CImageList::System() {
  static CImageList list;
  return &list;
}

bool ShellSmallIcon(const std::string& path, bool open, int& index) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    if (path == "/")
      index = CImageList::kDrive;
    else
      index = open ? CImageList::kFolderOpen : CImageList::kFolder;
  } else {
    index = CImageList::kFile;
  }
  return true;
}
