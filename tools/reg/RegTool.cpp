// marlin3-reg: reg.exe's query, add, delete, export and import on the platform registry, with reg.exe's
// syntax, output shapes and exit codes (0 success, 1 failure). Used by installers (the product key
// under HKLM), people and tests. Prompts ("(Yes/No)?") read a line from standard input; no input is No.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "tools/reg/RegFile.h"

namespace {

using regtool::KeyName;
using regtool::Value;

constexpr const char* kSuccess = "The operation completed successfully.";
constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.";

int Syntax(const std::string& operation) {
  std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"REG %s /?\" for usage.\n", operation.c_str());
  return 1;
}

int InvalidKey(const std::string& operation) {
  std::fprintf(stderr, "ERROR: Invalid key name.\nType \"REG %s /?\" for usage.\n", operation.c_str());
  return 1;
}

// The root the command works on, so a failure of its store can be told with the file and the reason.
HKEY g_root = nullptr;

int Failure(LONG code) {
  const std::string problem =
      (code == ERROR_BADDB || code == ERROR_REGISTRY_IO_FAILED) && g_root
          ? platform::registry::StoreProblem(g_root)
          : std::string();
  if (!problem.empty()) {
    std::fprintf(stderr, "ERROR: %s\n", problem.c_str());
    if (code == ERROR_BADDB)
      std::fprintf(stderr, "Nothing was changed. \"marlin3-reg repair %s\" rescues what can still be read.\n",
                   g_root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU");
  } else if (code == ERROR_FILE_NOT_FOUND) {
    std::fprintf(stderr, "%s\n", kNotFound);
  } else {
    std::string text = platform::FormatMessageText(static_cast<DWORD>(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::fprintf(stderr, "ERROR: %s\n", text.empty() ? "Error accessing the registry." : text.c_str());
  }
  return 1;
}

int Succeeded() {
  std::printf("%s\n", kSuccess);
  return 0;
}

// Asks (the question ends with "(Yes/No)") on standard output and reads the answer; only Yes (or Y) in any
// case counts, no input is No.
bool Confirm(const std::string& question) {
  for (;;) {
    std::printf("%s? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      std::printf("\n");
      return false;
    }
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    const std::string upper = platform::text::ToUpperUtf8(answer);
    if (upper == "Y" || upper == "YES") return true;
    if (upper == "N" || upper == "NO") return false;
  }
}

int Cancelled() {
  std::printf("The operation was canceled by the user.\n");
  return 1;
}

bool IsOption(const std::string& arg, const char* name) {
  return (arg[0] == '/' || arg[0] == '-') && platform::text::EqualsNoCase(arg.substr(1), name);
}

struct Options {
  bool hasValue = false;  // /v NAME
  std::string value;
  bool defaultValue = false;  // /ve
  bool allValues = false;     // /va
  bool recurse = false;       // /s (query)
  bool force = false;         // /f
  bool overwrite = false;     // /y (export)
  bool hasType = false;
  std::string type;
  bool hasData = false;
  std::string data;
  bool hasSeparator = false;
  std::string separator;  // /s SEP (add)
  std::vector<std::string> positional;
};

// Parses the arguments after the operation; options take their value from the next argument. Paths
// start with "/" here, so an argument that is no option of the operation is positional.
bool ParseOptions(const std::string& operation, int argc, char** argv, Options& o) {
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (arg.empty() || (arg[0] != '/' && arg[0] != '-') || arg.size() == 1) {
      o.positional.push_back(arg);
    } else if (IsOption(arg, "v")) {
      if (o.hasValue || !next(o.value)) return false;
      o.hasValue = true;
    } else if (IsOption(arg, "ve")) {
      o.defaultValue = true;
    } else if (IsOption(arg, "va") && operation == "DELETE") {
      o.allValues = true;
    } else if (IsOption(arg, "s") && operation == "QUERY") {
      o.recurse = true;
    } else if (IsOption(arg, "s") && operation == "ADD") {
      if (!next(o.separator) || o.separator.size() != 1) return false;
      o.hasSeparator = true;
    } else if (IsOption(arg, "f") && operation != "QUERY") {
      o.force = true;
    } else if (IsOption(arg, "y") && operation == "EXPORT") {
      o.overwrite = true;
    } else if (IsOption(arg, "t") && operation == "ADD") {
      if (!next(o.type)) return false;
      o.hasType = true;
    } else if (IsOption(arg, "d") && operation == "ADD") {
      if (!next(o.data)) return false;
      o.hasData = true;
    } else {
      o.positional.push_back(arg);  // not an option of this operation: a key or a path such as /tmp/x.reg
    }
  }
  return static_cast<int>(o.hasValue) + static_cast<int>(o.defaultValue) + static_cast<int>(o.allValues) <= 1;
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case 5:
      return "REG_DWORD_BIG_ENDIAN";
    case 6:
      return "REG_LINK";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case 8:
      return "REG_RESOURCE_LIST";
    case 9:
      return "REG_FULL_RESOURCE_DESCRIPTOR";
    case 10:
      return "REG_RESOURCE_REQUIREMENTS_LIST";
    case REG_QWORD:
      return "REG_QWORD";
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%x", type);
      return buf;
    }
  }
}

