// CComboBox: a drop-down (editable) or drop-down list combo box of the control model. Its list follows
// the list-box rules (ItemList); its window text is the edit text of a drop-down box and the selected
// entry's text of a drop-down list. A host reports the user's choice (CBN_SELCHANGE) and typing in the
// edit part (CBN_EDITCHANGE).
#pragma once

#include "platform/ui/ItemList.h"
#include "platform/ui/Wnd.h"

class CComboBox : public CWnd {
 public:
  bool IsDropList() const { return m_nKind == M3_COMBO_DROPLIST; }
  int GetCount() const { return m_items.Count(); }
  int AddString(const std::string& text);
  int InsertString(int index, const std::string& text);
  int DeleteString(UINT index);
  void ResetContent();
  int FindString(int startAfter, const std::string& text) const {
    return m_items.FindPrefix(startAfter, text);
  }
  int FindStringExact(int startAfter, const std::string& text) const {
    return m_items.FindExact(startAfter, text);
  }
  int SelectString(int startAfter, const std::string& text);
  int GetLBText(int index, std::string& text) const;
  int GetLBTextLen(int index) const;
  int GetCurSel() const { return m_items.GetCurSel(); }
  int SetCurSel(int index);
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  void SetHorizontalExtent(int pixels) { m_nExtent = pixels; }
  int GetHorizontalExtent() const { return m_nExtent; }
  void LimitText(int limit) { m_nLimit = limit; }
  const ItemList& Items() const { return m_items; }

  void SetWindowText(const std::string& text) override;
  std::string GetWindowText() const override;

  void UserSelect(int index);
  void UserType(const std::string& text);
  void TakeStateFrom(const CWnd& other) override;

 private:
  ItemList m_items;
  int m_nExtent = 0;
  int m_nLimit = 0;
};
