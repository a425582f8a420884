#include "platform/ui/Menu.h"

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const char* text) {
  Item item;
  item.flags = flags;
  item.id = (flags & MF_SEPARATOR) != 0 ? 0 : static_cast<UINT>(id);
  item.text = (flags & MF_SEPARATOR) != 0 || text == nullptr ? std::string() : std::string(text);
  m_items.push_back(std::move(item));
  return TRUE;
}

UINT CMenu::GetMenuItemID(int pos) const {
  if (pos < 0 || pos >= GetMenuItemCount()) return static_cast<UINT>(-1);
  return m_items[static_cast<std::size_t>(pos)].id;
}

int CMenu::GetMenuString(UINT item, std::string& text, UINT flags) const {
  text.clear();
  if ((flags & MF_BYPOSITION) != 0) {
    if (item >= m_items.size()) return 0;
    text = m_items[item].text;
  } else {
    for (const auto& i : m_items) {
      if ((i.flags & MF_SEPARATOR) == 0 && i.id == item) {
        text = i.text;
        break;
      }
    }
  }
  return static_cast<int>(text.size());
}

std::vector<CMenu::Item> CMenu::AddedItems() const {
  return std::vector<Item>(m_items.begin() + m_nStandard, m_items.end());
}

void CMenu::ResetToDialogDefaults() {
  m_items.clear();
  AppendMenu(MF_STRING, SC_MOVE, "&Move");
  AppendMenu(MF_STRING, SC_CLOSE, "&Close\tAlt+F4");
  m_nStandard = GetMenuItemCount();
}
