// Key names, whole-value reads and the .reg text format of marlin3-reg (see RegFile.h).
#include "tools/reg/RegFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/text/Text.h"

namespace regtool {

namespace {

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";

std::string Upper(std::string s) {
  return platform::text::ToUpperUtf8(s);
}

// regedit breaks hex data after this many characters on a line, continuing with "\" and two blanks.
constexpr size_t kHexLineLimit = 77;

// Quoted .reg text: backslash and quote are escaped; a line break in a value name is written as \r or
// \n (Wine's regedit does the same; string data with line breaks goes out as hex(1) instead).
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r' || c == '\n') {
      out += c == '\r' ? "\\r" : "\\n";
      continue;
    }
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

void AppendHex(std::string& text, size_t lineLength, const char* prefix, const std::string& bytes) {
  text += prefix;
  lineLength += std::strlen(prefix);
  char pair[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[i]));
    text += pair;
    if (i + 1 == bytes.size()) break;
    text += ',';
    lineLength += 3;
    if (lineLength >= kHexLineLimit) {
      text += "\\\r\n  ";
      lineLength = 2;
    }
  }
}

void ExportValue(std::string& text, const Value& v) {
  const std::string head = v.name.empty() ? "@=" : "\"" + Escape(v.name) + "\"=";
  text += head;
  std::string str = v.data;
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && !str.empty() && str.back() == '\0') str.pop_back();
  if (v.type == REG_SZ && str.find_first_of("\r\n") == std::string::npos &&
      str.find('\0') == std::string::npos) {
    text += "\"" + Escape(str) + "\"";
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
      value = (value << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
    char buf[32];
    std::snprintf(buf, sizeof buf, "dword:%08x", value);
    text += buf;
  } else if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) {
    AppendHex(text, head.size(),
              v.type == REG_SZ ? "hex(1):" : "hex(2):", Utf8ToUtf16Le(str) + std::string(2, '\0'));
  } else if (v.type == REG_MULTI_SZ) {
    AppendHex(text, head.size(), "hex(7):", Utf8ToUtf16Le(v.data));
  } else if (v.type == REG_BINARY) {
    AppendHex(text, head.size(), "hex:", v.data);
  } else {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
    AppendHex(text, head.size(), prefix, v.data);
  }
  text += "\r\n";
}

LONG ExportTree(HKEY top, const std::string& topName, size_t topDepth, uint64_t maxBytes, std::string& text,
                ExportStop& stop) {
  return WalkKeys(
      top, topName, topDepth, UnopenedKey::Stop,
      [&](HKEY key, const std::string& name, size_t depth, std::vector<std::string>& subkeys) -> LONG {
        std::vector<Value> values;
        if (LONG rc = ReadValues(key, values)) return rc;
        if (LONG rc = ReadSubkeys(key, subkeys)) return rc;
        text += "[" + name + "]\r\n";
        for (const Value& v : values) ExportValue(text, v);
        text += "\r\n";
        if (text.size() > maxBytes) {
          stop = ExportStop::TooLarge;
          return ERROR_INVALID_PARAMETER;
        }
        if (!subkeys.empty() && depth >= kRegMaxKeyDepth) {
          stop = ExportStop::TooDeep;
          return ERROR_INVALID_PARAMETER;
        }
        return ERROR_SUCCESS;
      });
}

// The stored spelling of a path typed in any case.
std::string StoredPath(HKEY root, const std::string& path) {
  if (path.empty()) return path;
  std::string result;
  HKEY current = root;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t slash = path.find('\\', start);
    const std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    std::vector<std::string> names;
    std::string stored = part;
    if (ReadSubkeys(current, names) == ERROR_SUCCESS) {
      for (const std::string& n : names) {
        if (platform::text::EqualsNoCase(n, part)) stored = n;
      }
    }
    result += (result.empty() ? "" : "\\") + stored;
    HKEY next = nullptr;
    const LONG rc = RegOpenKeyExA(current, part.c_str(), 0, KEY_READ, &next);
    if (current != root) RegCloseKey(current);
    if (rc) return path;
    current = next;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (current != root) RegCloseKey(current);
  return result;
}

