#include "platform/ui/Edit.h"

#include <algorithm>
#include <cctype>

#include "platform/ui/Utf8Text.h"

std::string CEdit::UserType(const std::string& text) {
  std::string kept;
  for (char c : text) {
    if ((m_nStyle & M3_NUMBER) != 0 && !std::isdigit(static_cast<unsigned char>(c))) continue;
    if ((m_nStyle & M3_MULTILINE) == 0 && (c == '\n' || c == '\r')) continue;
    kept.push_back(c);
  }
  // The limit counts characters; a UTF-8 sequence is never cut in half.
  kept = platform::ui::Utf8Left(kept, m_nLimit);
  SetWindowText(kept);
  // Typing leaves the caret at the end of what was typed.
  m_nSelStart = m_nSelEnd = platform::ui::Utf8Length(kept);
  Notify(EN_CHANGE);
  return kept;
}

void CEdit::TakeStateFrom(const CWnd& other) {
  CWnd::TakeStateFrom(other);
  if (auto* e = dynamic_cast<const CEdit*>(&other)) {
    m_nLimit = e->m_nLimit;
    m_nSelStart = e->m_nSelStart;
    m_nSelEnd = e->m_nSelEnd;
  }
}

void CEdit::SetWindowText(const std::string& text) {
  m_nSelStart = m_nSelEnd = 0;
  CWnd::SetWindowText(text);
}

void CEdit::SetSel(int start, int end) {
  const int length = platform::ui::Utf8Length(m_strText);
  if (start < 0) {
    // No selection: the caret stays where the selection ended.
    m_nSelStart = m_nSelEnd;
    return;
  }
  if (end < 0 || end > length) end = length;
  start = std::min(start, length);
  m_nSelStart = std::min(start, end);
  m_nSelEnd = std::max(start, end);
}

void CEdit::GetSel(int& start, int& end) const {
  start = m_nSelStart;
  end = m_nSelEnd;
}

void CEdit::ReplaceSel(const std::string& text) {
  const std::size_t from = platform::ui::Utf8Offset(m_strText, m_nSelStart);
  const std::size_t to = platform::ui::Utf8Offset(m_strText, m_nSelEnd);
  const std::string replaced = m_strText.substr(0, from) + text + m_strText.substr(to);
  const int caret = m_nSelStart + platform::ui::Utf8Length(text);
  CWnd::SetWindowText(replaced);
  m_nSelStart = m_nSelEnd = caret;
}
