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

// The text of string id in language, else English, else any language; null when there is none.
// Empty texts count as missing, as Win32 string tables cannot hold them.
const char* FindText(HMODULE module, UINT id, WORD language) {
  const Table<M3ResString> table = GetTable<M3ResString>(module, "m3res_strings");
  const M3ResString* begin = table.entries;
  const M3ResString* end = begin + table.count;
  const M3ResString* first =
      std::lower_bound(begin, end, id, [](const M3ResString& s, UINT key) { return s.id < key; });
  const M3ResString* english = nullptr;
  const M3ResString* any = nullptr;
  for (const M3ResString* s = first; s != end && s->id == id; ++s) {
    if (s->text == nullptr || s->text[0] == '\0') continue;
    if (s->language == language) return s->text;
    if (s->language == kEnglish && english == nullptr) english = s;
    if (any == nullptr) any = s;
  }
  if (english != nullptr) return english->text;
  return any != nullptr ? any->text : nullptr;
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

const M3ResDialog* FindDialog(HMODULE module, UINT id) {
  return FindById<M3ResDialog>(module, "m3res_dialogs", id);
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
