#include "platform/ui/ItemList.h"

#include <algorithm>
#include <cctype>

int ItemList::CompareNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool ItemList::StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (prefix.size() > text.size()) return false;
  return CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

int ItemList::Add(const std::string& text) {
  if (!m_bSorted) return Insert(-1, text);
  // After the entries that sort equal, so equal texts keep their order of arrival.
  auto pos =
      std::upper_bound(m_entries.begin(), m_entries.end(), text,
                       [](const std::string& t, const Entry& e) { return CompareNoCase(t, e.text) < 0; });
  return Insert(static_cast<int>(pos - m_entries.begin()), text);
}

int ItemList::Insert(int index, const std::string& text) {
  if (index == -1) index = Count();
  if (index < 0 || index > Count()) return LB_ERR;
  m_entries.insert(m_entries.begin() + index, Entry{text, 0});
  if (m_nCurSel >= index) ++m_nCurSel;
  return index;
}

int ItemList::Delete(int index) {
  if (!Valid(index)) return LB_ERR;
  m_entries.erase(m_entries.begin() + index);
  if (m_nCurSel == index)
    m_nCurSel = -1;
  else if (m_nCurSel > index)
    --m_nCurSel;
  return Count();
}

void ItemList::Reset() {
  m_entries.clear();
  m_nCurSel = -1;
}

template <class Match>
int ItemList::Find(int startAfter, Match match) const {
  const int n = Count();
  if (n == 0) return LB_ERR;
  const int first = (startAfter < 0 || startAfter >= n) ? 0 : startAfter + 1;
  for (int k = 0; k < n; ++k) {
    const int i = (first + k) % n;
    if (match(m_entries[static_cast<std::size_t>(i)].text)) return i;
  }
  return LB_ERR;
}

int ItemList::FindPrefix(int startAfter, const std::string& text) const {
  return Find(startAfter, [&](const std::string& t) { return StartsWithNoCase(t, text); });
}

int ItemList::FindExact(int startAfter, const std::string& text) const {
  return Find(startAfter, [&](const std::string& t) { return CompareNoCase(t, text) == 0; });
}

int ItemList::SetData(int index, DWORD_PTR data) {
  if (!Valid(index)) return LB_ERR;
  m_entries[static_cast<std::size_t>(index)].data = data;
  return 0;
}

int ItemList::SetCurSel(int index) {
  if (!Valid(index)) {
    m_nCurSel = -1;
    return LB_ERR;
  }
  m_nCurSel = index;
  return index;
}
