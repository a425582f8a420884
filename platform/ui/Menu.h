// CMenu: a window menu ("system menu") of the control model. A dialog's menu starts with the items
// Windows gives a dialog (Move, Close); the program appends its own (a separator and "About...",
// command 16). A host offers the items the program added; choosing one calls the dialog's
// OnSysCommand with the item's command, and Close (SC_CLOSE) is the dialog's Cancel.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/UiTypes.h"

enum : UINT {
  MF_STRING = 0x0,
  MF_BYCOMMAND = 0x0,
  MF_GRAYED = 0x1,
  MF_DISABLED = 0x2,
  MF_BYPOSITION = 0x400,
  MF_SEPARATOR = 0x800,
};
enum : UINT { SC_MOVE = 0xF010, SC_CLOSE = 0xF060 };

class CMenu {
 public:
  struct Item {
    UINT flags = MF_STRING;
    UINT id = 0;
    std::string text;
  };

  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr);
  int GetMenuItemCount() const { return static_cast<int>(m_items.size()); }
  // The command of the item at pos; 0 for a separator, -1 (as UINT) for a position out of range.
  UINT GetMenuItemID(int pos) const;
  // Copies the item's text (by command, or by position with MF_BYPOSITION); its length, 0 if none.
  int GetMenuString(UINT item, std::string& text, UINT flags) const;
  const std::vector<Item>& Items() const { return m_items; }
  // The items the program appended after the standard ones.
  std::vector<Item> AddedItems() const;
  // Framework: the standard items of a dialog's window menu.
  void ResetToDialogDefaults();

 private:
  std::vector<Item> m_items;
  int m_nStandard = 0;
};
