#include "platform/ui/TreeCtrl.h"

#include <algorithm>
#include <atomic>

#include "platform/ui/Dialog.h"

namespace {

// Handles count up across the process, so a handle of one tree is foreign to every other tree and
// no handle is ever given out twice. Multiples of 8 stay clear of null and the TVI_ values.
HTREEITEM NewHandle() {
  static std::atomic<std::uintptr_t> serial{0};
  return reinterpret_cast<HTREEITEM>((serial.fetch_add(1) + 1) * 8);
}

}  // namespace

TreeItem* CTreeCtrl::Find(HTREEITEM item) const {
  if (item == nullptr) return nullptr;
  auto it = m_live.find(item);
  return it == m_live.end() ? nullptr : it->second;
}

std::vector<std::unique_ptr<TreeItem>>* CTreeCtrl::ChildList(HTREEITEM parent) {
  if (parent == TVI_ROOT || parent == nullptr) return &m_top;
  TreeItem* p = Find(parent);
  return p != nullptr ? &p->children : nullptr;
}

HTREEITEM CTreeCtrl::InsertItem(const std::string& text, int image, int selectedImage, HTREEITEM parent,
                                HTREEITEM after) {
  auto* list = ChildList(parent);
  if (list == nullptr) return nullptr;
  auto item = std::make_unique<TreeItem>();
  item->handle = NewHandle();
  item->text = text;
  item->image = image;
  item->selectedImage = selectedImage;
  item->parent = (parent == TVI_ROOT || parent == nullptr) ? nullptr : Find(parent);
  auto pos = list->end();
  if (after == TVI_FIRST) {
    pos = list->begin();
  } else if (after == TVI_SORT) {
    pos = std::find_if(list->begin(), list->end(), [&](const auto& c) { return c->text > text; });
  } else if (after != TVI_LAST) {
    auto it = std::find_if(list->begin(), list->end(), [&](const auto& c) { return c->handle == after; });
    if (it != list->end()) pos = it + 1;
  }
  const HTREEITEM handle = item->handle;
  m_live.emplace(handle, item.get());
  list->insert(pos, std::move(item));
  Changed();
  return handle;
}

void CTreeCtrl::Forget(TreeItem* item) {
  for (auto& c : item->children) Forget(c.get());
  m_live.erase(item->handle);
  if (m_pSelected == item->handle) m_pSelected = nullptr;
}

BOOL CTreeCtrl::DeleteItem(HTREEITEM handle) {
  if (handle == TVI_ROOT) return DeleteAllItems();
  TreeItem* item = Find(handle);
  if (item == nullptr) return FALSE;
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
  for (TreeItem* p = Find(m_pSelected); p != nullptr; p = p->parent) {
    if (p->parent == item) {
      m_pSelected = item->handle;
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

BOOL CTreeCtrl::Expand(HTREEITEM handle, UINT code) {
  TreeItem* item = Find(handle);
  if (item == nullptr) return FALSE;
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
  if (notify) SendExpanded(handle, TVE_EXPAND);
  return TRUE;
}

BOOL CTreeCtrl::SelectItem(HTREEITEM handle) {
  TreeItem* item = Find(handle);
  if (handle != nullptr && item == nullptr) return FALSE;
  // Selecting shows the item: its parents open, as TVGN_CARET does.
  if (item != nullptr)
    for (TreeItem* p = item->parent; p != nullptr; p = p->parent) p->state |= TVIS_EXPANDED;
  const bool changed = m_pSelected != handle;
  m_pSelected = handle;
  Changed();
  if (changed) Notify(TVN_SELCHANGED);
  return TRUE;
}

HTREEITEM CTreeCtrl::GetRootItem() const {
  return m_top.empty() ? nullptr : m_top.front()->handle;
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM handle) const {
  TreeItem* item = Find(handle);
  return item != nullptr && item->parent != nullptr ? item->parent->handle : nullptr;
}

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM handle) const {
  if (handle == TVI_ROOT || handle == nullptr) return GetRootItem();
  TreeItem* item = Find(handle);
  if (item == nullptr || item->children.empty()) return nullptr;
  return item->children.front()->handle;
}

HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM handle) const {
  TreeItem* item = Find(handle);
  if (item == nullptr) return nullptr;
  const auto& list = item->parent != nullptr ? item->parent->children : m_top;
  for (std::size_t i = 0; i + 1 < list.size(); ++i)
    if (list[i].get() == item) return list[i + 1]->handle;
  return nullptr;
}

HTREEITEM CTreeCtrl::GetPrevSiblingItem(HTREEITEM handle) const {
  TreeItem* item = Find(handle);
  if (item == nullptr) return nullptr;
  const auto& list = item->parent != nullptr ? item->parent->children : m_top;
  for (std::size_t i = 1; i < list.size(); ++i)
    if (list[i].get() == item) return list[i - 1]->handle;
  return nullptr;
}

BOOL CTreeCtrl::ItemHasChildren(HTREEITEM handle) const {
  TreeItem* item = Find(handle);
  return item != nullptr && !item->children.empty();
}

std::string CTreeCtrl::GetItemText(HTREEITEM handle) const {
  TreeItem* item = Find(handle);
  return item != nullptr ? item->text : std::string();
}

BOOL CTreeCtrl::SetItemText(HTREEITEM handle, const std::string& text) {
  TreeItem* item = Find(handle);
  if (item == nullptr) return FALSE;
  item->text = text;
  Changed();
  return TRUE;
}

UINT CTreeCtrl::GetItemState(HTREEITEM handle, UINT mask) const {
  TreeItem* item = Find(handle);
  if (item == nullptr) return 0;
  UINT state = item->state;
  if (handle == m_pSelected) state |= TVIS_SELECTED;
  return state & mask;
}

BOOL CTreeCtrl::GetItemImage(HTREEITEM handle, int& image, int& selectedImage) const {
  TreeItem* item = Find(handle);
  if (item == nullptr) return FALSE;
  image = item->image;
  selectedImage = item->selectedImage;
  return TRUE;
}

DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM handle) const {
  TreeItem* item = Find(handle);
  return item != nullptr ? item->data : 0;
}

BOOL CTreeCtrl::SetItemData(HTREEITEM handle, DWORD_PTR data) {
  TreeItem* item = Find(handle);
  if (item == nullptr) return FALSE;
  item->data = data;
  return TRUE;
}

CImageList* CTreeCtrl::SetImageList(CImageList* list, int kind) {
  CImageList* old = m_pImageList;
  m_pImageList = list;
  Changed();
  return old;
}

void CTreeCtrl::UserExpand(HTREEITEM handle, bool expand) {
  TreeItem* item = Find(handle);
  if (item == nullptr) return;
  if (expand) {
    if (item->children.empty()) return;
    item->state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    Changed();
    SendExpanded(handle, TVE_EXPAND);
  } else {
    Collapse(item, false);
    Changed();
    SendExpanded(handle, TVE_COLLAPSE);
  }
}

void CTreeCtrl::UserSelect(HTREEITEM item) {
  SelectItem(item);
}
