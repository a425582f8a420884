// DirTreeCtrl: the folder tree of the directory browse dialog, filled lazily from the file system.
// Top items are this system's drives: "/" and the mounted volumes (their mount points); a folder that
// has something to show gets one empty placeholder child so the tree offers to expand it, and every
// expand reads the folder again. Full paths join item texts with "/" (the root's text is "/" itself),
// so the root's path is "/" and any other has no final "/". Errors go into the error text.
#pragma once

#include <string>

#include "platform/ui/TreeCtrl.h"

class DirTreeCtrl : public CTreeCtrl {
 public:
  enum class Content { kFolders, kFoldersAndFiles };

  // Empty root: all drives. Returns false (with the error text) when the image list or the drive list
  // cannot be had.
  bool Initialize(const std::string& rootPath, Content content);
  bool SelectPath(const std::string& path);
  std::string GetFullPath(HTREEITEM item) const;
  const std::string& GetErrorText() const { return m_strError; }

  BOOL OnItemExpanded(HTREEITEM item, UINT action) override;

 private:
  bool DisplayDrives();
  HTREEITEM AddItem(HTREEITEM parent, const std::string& path);
  bool FindSubDir(const std::string& path) const;
  void DisplayPath(HTREEITEM parent, const std::string& path);
  HTREEITEM SearchChild(HTREEITEM parent, const std::string& upperName) const;

  std::string m_strError;
  std::string m_strRoot;
  bool m_bFiles = false;
  CImageList* m_pImages = nullptr;
};
