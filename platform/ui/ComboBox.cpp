#include "platform/ui/ComboBox.h"

#include "platform/ui/Utf8Text.h"

int CComboBox::AddString(const std::string& text) {
  m_items.SetSorted((m_nStyle & M3_SORT) != 0);
  const int i = m_items.Add(text);
  Changed();
  return i;
}

int CComboBox::InsertString(int index, const std::string& text) {
  const int i = m_items.Insert(index, text);
  if (i != CB_ERR) Changed();
  return i;
}

int CComboBox::DeleteString(UINT index) {
  const int n = m_items.Delete(static_cast<int>(index));
  if (n != CB_ERR) Changed();
  return n;
}

void CComboBox::ResetContent() {
  m_items.Reset();
  m_strText.clear();
  Changed();
}

int CComboBox::SelectString(int startAfter, const std::string& text) {
  const int i = m_items.FindPrefix(startAfter, text);
  if (i == CB_ERR) return CB_ERR;
  return SetCurSel(i);
}

int CComboBox::GetLBText(int index, std::string& text) const {
  if (!m_items.Valid(index)) return CB_ERR;
  text = m_items.At(index).text;
  return static_cast<int>(text.size());
}

int CComboBox::GetLBTextLen(int index) const {
  return m_items.Valid(index) ? static_cast<int>(m_items.At(index).text.size()) : CB_ERR;
}

int CComboBox::SetCurSel(int index) {
  const int i = m_items.SetCurSel(index);
  // The edit part shows the selected entry, and is cleared with the selection.
  m_strText = i == CB_ERR ? std::string() : m_items.At(i).text;
  Changed();
  return i;
}

DWORD_PTR CComboBox::GetItemData(int index) const {
  return m_items.Valid(index) ? m_items.At(index).data : static_cast<DWORD_PTR>(CB_ERR);
}

int CComboBox::SetItemData(int index, DWORD_PTR data) {
  return m_items.SetData(index, data);
}

void CComboBox::SetWindowText(const std::string& text) {
  // A drop-down list has no edit part: its text is always the selected entry's.
  if (IsDropList()) return;
  CWnd::SetWindowText(text);
}

std::string CComboBox::GetWindowText() const {
  if (IsDropList()) {
    const int i = m_items.GetCurSel();
    return i == CB_ERR ? std::string() : m_items.At(i).text;
  }
  return m_strText;
}

void CComboBox::UserSelect(int index) {
  SetCurSel(index);
  Notify(CBN_SELCHANGE);
}

void CComboBox::UserType(const std::string& text) {
  if (IsDropList()) return;
  // The limit counts characters; a UTF-8 sequence is never cut in half.
  const std::string kept = m_nLimit > 0 ? platform::ui::Utf8Left(text, m_nLimit) : text;
  m_items.SetCurSel(-1);
  CWnd::SetWindowText(kept);
  Notify(CBN_EDITCHANGE);
}

void CComboBox::TakeStateFrom(const CWnd& other) {
  CWnd::TakeStateFrom(other);
  m_items.SetSorted((m_nStyle & M3_SORT) != 0);
  if (auto* c = dynamic_cast<const CComboBox*>(&other)) {
    m_items = c->m_items;
    m_nExtent = c->m_nExtent;
    m_nLimit = c->m_nLimit;
  }
}
