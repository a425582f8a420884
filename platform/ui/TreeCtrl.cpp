#include "platform/ui/TreeCtrl.h"

#include <algorithm>

#include "platform/ui/Dialog.h"

std::vector<std::unique_ptr<TreeItem>>* CTreeCtrl::ChildList(HTREEITEM parent) {
  if (parent == TVI_ROOT || parent == nullptr) return &m_top;
  if (!IsItem(parent)) return nullptr;
  return &parent->children;
}

HTREEITEM CTreeCtrl::InsertItem(const std::string& text, int image, int selectedImage, HTREEITEM parent,
                                HTREEITEM after) {
  auto* list = ChildList(parent);
  if (list == nullptr) return nullptr;
  auto item = std::make_unique<TreeItem>();
  item->text = text;
  item->image = image;
  item->selectedImage = selectedImage;
  item->parent = (parent == TVI_ROOT || parent == nullptr) ? nullptr : parent;
  auto pos = list->end();
  if (after == TVI_FIRST) {
    pos = list->begin();
  } else if (after == TVI_SORT) {
    pos = std::find_if(list->begin(), list->end(), [&](const auto& c) { return c->text > text; });
  } else if (after != TVI_LAST) {
    auto it = std::find_if(list->begin(), list->end(), [&](const auto& c) { return c.get() == after; });
    if (it != list->end()) pos = it + 1;
  }
  TreeItem* raw = item.get();
  list->insert(pos, std::move(item));
  m_live.insert(raw);
  Changed();
  return raw;
}

void CTreeCtrl::Forget(TreeItem* item) {
  for (auto& c : item->children) Forget(c.get());
  m_live.erase(item);
  if (m_pSelected == item) m_pSelected = nullptr;
}

BOOL CTreeCtrl::DeleteItem(HTREEITEM item) {
  if (item == TVI_ROOT) return DeleteAllItems();
  if (!IsItem(item)) return FALSE;
  auto* list = item->parent != nullptr ? &item->parent->children : &m_top;
  Forget(item);
  list->erase(std::find_if(list->begin(), list->end(), [&](const auto& c) { return c.get() == item; }));
  Changed();
  return TRUE;
}

BOOL CTreeCtrl::DeleteAllItems() {
  m_top.clear();
  m_live.clear();
  m_pSelected = nullptr;
  Changed();
  return TRUE;
}

void CTreeCtrl::Collapse(TreeItem* item, bool reset) {
  item->state &= ~TVIS_EXPANDED;
  // A selection inside the collapsed branch moves to the branch, as the common control does.
  for (TreeItem* p = m_pSelected; p != nullptr; p = p->parent) {
    if (p->parent == item) {
      m_pSelected = item;
      break;
    }
  }
  if (reset) {
    for (auto& c : item->children) Forget(c.get());
    item->children.clear();
    item->state &= ~TVIS_EXPANDEDONCE;
  }
}

void CTreeCtrl::SendExpanded(HTREEITEM item, UINT action) {
  if (!OnItemExpanded(item, action)) Notify(TVN_ITEMEXPANDED);
}

BOOL CTreeCtrl::Expand(HTREEITEM item, UINT code) {
  if (!IsItem(item)) return FALSE;
  UINT action = code & 0x3;
  if (action == TVE_TOGGLE) action = (item->state & TVIS_EXPANDED) != 0 ? TVE_COLLAPSE : TVE_EXPAND;
  if (action == TVE_COLLAPSE) {
    Collapse(item, (code & TVE_COLLAPSERESET) != 0);
    Changed();
    return TRUE;
  }
  if (action != TVE_EXPAND || item->children.empty()) return FALSE;
  const bool notify = (item->state & TVIS_EXPANDEDONCE) == 0;
  item->state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
  Changed();
  if (notify) SendExpanded(item, TVE_EXPAND);
  return TRUE;
}

BOOL CTreeCtrl::SelectItem(HTREEITEM item) {
  if (item != nullptr && !IsItem(item)) return FALSE;
  // Selecting shows the item: its parents open, as TVGN_CARET does.
  if (item != nullptr)
    for (TreeItem* p = item->parent; p != nullptr; p = p->parent) p->state |= TVIS_EXPANDED;
  const bool changed = m_pSelected != item;
  m_pSelected = item;
  Changed();
  if (changed) Notify(TVN_SELCHANGED);
  return TRUE;
}

HTREEITEM CTreeCtrl::GetRootItem() const {
  return m_top.empty() ? nullptr : m_top.front().get();
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
  return IsItem(item) ? item->parent : nullptr;
}

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
  if (item == TVI_ROOT || item == nullptr) return GetRootItem();
  if (!IsItem(item) || item->children.empty()) return nullptr;
  return item->children.front().get();
}

HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
  if (!IsItem(item)) return nullptr;
  const auto& list = item->parent != nullptr ? item->parent->children : m_top;
  for (std::size_t i = 0; i + 1 < list.size(); ++i)
    if (list[i].get() == item) return list[i + 1].get();
  return nullptr;
}

HTREEITEM CTreeCtrl::GetPrevSiblingItem(HTREEITEM item) const {
  if (!IsItem(item)) return nullptr;
  const auto& list = item->parent != nullptr ? item->parent->children : m_top;
  for (std::size_t i = 1; i < list.size(); ++i)
    if (list[i].get() == item) return list[i - 1].get();
  return nullptr;
}

BOOL CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
  return IsItem(item) && !item->children.empty();
}

std::string CTreeCtrl::GetItemText(HTREEITEM item) const {
  return IsItem(item) ? item->text : std::string();
}

BOOL CTreeCtrl::SetItemText(HTREEITEM item, const std::string& text) {
  if (!IsItem(item)) return FALSE;
  item->text = text;
  Changed();
  return TRUE;
}

UINT CTreeCtrl::GetItemState(HTREEITEM item, UINT mask) const {
  if (!IsItem(item)) return 0;
  UINT state = item->state;
  if (item == m_pSelected) state |= TVIS_SELECTED;
  return state & mask;
}

BOOL CTreeCtrl::GetItemImage(HTREEITEM item, int& image, int& selectedImage) const {
  if (!IsItem(item)) return FALSE;
  image = item->image;
  selectedImage = item->selectedImage;
  return TRUE;
}

DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM item) const {
  return IsItem(item) ? item->data : 0;
}

BOOL CTreeCtrl::SetItemData(HTREEITEM item, DWORD_PTR data) {
  if (!IsItem(item)) return FALSE;
  item->data = data;
  return TRUE;
}

CImageList* CTreeCtrl::SetImageList(CImageList* list, int kind) {
  CImageList* old = m_pImageList;
  m_pImageList = list;
  Changed();
  return old;
}

void CTreeCtrl::UserExpand(HTREEITEM item, bool expand) {
  if (!IsItem(item)) return;
  if (expand) {
    if (item->children.empty()) return;
    item->state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    Changed();
    SendExpanded(item, TVE_EXPAND);
  } else {
    Collapse(item, false);
    Changed();
    SendExpanded(item, TVE_COLLAPSE);
  }
}

void CTreeCtrl::UserSelect(HTREEITEM item) {
  SelectItem(item);
}
