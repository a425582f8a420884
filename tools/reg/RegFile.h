// The pieces of marlin3-reg: key names as reg.exe writes them, values read whole, and the .reg text
// format of export and import ("Windows Registry Editor Version 5.00"; REGEDIT4 is read too).
// Exported files are UTF-8 without a byte-order mark and with CRLF line ends; import also reads
// UTF-16LE with a byte-order mark (what Windows' regedit writes). Text that a quoted .reg string cannot
// hold (a line break) is written as hex(1), as UTF-16LE bytes like REG_EXPAND_SZ's hex(2), so every
// value survives export and import unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

namespace regtool {

// A key named on the command line or in a .reg file: its root and the path below it.
struct KeyName {
  HKEY root = nullptr;
  std::string rootName;  // "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE"
  std::string path;      // "" for the root itself
  std::string Full() const { return path.empty() ? rootName : rootName + "\\" + path; }
};

// Parses "HKCU\\...", "HKEY_LOCAL_MACHINE\\..." (root names ignoring case; one trailing backslash is
// dropped). False for another root or an empty path component.
bool ParseKeyName(const std::string& text, KeyName& key);

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;  // the bytes RegQueryValueExA gives (strings with their terminating zero)
};

// The values of an open key in enumeration order.
LONG ReadValues(HKEY key, std::vector<Value>& values);
// The subkey names of an open key in enumeration order.
LONG ReadSubkeys(HKEY key, std::vector<std::string>& names);

// What a walk does with a subkey that cannot be opened.
enum class UnopenedKey { Stop, Skip };
// Reads one key of a walk (name as "parent\\sub", depth as counted from the walk's top) and fills
// subkeys with those to go into; a result other than ERROR_SUCCESS ends the walk with it.
using KeyVisitor =
    std::function<LONG(HKEY key, const std::string& name, size_t depth, std::vector<std::string>& subkeys)>;
// Visits top and the keys below it depth first, in the order the visitor gives, with a stack of open
// keys (a hive may hold keys deeper than any call stack would take). Closes every key it opened.
LONG WalkKeys(HKEY top, const std::string& topName, size_t topDepth, UnopenedKey unopened,
              const KeyVisitor& visit);

// How many levels below its root a key name has ("" is the root itself: 0).
size_t KeyDepth(const std::string& path);

// Why an export stopped short (it then fails with ERROR_INVALID_PARAMETER and the text is unusable).
enum class ExportStop { None, TooDeep, TooLarge };

// Writes the .reg text of key and everything below it. ERROR_FILE_NOT_FOUND when the key is missing.
// Keys are walked without recursion; a key deeper than kRegMaxKeyDepth (which import would refuse) stops
// the export, and so does text longer than maxBytes.
LONG ExportKey(const KeyName& key, std::string& text, uint64_t maxBytes = UINT64_MAX,
               ExportStop* stop = nullptr);

// Applies a .reg file's content. Returns false with a reason when the file is not a registry script or
// a key cannot be written.
bool ImportText(const std::string& fileBytes, std::string& error);

// UTF-8 to UTF-16LE bytes and back; a byte that is not UTF-8 travels as the lone surrogate U+DC80..DCFF.
std::string Utf8ToUtf16Le(const std::string& utf8);
std::string Utf16LeToUtf8(const std::string& utf16);

}  // namespace regtool
