#include "platform/ui/ListBox.h"

int CListBox::AddString(const std::string& text) {
  m_items.SetSorted((m_nStyle & M3_SORT) != 0);
  const int i = m_items.Add(text);
  Changed();
  return i;
}

int CListBox::InsertString(int index, const std::string& text) {
  const int i = m_items.Insert(index, text);
  if (i != LB_ERR) Changed();
  return i;
}

int CListBox::DeleteString(UINT index) {
  const int n = m_items.Delete(static_cast<int>(index));
  if (n != LB_ERR) Changed();
  return n;
}

void CListBox::ResetContent() {
  m_items.Reset();
  Changed();
}

int CListBox::SelectString(int startAfter, const std::string& text) {
  const int i = m_items.FindPrefix(startAfter, text);
  if (i == LB_ERR) return LB_ERR;
  return SetCurSel(i);
}

int CListBox::GetText(int index, std::string& text) const {
  if (!m_items.Valid(index)) return LB_ERR;
  text = m_items.At(index).text;
  return static_cast<int>(text.size());
}

int CListBox::GetTextLen(int index) const {
  return m_items.Valid(index) ? static_cast<int>(m_items.At(index).text.size()) : LB_ERR;
}

int CListBox::SetCurSel(int index) {
  const int i = m_items.SetCurSel(index);
  Changed();
  return i;
}

DWORD_PTR CListBox::GetItemData(int index) const {
  return m_items.Valid(index) ? m_items.At(index).data : static_cast<DWORD_PTR>(LB_ERR);
}

int CListBox::SetItemData(int index, DWORD_PTR data) {
  return m_items.SetData(index, data);
}

void CListBox::SetHorizontalExtent(int pixels) {
  m_nExtent = pixels;
  Changed();
}

void CListBox::UserSelect(int index) {
  m_items.SetCurSel(index);
  Changed();
  Notify(LBN_SELCHANGE);
}

void CListBox::UserDoubleClick(int index) {
  if (m_items.GetCurSel() != index) UserSelect(index);
  Notify(LBN_DBLCLK);
}

void CListBox::TakeStateFrom(const CWnd& other) {
  CWnd::TakeStateFrom(other);
  m_items.SetSorted((m_nStyle & M3_SORT) != 0);
  if (auto* l = dynamic_cast<const CListBox*>(&other)) {
    m_items = l->m_items;
    m_nExtent = l->m_nExtent;
  }
}