std::string HexBytes(const std::string& data) {
  std::string out;
  char pair[4];
  for (char c : data) {
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
    out += pair;
  }
  return out;
}

// One value line of reg query: four blanks, name, type and data separated by four blanks.
std::string ValueLine(const Value& v) {
  std::string data;
  if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) {
    data = v.data;
    if (!data.empty() && data.back() == '\0') data.pop_back();
  } else if ((v.type == REG_DWORD && v.data.size() == 4) || (v.type == REG_QWORD && v.data.size() == 8)) {
    unsigned long long value = 0;
    for (size_t i = v.data.size(); i-- > 0;) value = (value << 8) | static_cast<unsigned char>(v.data[i]);
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", value);
    data = buf;
  } else if (v.type == REG_MULTI_SZ) {
    std::string d = v.data;
    while (!d.empty() && d.back() == '\0') d.pop_back();
    for (char c : d) data += c == '\0' ? std::string("\\0") : std::string(1, c);
  } else {
    data = HexBytes(v.data);
  }
  return "    " + (v.name.empty() ? std::string("(Default)") : v.name) + "    " + TypeName(v.type) + "    " +
         data;
}

// /s: the key's block and its subkeys' blocks, depth first (a stack of open keys, no recursion); with a
// value filter only matching values. Keys below kRegMaxKeyDepth are not shown: returns false then.
bool QueryTree(HKEY top, const std::string& topName, size_t topDepth, const Options& o, int& matches) {
  const bool filter = o.hasValue || o.defaultValue;
  bool complete = true;
  regtool::WalkKeys(
      top, topName, topDepth, regtool::UnopenedKey::Skip,
      [&](HKEY key, const std::string& name, size_t depth, std::vector<std::string>& subkeys) -> LONG {
        std::vector<Value> values;
        regtool::ReadValues(key, values);
        regtool::ReadSubkeys(key, subkeys);
        std::string block;
        for (const Value& v : values) {
          if (filter && !platform::text::EqualsNoCase(v.name, o.hasValue ? o.value : std::string())) continue;
          block += ValueLine(v) + "\n";
          ++matches;
        }
        if (!filter || !block.empty()) std::printf("\n%s\n%s", name.c_str(), block.c_str());
        if (!subkeys.empty() && depth >= kRegMaxKeyDepth) {
          complete = false;
          subkeys.clear();
        }
        return ERROR_SUCCESS;
      });
  return complete;
}

void TooDeep() {
  std::fprintf(stderr,
               "ERROR: Keys deeper than %zu levels were left out; the registry does not allow them.\n",
               kRegMaxKeyDepth);
}

