#include "platform/ui/Edit.h"

#include <cctype>

std::string CEdit::UserType(const std::string& text) {
  std::string kept;
  for (char c : text) {
    if ((m_nStyle & M3_NUMBER) != 0 && !std::isdigit(static_cast<unsigned char>(c))) continue;
    if ((m_nStyle & M3_MULTILINE) == 0 && (c == '\n' || c == '\r')) continue;
    kept.push_back(c);
  }
  // The limit counts characters; a UTF-8 sequence is never cut in half.
  std::size_t pos = 0;
  int chars = 0;
  while (pos < kept.size() && chars < m_nLimit) {
    ++pos;
    while (pos < kept.size() && (static_cast<unsigned char>(kept[pos]) & 0xC0) == 0x80) ++pos;
    ++chars;
  }
  kept.resize(pos);
  SetWindowText(kept);
  Notify(EN_CHANGE);
  return kept;
}

void CEdit::TakeStateFrom(const CWnd& other) {
  CWnd::TakeStateFrom(other);
  if (auto* e = dynamic_cast<const CEdit*>(&other)) m_nLimit = e->m_nLimit;
}