// --- import -----------------------------------------------------------------------------------------

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

std::string TrimLeft(const std::string& s) {
  const size_t i = s.find_first_not_of(" \t");
  return i == std::string::npos ? std::string() : s.substr(i);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(const std::string& list, std::string& bytes) {
  bytes.clear();
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
    if (i >= list.size()) break;
    int value = 0, digits = 0;
    while (i < list.size() && HexDigit(list[i]) >= 0) {
      value = value * 16 + HexDigit(list[i++]);
      if (++digits > 2) return false;
    }
    if (digits == 0) return false;
    bytes += static_cast<char>(value);
    while (i < list.size() && (list[i] == ' ' || list[i] == '\t')) ++i;
    if (i < list.size()) {
      if (list[i] != ',') return false;
      ++i;
    }
  }
  return true;
}

// A quoted .reg string starting at s[i] == '"'; i ends after the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
  out.clear();
  for (++i; i < s.size(); ++i) {
    if (s[i] == '"') {
      ++i;
      return true;
    }
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char next = s[++i];
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == '0' ? '\0' : next;
      continue;
    }
    out += s[i];
  }
  return false;
}

// One change a .reg file asks for, read and checked before anything is written.
struct Operation {
  enum Kind { kDeleteTree, kCreateKey, kSetValue, kDeleteValue } kind;
  KeyName key;
  std::string name;
  DWORD type = REG_NONE;
  std::string bytes;
  size_t line = 0;
};

// A .reg import is all or nothing: the whole file is parsed first (a bad line names itself and nothing
// is written), then applied inside one batch per hive, rolled back whole when any write fails.
class Importer {
 public:
  bool Run(const std::string& text, std::string& error) {
    return Parse(text, error) && Apply(error);
  }

