// Strings, dialog templates and icons of a resource library, found by binary search in the tables
// the library exports (see Resource.h).
#include "platform/resource/Resource.h"

#include <algorithm>
#include <cstring>

#include "platform/module/Module.h"

namespace {

constexpr WORD kEnglish = 1033;
constexpr std::uint32_t kFormatVersion = 1;

template <typename Entry>
struct Table {
  const Entry* entries = nullptr;
  std::size_t count = 0;
};

template <typename Entry>
Table<Entry> GetTable(HMODULE module, const char* name) {
  Table<Entry> table;
  if (module == nullptr) return table;
  using VersionFn = std::uint32_t (*)();
  using TableFn = const Entry* (*)(std::size_t*);
  auto version = reinterpret_cast<VersionFn>(GetProcAddress(module, "m3res_format_version"));
  auto get = reinterpret_cast<TableFn>(GetProcAddress(module, name));
  // A library of another layout would be read as garbage; it counts as holding nothing.
  if (version == nullptr || get == nullptr || version() != kFormatVersion) return table;
  std::size_t count = 0;
  const Entry* entries = get(&count);
  if (entries != nullptr) {
    table.entries = entries;
    table.count = count;
  }
  return table;
}

}  // namespace

namespace platform::resource {

// How well a text of language `have` serves a user of `want`, as Windows picks a resource library:
// the same identifier, else the same language in another country (Austrian German reads German),
// else English; Chinese in Hong Kong, Macao and Taiwan reads the traditional script, elsewhere the
// simplified one. 0: not at all.
int LanguageMatch(WORD have, WORD want) {
  if (have == want) return 4;
  constexpr WORD kChinese = 0x04;
  const auto primary = [](WORD id) { return id & 0x3FF; };
  if (primary(have) == primary(want)) {
    if (primary(want) != kChinese) return 3;
    const auto traditional = [](WORD id) { return id == 1028 || id == 3076 || id == 5124; };
    return traditional(have) == traditional(want) ? 3 : 2;
  }
  return have == kEnglish ? 1 : 0;
}

}  // namespace platform::resource

namespace {

using platform::resource::LanguageMatch;

// The text of string id in language (see Match), else in any language; null when there is none.
// Empty texts count as missing, as Win32 string tables cannot hold them.
const char* FindText(HMODULE module, UINT id, WORD language) {
  const Table<M3ResString> table = GetTable<M3ResString>(module, "m3res_strings");
  const M3ResString* begin = table.entries;
  const M3ResString* end = begin + table.count;
  const M3ResString* first =
      std::lower_bound(begin, end, id, [](const M3ResString& s, UINT key) { return s.id < key; });
  const M3ResString* best = nullptr;
  int bestMatch = -1;
  for (const M3ResString* s = first; s != end && s->id == id; ++s) {
    if (s->text == nullptr || s->text[0] == '\0') continue;
    const int match = LanguageMatch(s->language, language);
    if (match > bestMatch) {
      best = s;
      bestMatch = match;
    }
  }
  return best != nullptr ? best->text : nullptr;
}

template <typename Entry>
const Entry* FindById(HMODULE module, const char* name, UINT id) {
  const Table<Entry> table = GetTable<Entry>(module, name);
  const Entry* end = table.entries + table.count;
  const Entry* found =
      std::lower_bound(table.entries, end, id, [](const Entry& e, UINT key) { return e.id < key; });
  return found != end && found->id == id ? found : nullptr;
}

}  // namespace

int LoadStringA(HMODULE module, UINT id, char* buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax < 1) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = '\0';
  const char* text = FindText(module, id, platform::resource::UserLanguage());
  if (text == nullptr) {
    platform::SetLastError(platform::resource::kErrorResourceNameNotFound);
    return 0;
  }
  const std::size_t length = std::strlen(text);
  std::size_t n = std::min(length, static_cast<std::size_t>(bufferMax) - 1);
  // Step back over UTF-8 continuation bytes so the cut falls between characters.
  if (n < length) {
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

namespace platform::resource {

bool LoadString(HMODULE module, UINT id, WORD language, std::string& text) {
  const char* found = FindText(module, id, language);
  if (found == nullptr) {
    text.clear();
    return false;
  }
  text = found;
  return true;
}

bool LoadString(HMODULE module, UINT id, std::string& text) {
  return LoadString(module, id, UserLanguage(), text);
}

const M3ResDialog* FindDialog(HMODULE module, UINT id, WORD language) {
  const M3ResDialog* english = FindById<M3ResDialog>(module, "m3res_dialogs", id);
  if (english == nullptr || language == kEnglish) return english;
  // The table is optional: a library of English templates only does without it.
  using LocalizedFn = const M3ResLocalizedDialog* (*)(std::size_t*);
  auto get = reinterpret_cast<LocalizedFn>(GetProcAddress(module, "m3res_localized_dialogs"));
  if (get == nullptr) return english;
  std::size_t count = 0;
  const M3ResLocalizedDialog* begin = get(&count);
  if (begin == nullptr) return english;
  const M3ResLocalizedDialog* end = begin + count;
  const M3ResLocalizedDialog* first = std::lower_bound(
      begin, end, id, [](const M3ResLocalizedDialog& d, UINT key) { return d.dialog.id < key; });
  const M3ResDialog* best = english;
  int bestMatch = 1;
  for (const M3ResLocalizedDialog* d = first; d != end && d->dialog.id == id; ++d) {
    const int match = LanguageMatch(d->language, language);
    // Only a template of the same shape stands in for the English one: the program addresses its
    // controls by number and position.
    if (match > bestMatch && d->dialog.controlCount == english->controlCount) {
      best = &d->dialog;
      bestMatch = match;
    }
  }
  return best;
}

const M3ResDialog* FindDialog(HMODULE module, UINT id) {
  return FindDialog(module, id, UserLanguage());
}

const M3ResIcon* FindIcon(HMODULE module, UINT id) {
  return FindById<M3ResIcon>(module, "m3res_icons", id);
}

std::vector<UINT> DialogIds(HMODULE module) {
  const Table<M3ResDialog> table = GetTable<M3ResDialog>(module, "m3res_dialogs");
  std::vector<UINT> ids;
  ids.reserve(table.count);
  for (std::size_t i = 0; i < table.count; ++i) ids.push_back(table.entries[i].id);
  return ids;
}

}  // namespace platform::resource
