// ItemList: the entries of a list box or of a combo box's list, with the Win32 rules shared by both:
// sorted insertion when the control sorts, prefix search ignoring case (FindString), whole-text search
// ignoring case (FindStringExact), both starting after a given index and wrapping around, item data per
// entry and one current selection that follows insertions and deletions.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/UiTypes.h"

class ItemList {
 public:
  struct Entry {
    std::string text;
    DWORD_PTR data = 0;
  };

  void SetSorted(bool sorted) { m_bSorted = sorted; }
  int Count() const { return static_cast<int>(m_entries.size()); }
  // Each returns the new entry's index, or LB_ERR.
  int Add(const std::string& text);
  int Insert(int index, const std::string& text);
  // Returns the count left, or LB_ERR for an index out of range.
  int Delete(int index);
  void Reset();

  int FindPrefix(int startAfter, const std::string& text) const;
  int FindExact(int startAfter, const std::string& text) const;

  bool Valid(int index) const { return index >= 0 && index < Count(); }
  const Entry& At(int index) const { return m_entries[static_cast<std::size_t>(index)]; }
  int SetData(int index, DWORD_PTR data);
  int GetCurSel() const { return m_nCurSel; }
  // -1 or an index out of range clears the selection and returns LB_ERR.
  int SetCurSel(int index);
  const std::vector<Entry>& Entries() const { return m_entries; }

  // Case-insensitive comparison of ASCII letters; other bytes compare as they are.
  static int CompareNoCase(const std::string& a, const std::string& b);
  static bool StartsWithNoCase(const std::string& text, const std::string& prefix);

 private:
  template <class Match>
  int Find(int startAfter, Match match) const;

  std::vector<Entry> m_entries;
  bool m_bSorted = false;
  int m_nCurSel = -1;
};