 private:
  bool Parse(const std::string& text, std::string& error) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
      const size_t nl = text.find('\n', start);
      lines.push_back(
          TrimRight(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start)));
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
    size_t i = 0;
    while (i < lines.size() && lines[i].empty()) ++i;
    if (i >= lines.size() || (lines[i] != kHeader5 && lines[i] != kHeader4)) {
      error =
          "The specified file is not a registry script. You can only import binary registry files from "
          "within the registry editor.";
      return false;
    }
    m_unicode = lines[i] == kHeader5;
    for (++i; i < lines.size(); ++i) {
      const size_t lineNumber = i + 1;
      std::string line = TrimLeft(lines[i]);
      if (line.empty() || line[0] == ';') continue;
      std::string why;
      if (line[0] == '[') {
        if (!ParseKey(line, lineNumber, why)) return LineError(lineNumber, why, error);
        continue;
      }
      // Hex data may continue over lines ending with a backslash.
      const size_t eq = line.find('=');
      if (eq != std::string::npos && line.compare(eq + 1, 3, "hex") == 0) {
        while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) {
          line.pop_back();
          line += TrimLeft(lines[++i]);
        }
      }
      if (!ParseValue(line, lineNumber, why)) return LineError(lineNumber, why, error);
    }
    return true;
  }

  static bool LineError(size_t line, const std::string& why, std::string& error) {
    error = "Line " + std::to_string(line) + ": " + why + ". Nothing was imported.";
    return false;
  }

  bool ParseKey(const std::string& line, size_t lineNumber, std::string& why) {
    m_haveKey = false;
    const size_t end = line.rfind(']');
    if (end == std::string::npos) {
      why = "the key line has no closing \"]\"";
      return false;
    }
    if (!TrimLeft(line.substr(end + 1)).empty()) {
      why = "text after the closing \"]\" of a key line";
      return false;
    }
    const bool remove = line.size() > 1 && line[1] == '-';
    Operation op{remove ? Operation::kDeleteTree : Operation::kCreateKey, {}, {}, REG_NONE, {}, lineNumber};
    if (!ParseKeyName(line.substr(remove ? 2 : 1, end - (remove ? 2 : 1)), op.key)) {
      why = "\"" + line.substr(0, end + 1) + "\" is not a key of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE";
      return false;
    }
    if (remove && op.key.path.empty()) {
      why = "a whole hive cannot be deleted";
      return false;
    }
    if (KeyDepth(op.key.path) > kRegMaxKeyDepth) {
      why = "the key is deeper than " + std::to_string(kRegMaxKeyDepth) +
            " levels, which the registry does not allow";
      return false;
    }
    m_haveKey = !remove;
    m_key = op.key;
    m_ops.push_back(std::move(op));
    return true;
  }

  bool ParseValue(const std::string& line, size_t lineNumber, std::string& why) {
    Operation op{Operation::kSetValue, m_key, {}, REG_SZ, {}, lineNumber};
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (line[0] == '"') {
      if (!ParseQuoted(line, i, op.name)) return Bad(why, "the value name has no closing quote");
    } else {
      return Bad(why, "neither a key nor a value");
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != '=') return Bad(why, "\"=\" is missing after the value name");
    const std::string data = TrimLeft(line.substr(i + 1));
    if (data == "-") {
      op.kind = Operation::kDeleteValue;
    } else if (!data.empty() && data[0] == '"') {
      size_t j = 0;
      if (!ParseQuoted(data, j, op.bytes)) return Bad(why, "the text has no closing quote");
      if (!TrimLeft(data.substr(j)).empty()) return Bad(why, "text after the closing quote");
      op.bytes += '\0';
    } else if (data.compare(0, 6, "dword:") == 0) {
      const std::string digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) return Bad(why, "a dword needs 1 to 8 hexadecimal digits");
      uint32_t value = 0;
      for (char c : digits) {
        if (HexDigit(c) < 0) return Bad(why, "a dword needs 1 to 8 hexadecimal digits");
        value = value * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      op.type = REG_DWORD;
      for (int k = 0; k < 4; ++k) op.bytes += static_cast<char>((value >> (8 * k)) & 0xFF);
    } else if (data.compare(0, 3, "hex") == 0) {
      const size_t colon = data.find(':');
      if (colon == std::string::npos) return Bad(why, "\":\" is missing after hex");
      op.type = REG_BINARY;
      if (data.size() > 3 && data[3] == '(') {
        unsigned parsed = 0;
        char close = 0;
        if (std::sscanf(data.c_str() + 4, "%x%c", &parsed, &close) != 2 || close != ')')
          return Bad(why, "the hex type is not a hexadecimal number in brackets");
        op.type = parsed;
      } else if (colon != 3) {
        return Bad(why, "unknown data type");
      }
      if (!ParseHexBytes(data.substr(colon + 1), op.bytes)) return Bad(why, "malformed hex bytes");
      if (m_unicode && (op.type == REG_SZ || op.type == REG_EXPAND_SZ || op.type == REG_MULTI_SZ))
        op.bytes = Utf16LeToUtf8(op.bytes);
    } else {
      return Bad(why, "unknown data type");
    }
    if (op.bytes.size() > kRegMaxValueSize) return Bad(why, "the value is larger than the registry allows");
    // Values outside a key (or under a deleted one) are ignored, as regedit does.
    if (m_haveKey) m_ops.push_back(std::move(op));
    return true;
  }

  static bool Bad(std::string& why, const char* what) {
    why = what;
    return false;
  }

  bool Apply(std::string& error) {
    std::vector<HKEY> batches;
    for (const Operation& op : m_ops) {
      if (std::find(batches.begin(), batches.end(), op.key.root) != batches.end()) continue;
      if (LONG rc = platform::registry::BeginBatch(op.key.root)) {
        for (HKEY root : batches) platform::registry::EndBatch(root, platform::registry::BatchEnd::Rollback);
        return Failed(rc, op, error);
      }
      batches.push_back(op.key.root);
    }
    LONG rc = ERROR_SUCCESS;
    const Operation* failed = nullptr;
    for (const Operation& op : m_ops) {
      if ((rc = ApplyOne(op))) {
        failed = &op;
        break;
      }
    }
    // Two hives are two files: the second commit is the only step that could leave the first alone.
    for (HKEY root : batches) {
      const auto end = failed ? platform::registry::BatchEnd::Rollback : platform::registry::BatchEnd::Commit;
      const LONG ended = platform::registry::EndBatch(root, end);
      if (!failed && ended) {
        rc = ended;
        failed = &m_ops.front();
      }
    }
    return failed ? Failed(rc, *failed, error) : true;
  }

  static LONG ApplyOne(const Operation& op) {
    if (op.kind == Operation::kDeleteTree) {
      const LONG rc = RegDeleteTreeA(op.key.root, op.key.path.c_str());
      return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    }
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(op.key.root, op.key.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr);
    if (rc) return rc;
    if (op.kind == Operation::kSetValue) {
      rc = RegSetValueExA(key, op.name.c_str(), 0, op.type, reinterpret_cast<const BYTE*>(op.bytes.data()),
                          static_cast<DWORD>(op.bytes.size()));
    } else if (op.kind == Operation::kDeleteValue) {
      rc = RegDeleteValueA(key, op.name.c_str());
      if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return rc;
  }

  static bool Failed(LONG rc, const Operation& op, std::string& error) {
    std::string text = platform::registry::StoreProblem(op.key.root);
    if (text.empty()) {
      text = platform::FormatMessageText(static_cast<DWORD>(rc));
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    }
    error = "Line " + std::to_string(op.line) + ": " + text + " Nothing was imported.";
    return false;
  }

  std::vector<Operation> m_ops;
  KeyName m_key;
  bool m_haveKey = false;
  bool m_unicode = true;
};

}  // namespace