int Query(const KeyName& keyName, const Options& o) {
  HKEY key = nullptr;
  if (LONG rc = RegOpenKeyExA(keyName.root, keyName.path.c_str(), 0, KEY_READ, &key)) return Failure(rc);
  const std::string name = keyName.Full();
  int result = 0;
  if (o.recurse) {
    int matches = 0;
    const bool complete = QueryTree(key, name, regtool::KeyDepth(keyName.path), o, matches);
    if (o.hasValue || o.defaultValue) {
      std::printf("\nEnd of search: %d match(es) found.\n", matches);
      if (matches == 0) result = 1;
    } else {
      std::printf("\n");
    }
    if (!complete) {
      std::fflush(stdout);
      TooDeep();
      result = 1;
    }
  } else if (o.hasValue || o.defaultValue) {
    std::vector<Value> values;
    regtool::ReadValues(key, values);
    const std::string wanted = o.hasValue ? o.value : std::string();
    const Value* found = nullptr;
    for (const Value& v : values) {
      if (platform::text::EqualsNoCase(v.name, wanted)) found = &v;
    }
    if (found) {
      std::printf("\n%s\n%s\n\n", name.c_str(), ValueLine(*found).c_str());
    } else if (o.defaultValue) {
      std::printf("\n%s\n    (Default)    REG_SZ    (value not set)\n\n", name.c_str());
    } else {
      result = Failure(ERROR_FILE_NOT_FOUND);
    }
  } else {
    std::vector<Value> values;
    std::vector<std::string> subkeys;
    regtool::ReadValues(key, values);
    regtool::ReadSubkeys(key, subkeys);
    std::printf("\n%s\n", name.c_str());
    for (const Value& v : values) std::printf("%s\n", ValueLine(v).c_str());
    std::printf("\n");
    for (const std::string& sub : subkeys) std::printf("%s\\%s\n", name.c_str(), sub.c_str());
  }
  RegCloseKey(key);
  return result;
}

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  return errno == 0 && end && *end == '\0' && text[0] != '-' && value <= max;
}

// The bytes of /d DATA for /t TYPE; false for data the type cannot take.
bool EncodeData(const Options& o, DWORD& type, std::string& bytes) {
  const std::string typeName = o.hasType ? platform::text::ToUpperUtf8(o.type) : "REG_SZ";
  const std::string& d = o.data;
  bytes.clear();
  if (typeName == "REG_SZ" || typeName == "REG_EXPAND_SZ") {
    type = typeName == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    bytes = d + '\0';
  } else if (typeName == "REG_DWORD" || typeName == "REG_QWORD") {
    type = typeName == "REG_DWORD" ? REG_DWORD : REG_QWORD;
    unsigned long long value = 0;
    if (o.hasData && !ParseNumber(d, type == REG_DWORD ? 0xFFFFFFFFull : ~0ull, value)) return false;
    for (int i = 0; i < (type == REG_DWORD ? 4 : 8); ++i)
      bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  } else if (typeName == "REG_BINARY" || typeName == "REG_NONE") {
    type = typeName == "REG_BINARY" ? REG_BINARY : REG_NONE;
    if (d.size() % 2) return false;
    for (size_t i = 0; i < d.size(); i += 2) {
      unsigned value = 0;
      if (!std::isxdigit(static_cast<unsigned char>(d[i])) ||
          !std::isxdigit(static_cast<unsigned char>(d[i + 1])) ||
          std::sscanf(d.substr(i, 2).c_str(), "%x", &value) != 1)
        return false;
      bytes += static_cast<char>(value);
    }
  } else if (typeName == "REG_MULTI_SZ") {
    type = REG_MULTI_SZ;
    // Items are separated by /s's character, else by the two characters "\0".
    const std::string sep = o.hasSeparator ? o.separator : "\\0";
    size_t start = 0;
    while (start <= d.size() && !d.empty()) {
      const size_t at = d.find(sep, start);
      const std::string item = d.substr(start, at == std::string::npos ? std::string::npos : at - start);
      if (item.empty() && at != std::string::npos) return false;  // empty items are not allowed
      bytes += item + '\0';
      if (at == std::string::npos) break;
      start = at + sep.size();
    }
    bytes += '\0';
  } else {
    return false;
  }
  return true;
}

