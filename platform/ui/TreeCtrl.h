// CTreeCtrl: a tree view of the control model with Win32 semantics. Items are opaque handles: a serial
// number, never an address, so the handle of a deleted item stays dead even when a new item takes its
// memory, and a deleted or foreign handle fails instead of crashing. Expansion follows the
// common controls: an expand requested by the program notifies (TVN_ITEMEXPANDED) only the first time,
// until a collapse with TVE_COLLAPSERESET drops the children and that memory; an expand or collapse by
// the user always notifies. The notification is reflected to the control first (OnItemExpanded).
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/ui/ImageList.h"
#include "platform/ui/Wnd.h"

struct TreeItem {
  HTREEITEM handle = nullptr;  // what callers hold; resolved through the control
  std::string text;
  int image = 0;
  int selectedImage = 0;
  UINT state = 0;
  DWORD_PTR data = 0;
  TreeItem* parent = nullptr;
  std::vector<std::unique_ptr<TreeItem>> children;
};

class CTreeCtrl : public CWnd {
 public:
  HTREEITEM InsertItem(const std::string& text, int image, int selectedImage, HTREEITEM parent = TVI_ROOT,
                       HTREEITEM after = TVI_LAST);
  HTREEITEM InsertItem(const std::string& text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST) {
    return InsertItem(text, 0, 0, parent, after);
  }
  BOOL DeleteItem(HTREEITEM item);
  BOOL DeleteAllItems();
  BOOL Expand(HTREEITEM item, UINT code);
  // Selects the item and moves the caret to it (null clears the selection).
  BOOL SelectItem(HTREEITEM item);
  HTREEITEM GetSelectedItem() const { return m_pSelected; }
  HTREEITEM GetRootItem() const;
  HTREEITEM GetParentItem(HTREEITEM item) const;
  HTREEITEM GetChildItem(HTREEITEM item) const;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
  HTREEITEM GetPrevSiblingItem(HTREEITEM item) const;
  BOOL ItemHasChildren(HTREEITEM item) const;
  std::string GetItemText(HTREEITEM item) const;
  BOOL SetItemText(HTREEITEM item, const std::string& text);
  UINT GetItemState(HTREEITEM item, UINT mask) const;
  BOOL GetItemImage(HTREEITEM item, int& image, int& selectedImage) const;
  DWORD_PTR GetItemData(HTREEITEM item) const;
  BOOL SetItemData(HTREEITEM item, DWORD_PTR data);
  UINT GetCount() const { return static_cast<UINT>(m_live.size()); }
  bool IsItem(HTREEITEM item) const { return Find(item) != nullptr; }
  // The item behind a live handle of this control, else null.
  TreeItem* Find(HTREEITEM item) const;
  // Returns the list attached before (not owned: the caller keeps both).
  CImageList* SetImageList(CImageList* list, int kind);
  CImageList* GetImageList(int kind) const { return m_pImageList; }
  const std::vector<std::unique_ptr<TreeItem>>& TopItems() const { return m_top; }

  // Reflected TVN_ITEMEXPANDED; action is TVE_EXPAND or TVE_COLLAPSE. TRUE when handled here.
  virtual BOOL OnItemExpanded(HTREEITEM item, UINT action) { return FALSE; }

  // What a host calls for the user's clicks.
  void UserExpand(HTREEITEM item, bool expand);
  void UserSelect(HTREEITEM item);

 private:
  std::vector<std::unique_ptr<TreeItem>>* ChildList(HTREEITEM parent);
  void Forget(TreeItem* item);
  void Collapse(TreeItem* item, bool reset);
  void SendExpanded(HTREEITEM item, UINT action);

  std::vector<std::unique_ptr<TreeItem>> m_top;
  std::unordered_map<HTREEITEM, TreeItem*> m_live;
  HTREEITEM m_pSelected = nullptr;
  CImageList* m_pImageList = nullptr;
};