bool ParseKeyName(const std::string& text, KeyName& key) {
  std::string s = text;
  if (s.size() > 1 && s.back() == '\\') s.pop_back();
  const size_t slash = s.find('\\');
  const std::string root = Upper(s.substr(0, slash));
  if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
    key.root = HKEY_CURRENT_USER;
    key.rootName = "HKEY_CURRENT_USER";
  } else if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
    key.root = HKEY_LOCAL_MACHINE;
    key.rootName = "HKEY_LOCAL_MACHINE";
  } else {
    return false;
  }
  key.path = slash == std::string::npos ? std::string() : s.substr(slash + 1);
  if (slash != std::string::npos && key.path.empty()) return false;
  if (key.path.find("\\\\") != std::string::npos || (!key.path.empty() && key.path[0] == '\\')) return false;
  return true;
}

LONG WalkKeys(HKEY top, const std::string& topName, size_t topDepth, UnopenedKey unopened,
              const KeyVisitor& visit) {
  struct Frame {
    HKEY key;
    std::string name;
    size_t depth;
    std::vector<std::string> subkeys;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  auto enter = [&](HKEY key, std::string name, size_t depth) -> LONG {
    std::vector<std::string> subkeys;
    if (LONG rc = visit(key, name, depth, subkeys)) return rc;
    stack.push_back(Frame{key, std::move(name), depth, std::move(subkeys)});
    return ERROR_SUCCESS;
  };
  LONG rc = enter(top, topName, topDepth);
  while (rc == ERROR_SUCCESS && !stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.subkeys.size()) {
      if (frame.key != top) RegCloseKey(frame.key);
      stack.pop_back();
      continue;
    }
    const std::string& sub = frame.subkeys[frame.next++];
    HKEY child = nullptr;
    if (LONG opened = RegOpenKeyExA(frame.key, sub.c_str(), 0, KEY_READ, &child)) {
      if (unopened == UnopenedKey::Skip) continue;
      rc = opened;
      break;
    }
    std::string childName = frame.name + "\\" + sub;
    const size_t childDepth = frame.depth + 1;
    if ((rc = enter(child, std::move(childName), childDepth))) RegCloseKey(child);
  }
  for (Frame& frame : stack) {
    if (frame.key != top) RegCloseKey(frame.key);
  }
  return rc;
}