int Add(const KeyName& keyName, const Options& o) {
  DWORD type = REG_SZ;
  std::string bytes;
  if ((o.hasValue || o.defaultValue || o.hasData || o.hasType) && !EncodeData(o, type, bytes))
    return Syntax("ADD");
  if (keyName.path.empty() && !(o.hasValue || o.defaultValue)) return InvalidKey("ADD");
  if (regtool::KeyDepth(keyName.path) > kRegMaxKeyDepth) {
    std::fprintf(stderr, "ERROR: The key is deeper than %zu levels, which the registry does not allow.\n",
                 kRegMaxKeyDepth);
    return 1;
  }
  HKEY key = nullptr;
  if (LONG rc = RegCreateKeyExA(keyName.root, keyName.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr))
    return Failure(rc);
  int result = 0;
  if (o.hasValue || o.defaultValue || o.hasData || o.hasType) {
    const std::string name = o.hasValue ? o.value : std::string();
    DWORD size = 0;
    const bool exists =
        RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    if (exists && !o.force &&
        !Confirm("Value " + (name.empty() ? std::string("(Default)") : name) +
                 " exists, overwrite(Yes/No)")) {
      RegCloseKey(key);
      return Cancelled();
    }
    if (LONG rc = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())))
      result = Failure(rc);
  }
  RegCloseKey(key);
  return result ? result : Succeeded();
}

int Delete(const KeyName& keyName, const Options& o) {
  HKEY key = nullptr;
  if (LONG rc = RegOpenKeyExA(keyName.root, keyName.path.c_str(), 0, KEY_ALL_ACCESS, &key))
    return Failure(rc);
  int result = 0;
  if (o.hasValue || o.defaultValue) {
    const std::string name = o.hasValue ? o.value : std::string();
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
      result = Failure(ERROR_FILE_NOT_FOUND);
    } else if (!o.force && !Confirm("Delete the registry value " +
                                    (name.empty() ? std::string("(Default)") : name) + " (Yes/No)")) {
      result = Cancelled();
    } else if (LONG rc = RegDeleteValueA(key, name.c_str())) {
      result = Failure(rc);
    } else {
      result = Succeeded();
    }
  } else if (o.allValues) {
    if (!o.force && !Confirm("Delete all values under the registry key " + keyName.Full() + " (Yes/No)")) {
      result = Cancelled();
    } else {
      std::vector<Value> values;
      regtool::ReadValues(key, values);
      for (const Value& v : values) {
        if (LONG rc = RegDeleteValueA(key, v.name.c_str())) result = Failure(rc);
      }
      if (result == 0) result = Succeeded();
    }
  } else if (keyName.path.empty()) {
    result = InvalidKey("DELETE");
  } else if (!o.force && !Confirm("Permanently delete the registry key " + keyName.Full() + " (Yes/No)")) {
    result = Cancelled();
  } else {
    RegCloseKey(key);
    key = nullptr;
    const LONG rc = RegDeleteTreeA(keyName.root, keyName.path.c_str());
    result = rc ? Failure(rc) : Succeeded();
  }
  if (key) RegCloseKey(key);
  return result;
}

bool WriteWholeFile(const std::string& path, const std::string& text, DWORD& error) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = platform::GetLastError();
    return false;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  error = platform::GetLastError();
  CloseHandle(file);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD read = 0;
  bytes.clear();
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr)) && read > 0) bytes.append(buffer, read);
  CloseHandle(file);
  return ok;
}

int Export(const KeyName& keyName, const std::string& path, const Options& o) {
  std::string text;
  // Bounded by the hive: with keys at most kRegMaxKeyDepth deep, no hive's text comes near this.
  const uint64_t maxBytes = 1024 * platform::registry::HiveBytes(keyName.root) + (1u << 20);
  regtool::ExportStop stop = regtool::ExportStop::None;
  if (LONG rc = regtool::ExportKey(keyName, text, maxBytes, &stop)) {
    if (stop == regtool::ExportStop::TooDeep) {
      std::fprintf(stderr,
                   "ERROR: The key holds keys deeper than %zu levels, which the registry does not allow. "
                   "Nothing was exported.\n",
                   kRegMaxKeyDepth);
      return 1;
    }
    if (stop == regtool::ExportStop::TooLarge) {
      std::fprintf(stderr,
                   "ERROR: The export would be over %llu bytes, more than the hive can hold. "
                   "Nothing was exported.\n",
                   static_cast<unsigned long long>(maxBytes));
      return 1;
    }
    return Failure(rc);
  }
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES && !o.overwrite &&
      !Confirm("File " + path + " already exists. Overwrite (Yes/No)")) {
    return Cancelled();
  }
  DWORD error = 0;
  if (!WriteWholeFile(path, text, error)) return Failure(static_cast<LONG>(error));
  return Succeeded();
}

