// CListBox: a single-selection list box of the control model with the Win32 operations the system's
// dialogs use (add, insert, delete, find by prefix or whole text ignoring case, select by prefix, item
// data, horizontal extent). A host reports the user's selection and double-click, which send
// LBN_SELCHANGE and LBN_DBLCLK to the dialog.
#pragma once

#include "platform/ui/ItemList.h"
#include "platform/ui/Wnd.h"

class CListBox : public CWnd {
 public:
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
  // Selects the first entry beginning with the text (ignoring case); the selection stays when none does.
  int SelectString(int startAfter, const std::string& text);
  int GetText(int index, std::string& text) const;
  int GetTextLen(int index) const;
  int GetCurSel() const { return m_items.GetCurSel(); }
  int SetCurSel(int index);
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  void SetHorizontalExtent(int pixels);
  int GetHorizontalExtent() const { return m_nExtent; }
  const ItemList& Items() const { return m_items; }

  void UserSelect(int index);
  void UserDoubleClick(int index);
  void TakeStateFrom(const CWnd& other) override;

 private:
  ItemList m_items;
  int m_nExtent = 0;
};