LONG ReadValues(HKEY key, std::vector<Value>& values) {
  values.clear();
  DWORD maxName = 0, maxData = 0;
  if (LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                                 &maxData, nullptr, nullptr))
    return rc;
  for (DWORD i = 0;; ++i) {
    std::string name(maxName + 1, '\0');
    std::string data(maxData + 1, '\0');
    DWORD nameLen = maxName + 1, dataLen = maxData + 1, type = 0;
    const LONG rc = RegEnumValueA(key, i, name.data(), &nameLen, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &dataLen);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc == ERROR_MORE_DATA) return ReadValues(key, values);  // changed meanwhile: start again
    if (rc) return rc;
    values.push_back({name.substr(0, nameLen), type, data.substr(0, dataLen)});
  }
}

LONG ReadSubkeys(HKEY key, std::vector<std::string>& names) {
  names.clear();
  for (DWORD i = 0;; ++i) {
    char name[kRegMaxKeyNameLength + 1];
    DWORD len = sizeof name;
    const LONG rc = RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc) return rc;
    names.emplace_back(name, len);
  }
}

size_t KeyDepth(const std::string& path) {
  return path.empty() ? 0 : static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) + 1;
}

LONG ExportKey(const KeyName& key, std::string& text, uint64_t maxBytes, ExportStop* stop) {
  ExportStop stopped = ExportStop::None;
  HKEY handle = nullptr;
  if (LONG rc = RegOpenKeyExA(key.root, key.path.c_str(), 0, KEY_READ, &handle)) return rc;
  KeyName stored = key;
  stored.path = StoredPath(key.root, key.path);
  text = std::string(kHeader5) + "\r\n\r\n";
  const LONG rc = ExportTree(handle, stored.Full(), KeyDepth(key.path), maxBytes, text, stopped);
  RegCloseKey(handle);
  if (stop) *stop = stopped;
  return rc;
}

bool ImportText(const std::string& fileBytes, std::string& error) {
  std::string text;
  if (fileBytes.size() >= 2 && static_cast<unsigned char>(fileBytes[0]) == 0xFF &&
      static_cast<unsigned char>(fileBytes[1]) == 0xFE) {
    text = Utf16LeToUtf8(fileBytes.substr(2));
  } else if (fileBytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = fileBytes.substr(3);
  } else {
    text = fileBytes;
  }
  Importer importer;
  return importer.Run(text, error);
}

std::string Utf8ToUtf16Le(const std::string& utf8) {
  std::string out;
  auto unit = [&out](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  };
  size_t i = 0;
  while (i < utf8.size()) {
    uint32_t cp = 0;
    const int n = platform::text::DecodeUtf8Char(utf8.data() + i, utf8.size() - i, &cp);
    if (n == 0) {
      unit(0xDC00 + static_cast<unsigned char>(utf8[i]));
      ++i;
      continue;
    }
    i += static_cast<size_t>(n);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

std::string Utf16LeToUtf8(const std::string& utf16) {
  std::string out;
  const size_t units = utf16.size() / 2;
  auto at = [&utf16](size_t k) {
    return static_cast<uint32_t>(static_cast<unsigned char>(utf16[2 * k])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(utf16[2 * k + 1])) << 8);
  };
  for (size_t k = 0; k < units; ++k) {
    const uint32_t u = at(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && at(k + 1) >= 0xDC00 && at(k + 1) <= 0xDFFF) {
      platform::text::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (at(k + 1) - 0xDC00));
      ++k;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);  // a byte that was not UTF-8
    } else {
      platform::text::AppendUtf8(out, u);
    }
  }
  return out;
}

}  // namespace regtool