int Import(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    std::fprintf(stderr, "ERROR: Error opening the file. There may be a disk or file system error.\n");
    return 1;
  }
  std::string error;
  if (!regtool::ImportText(bytes, error)) {
    std::fprintf(stderr, "ERROR: %s\n", error.c_str());
    return 1;
  }
  return Succeeded();
}

// Rescues what can be read of a damaged hive into a new one; the damaged file is kept beside it. A hive
// that passes the integrity check is left alone, and a failed rescue changes nothing.
int Repair(const KeyName& key) {
  if (!key.path.empty()) return InvalidKey("REPAIR");
  platform::registry::RescueReport report;
  const LONG rc = platform::registry::RescueHive(key.root, report);
  if (rc == ERROR_SUCCESS && report.healthy) {
    std::printf("The hive %s is not damaged; nothing to repair.\n", key.rootName.c_str());
    return 0;
  }
  if (rc != ERROR_SUCCESS) {
    if (!report.problem.empty()) std::fprintf(stderr, "ERROR: %s\n", report.problem.c_str());
    std::string text = platform::FormatMessageText(static_cast<DWORD>(rc));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty()) std::fprintf(stderr, "ERROR: %s\n", text.c_str());
    return 1;
  }
  std::printf("%s\n", report.problem.c_str());
  std::printf("Rescued %zu keys and %zu values into a new hive.\n", report.keys, report.values);
  if (report.lostKeys || report.lostValues)
    std::printf("Lost %zu keys and %zu values whose parent key could not be read.\n", report.lostKeys,
                report.lostValues);
  if (!report.complete)
    std::printf("The search through the damaged part was cut short; more may lie in the damaged file.\n");
  std::printf("The damaged file is kept as '%s'.\n", report.damagedCopy.c_str());
  return Succeeded();
}

void Usage() {
  std::printf(
      "marlin3-reg: reg.exe's operations on the marlin3 registry.\n\n"
      "  marlin3-reg query KEY [/v NAME | /ve] [/s]\n"
      "  marlin3-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
      "  marlin3-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
      "  marlin3-reg export KEY FILE [/y]\n"
      "  marlin3-reg import FILE\n"
      "  marlin3-reg repair HKCU|HKLM\n\n"
      "KEY: HKCU, HKLM, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE, then \\SubKey\\...\n"
      "TYPE: REG_SZ (default), REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_MULTI_SZ, REG_NONE\n"
      "Hives: $MARLIN3_REGISTRY_DIR, else HKCU in ${XDG_CONFIG_HOME:-~/.config}/marlin3/ and HKLM in "
      "/var/lib/marlin3/.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n");
    return 1;
  }
  const std::string operation = platform::text::ToUpperUtf8(argv[1]);
  if (operation == "/?" || operation == "-?" || operation == "--HELP" || operation == "-H") {
    Usage();
    return 0;
  }
  if (operation != "QUERY" && operation != "ADD" && operation != "DELETE" && operation != "EXPORT" &&
      operation != "IMPORT" && operation != "REPAIR") {
    std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n");
    return 1;
  }
  Options o;
  if (!ParseOptions(operation, argc, argv, o)) return Syntax(operation);
  if (operation == "IMPORT") {
    if (o.positional.size() != 1 || o.hasValue || o.defaultValue || o.force) return Syntax(operation);
    return Import(o.positional[0]);
  }
  const size_t wanted = operation == "EXPORT" ? 2 : 1;
  if (o.positional.size() != wanted) return Syntax(operation);
  KeyName key;
  if (!regtool::ParseKeyName(o.positional[0], key)) return InvalidKey(operation);
  g_root = key.root;
  if (operation == "REPAIR") {
    if (o.hasValue || o.defaultValue || o.force) return Syntax(operation);
    return Repair(key);
  }
  if (operation == "QUERY") return Query(key, o);
  if (operation == "ADD") return Add(key, o);
  if (operation == "DELETE") return Delete(key, o);
  if (o.hasValue || o.defaultValue) return Syntax(operation);
  return Export(key, o.positional[1], o);
}
