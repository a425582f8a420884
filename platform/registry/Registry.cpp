// The registry API on the SQLite hives (see Registry.h and Hive.h).
#include "platform/registry/Registry.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/registry/Hive.h"
#include "platform/text/Text.h"

using platform::registry::Hive;
using platform::registry::kRootKeyId;
using platform::registry::Root;

struct RegKeyObject {
  Root root;
  bool predefined;
  std::shared_ptr<Hive> hive;
  int64_t id;
  REGSAM sam;
  size_t depth;  // levels below the root
};

namespace {

RegKeyObject g_currentUser{Root::CurrentUser, true, nullptr, kRootKeyId, KEY_ALL_ACCESS, 0};
RegKeyObject g_localMachine{Root::LocalMachine, true, nullptr, kRootKeyId, KEY_ALL_ACCESS, 0};

constexpr REGSAM kDelete = 0x00010000;  // DELETE standard right
constexpr REGSAM kWow64Flags = 0x0300;  // KEY_WOW64_64KEY / KEY_WOW64_32KEY: one view here

std::mutex g_handleMutex;
std::unordered_set<RegKeyObject*>& LiveHandles() {
  static auto* live = new std::unordered_set<RegKeyObject*>();
  return *live;
}

std::mutex g_faultMutex;
platform::registry::FaultHook g_faultHook;

LONG Fault(const char* operation) {
  platform::registry::FaultHook hook;
  {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    hook = g_faultHook;
  }
  return hook ? hook(operation) : ERROR_SUCCESS;
}

// Registry calls return their code; on failure the thread's last error holds it too, so that a
// caller's "system error" log line shows the reason (Windows leaves it unspecified).
LONG Done(LONG rc) {
  if (rc != ERROR_SUCCESS) platform::SetLastError(static_cast<DWORD>(rc));
  return rc;
}

struct KeyRef {
  std::shared_ptr<Hive> hive;
  int64_t id = 0;
  REGSAM sam = 0;
  size_t depth = 0;
};

LONG Resolve(HKEY key, KeyRef& out) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
    LONG rc = ERROR_SUCCESS;
    out.hive = Hive::ForRoot(key->root, &rc);
    if (!out.hive) return rc == ERROR_SUCCESS ? ERROR_BADDB : rc;
    out.id = kRootKeyId;
    out.sam = KEY_ALL_ACCESS | kDelete;
    return ERROR_SUCCESS;
  }
  std::lock_guard<std::mutex> lock(g_handleMutex);
  if (!key || !LiveHandles().count(key)) return ERROR_INVALID_HANDLE;
  out.hive = key->hive;
  out.id = key->id;
  out.sam = key->sam;
  out.depth = key->depth;
  return ERROR_SUCCESS;
}

// Resolves key and checks that its handle was opened with one of the rights in access.
LONG ResolveFor(HKEY key, REGSAM access, KeyRef& ref) {
  if (LONG rc = Resolve(key, ref)) return rc;
  return ref.sam & access ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Splits "A\\B\\C"; null or "" is the key itself. Empty components are refused.
LONG ParsePath(const char* subKey, std::vector<std::string>& parts) {
  parts.clear();
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  const char* start = subKey;
  for (const char* p = subKey;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (p == start) return ERROR_BAD_PATHNAME;
      parts.emplace_back(start, p);
      if (*p == '\0') break;
      start = p + 1;
    }
  }
  return ERROR_SUCCESS;
}

// The common start of RegOpenKeyExA and RegCreateKeyExA: result cleared, root resolved, path split.
LONG StartOpen(const char* operation, HKEY root, const char* subKey, HKEY* result, KeyRef& ref,
               std::vector<std::string>& parts) {
  if (LONG rc = Fault(operation)) return rc;
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (LONG rc = Resolve(root, ref)) return rc;
  return ParsePath(subKey, parts);
}

void BindText(sqlite3_stmt* st, int index, const std::string& text) {
  sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* st, int column) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_blob(st, column));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st, column))) : std::string();
}

LONG StepError(Hive& hive, int rc) {
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? ERROR_SUCCESS : hive.Error(rc);
}

// ERROR_SUCCESS when the key still exists, ERROR_KEY_DELETED when another handle or process removed it.
LONG CheckKey(Hive& hive, int64_t id) {
  if (id == kRootKeyId) return ERROR_SUCCESS;
  sqlite3_stmt* st = hive.Statement("SELECT 1 FROM keys WHERE id = ?1");
  if (!st) return ERROR_BADDB;
  sqlite3_bind_int64(st, 1, id);
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return hive.Error(rc);
}

// Holds the hive's lock and an open transaction, rolled back unless committed. Beginning checks that
// the key worked on still exists.
class Transaction {
 public:
  explicit Transaction(Hive& hive) : m_hive(hive), m_lock(hive.mutex()) {}
  ~Transaction() {
    if (m_active) m_hive.Rollback();
  }
  LONG BeginRead(int64_t key) { return Begin(m_hive.BeginRead(), key); }
  LONG BeginWrite(int64_t key) { return Begin(m_hive.BeginWrite(), key); }
  LONG Commit(const char* writeOperation) {
    m_active = false;
    return m_hive.Commit(writeOperation);
  }

 private:
  LONG Begin(LONG rc, int64_t key) {
    m_active = rc == ERROR_SUCCESS;
    return m_active ? CheckKey(m_hive, key) : rc;
  }

  Hive& m_hive;
  std::lock_guard<std::mutex> m_lock;
  bool m_active = false;
};

// Finds the child of parent named name (ignoring case). ERROR_FILE_NOT_FOUND when there is none.
LONG FindChild(Hive& hive, int64_t parent, const std::string& name, int64_t& child) {
  sqlite3_stmt* st = hive.Statement("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
  if (!st) return ERROR_BADDB;
  sqlite3_bind_int64(st, 1, parent);
  BindText(st, 2, platform::text::ToUpperUtf8(name));
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    child = sqlite3_column_int64(st, 0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : hive.Error(rc);
}

// Walks parts from id; on success id is the last key's. stopped tells how many parts were found.
LONG Walk(Hive& hive, int64_t& id, const std::vector<std::string>& parts, size_t& found) {
  found = 0;
  for (const std::string& part : parts) {
    int64_t child = 0;
    const LONG rc = FindChild(hive, id, part, child);
    if (rc != ERROR_SUCCESS) return rc;
    id = child;
    ++found;
  }
  return ERROR_SUCCESS;
}

LONG HasSubkeys(Hive& hive, int64_t id, bool& has) {
  sqlite3_stmt* st = hive.Statement("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
  if (!st) return ERROR_BADDB;
  sqlite3_bind_int64(st, 1, id);
  const int rc = sqlite3_step(st);
  has = rc == SQLITE_ROW;
  return StepError(hive, rc);
}

// The bytes RegQueryValueExA returns for a stored value: text gets its terminating zero, a 4-byte
// REG_DWORD is stored as an integer, anything else is stored and returned as bytes.
std::string ValueBytes(sqlite3_stmt* st, int column) {
  switch (sqlite3_column_type(st, column)) {
    case SQLITE_TEXT: {
      std::string s = ColumnText(st, column);
      s.push_back('\0');
      return s;
    }
    case SQLITE_INTEGER: {
      const auto v = static_cast<uint32_t>(sqlite3_column_int64(st, column));
      std::string s(4, '\0');
      for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
      return s;
    }
    case SQLITE_BLOB:
      return ColumnText(st, column);
    default:
      return std::string();
  }
}

// Deletes the subtree at id: its values and keys; with keepTop the key itself stays (values go).
LONG DeleteSubtree(Hive& hive, int64_t id, bool keepTop) {
  sqlite3_stmt* st = hive.Statement(
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN sub ON keys.parent = "
      "sub.id) "
      "DELETE FROM vals WHERE key IN sub");
  if (!st) return ERROR_BADDB;
  sqlite3_bind_int64(st, 1, id);
  int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) return hive.Error(rc);
  st = hive.Statement(
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN sub ON keys.parent = "
      "sub.id) "
      "DELETE FROM keys WHERE id IN sub AND (?2 = 0 OR id <> ?1)");
  if (!st) return ERROR_BADDB;
  sqlite3_bind_int64(st, 1, id);
  sqlite3_bind_int(st, 2, keepTop ? 1 : 0);
  rc = sqlite3_step(st);
  return rc == SQLITE_DONE ? ERROR_SUCCESS : hive.Error(rc);
}

// Walks parts from id in a read transaction, so that opening an existing key takes no write lock.
LONG LookUp(Hive& hive, int64_t& id, const std::vector<std::string>& parts) {
  Transaction tx(hive);
  if (LONG rc = tx.BeginRead(id)) return rc;
  size_t found = 0;
  const LONG walked = Walk(hive, id, parts, found);
  if (walked == ERROR_SUCCESS || walked == ERROR_FILE_NOT_FOUND) tx.Commit(nullptr);
  return walked;
}

// Steps st, a listing of key's subkeys or values, to the row at index; ERROR_NO_MORE_ITEMS past the end.
LONG StepToItem(Hive& hive, sqlite3_stmt* st, int64_t key, DWORD index) {
  if (!st) return ERROR_BADDB;
  sqlite3_bind_int64(st, 1, key);
  sqlite3_bind_int64(st, 2, index);
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  return rc == SQLITE_ROW ? ERROR_SUCCESS : hive.Error(rc);
}

// Like Windows, a short name buffer gets ERROR_MORE_DATA and cchName is left as it was.
LONG CopyName(const std::string& text, char* name, DWORD* cchName) {
  if (text.size() + 1 > *cchName) return ERROR_MORE_DATA;
  std::memcpy(name, text.c_str(), text.size() + 1);
  *cchName = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

// Hands a value's bytes out; a short data buffer gets ERROR_MORE_DATA and the size it needs.
LONG CopyData(const std::string& bytes, BYTE* data, DWORD* cbData) {
  const auto size = static_cast<DWORD>(bytes.size());
  if (data) {
    if (*cbData < size) {
      *cbData = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, bytes.data(), size);
  }
  if (cbData) *cbData = size;
  return ERROR_SUCCESS;
}

// The common path of RegDeleteKeyA and RegDeleteTreeA: finds subKey below key in a write transaction,
// lets remove take away what is at the key found, and commits.
template <typename Remove>
LONG DeleteBelow(HKEY key, const char* subKey, Remove remove) {
  KeyRef ref;
  std::vector<std::string> parts;
  if (LONG rc = Resolve(key, ref)) return rc;
  if (LONG rc = ParsePath(subKey, parts)) return rc;
  if (!(ref.sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | kDelete))) return ERROR_ACCESS_DENIED;
  Hive& hive = *ref.hive;
  Transaction tx(hive);
  if (LONG rc = tx.BeginWrite(ref.id)) return rc;
  int64_t id = ref.id;
  size_t found = 0;
  if (LONG rc = Walk(hive, id, parts, found)) return rc;
  if (LONG rc = remove(hive, id)) return rc;
  return tx.Commit("delete");
}

HKEY NewHandle(const KeyRef& parent, int64_t id, REGSAM sam, size_t levels) {
  auto* key =
      new RegKeyObject{Root::CurrentUser, false, parent.hive, id, sam & ~kWow64Flags, parent.depth + levels};
  std::lock_guard<std::mutex> lock(g_handleMutex);
  LiveHandles().insert(key);
  return key;
}

}  // namespace

HKEY const HKEY_CURRENT_USER = &g_currentUser;
HKEY const HKEY_LOCAL_MACHINE = &g_localMachine;

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM sam, HKEY* result) {
  KeyRef ref;
  std::vector<std::string> parts;
  if (LONG rc = StartOpen("open", root, subKey, result, ref, parts)) return Done(rc);
  int64_t id = ref.id;
  if (LONG rc = LookUp(*ref.hive, id, parts)) return Done(rc);
  *result = NewHandle(ref, id, sam, parts.size());
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM sam,
                     void* security, HKEY* result, DWORD* disposition) {
  KeyRef ref;
  std::vector<std::string> parts;
  if (LONG rc = StartOpen("create", root, subKey, result, ref, parts)) return Done(rc);
  for (const std::string& part : parts) {
    if (part.size() > kRegMaxKeyNameLength) return Done(ERROR_INVALID_PARAMETER);
  }
  Hive& hive = *ref.hive;
  int64_t id = ref.id;
  bool created = false;
  // Most calls open an existing key: look first without taking the hive's write lock.
  const LONG walked = LookUp(hive, id, parts);
  if (walked != ERROR_SUCCESS && walked != ERROR_FILE_NOT_FOUND) return Done(walked);
  if (walked == ERROR_FILE_NOT_FOUND) {
    if (!(ref.sam & KEY_CREATE_SUB_KEY)) return Done(ERROR_ACCESS_DENIED);
    if (ref.depth + parts.size() > kRegMaxKeyDepth) return Done(ERROR_INVALID_PARAMETER);
    id = ref.id;
    Transaction tx(hive);
    if (LONG rc = tx.BeginWrite(id)) return Done(rc);
    for (const std::string& part : parts) {
      int64_t child = 0;
      const LONG frc = FindChild(hive, id, part, child);
      if (frc == ERROR_FILE_NOT_FOUND) {
        sqlite3_stmt* st = hive.Statement("INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)");
        if (!st) return Done(ERROR_BADDB);
        sqlite3_bind_int64(st, 1, id);
        BindText(st, 2, part);
        BindText(st, 3, platform::text::ToUpperUtf8(part));
        const int src = sqlite3_step(st);
        if (src != SQLITE_DONE) return Done(hive.Error(src));
        child = sqlite3_last_insert_rowid(hive.db());
        created = true;
      } else if (frc != ERROR_SUCCESS) {
        return Done(frc);
      }
      id = child;
    }
    if (LONG rc = tx.Commit("create")) return Done(rc);
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(ref, id, sam, parts.size());
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    if (!key || !LiveHandles().erase(key)) return Done(ERROR_INVALID_HANDLE);
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
  KeyRef ref;
  if (LONG rc = Resolve(key, ref)) return Done(rc);
  std::lock_guard<std::mutex> lock(ref.hive->mutex());
  return Done(ref.hive->Flush());
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData) {
  if (LONG rc = Fault("query")) return Done(rc);
  if (reserved || (data && !cbData)) return Done(ERROR_INVALID_PARAMETER);
  KeyRef ref;
  if (LONG rc = ResolveFor(key, KEY_QUERY_VALUE, ref)) return Done(rc);
  Hive& hive = *ref.hive;
  DWORD valueType = REG_NONE;
  std::string bytes;
  {
    Transaction tx(hive);
    if (LONG rc = tx.BeginRead(ref.id)) return Done(rc);
    sqlite3_stmt* st = hive.Statement("SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    if (!st) return Done(ERROR_BADDB);
    sqlite3_bind_int64(st, 1, ref.id);
    BindText(st, 2, platform::text::ToUpperUtf8(name ? name : ""));
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) return Done(ERROR_FILE_NOT_FOUND);
    if (rc != SQLITE_ROW) return Done(hive.Error(rc));
    valueType = static_cast<DWORD>(sqlite3_column_int64(st, 0));
    bytes = ValueBytes(st, 1);
    tx.Commit(nullptr);
  }
  if (type) *type = valueType;
  return Done(CopyData(bytes, data, cbData));
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData) {
  if (LONG rc = Fault("set")) return Done(rc);
  if (cbData > kRegMaxValueSize || (!data && cbData)) return Done(ERROR_INVALID_PARAMETER);
  const std::string valueName = name ? name : "";
  if (valueName.size() > kRegMaxValueNameLength) return Done(ERROR_INVALID_PARAMETER);
  KeyRef ref;
  if (LONG rc = ResolveFor(key, KEY_SET_VALUE, ref)) return Done(rc);
  Hive& hive = *ref.hive;
  Transaction tx(hive);
  if (LONG rc = tx.BeginWrite(ref.id)) return Done(rc);
  // Setting an existing value keeps its name's case and its place in the enumeration, as on Windows.
  sqlite3_stmt* st = hive.Statement(
      "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
      "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (!st) return Done(ERROR_BADDB);
  sqlite3_bind_int64(st, 1, ref.id);
  BindText(st, 2, valueName);
  BindText(st, 3, platform::text::ToUpperUtf8(valueName));
  sqlite3_bind_int64(st, 4, type);
  const char* bytes = reinterpret_cast<const char*>(data);
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    // A string is its text up to the first zero; it is always returned with one terminating zero.
    size_t len = 0;
    while (len < cbData && bytes[len] != '\0') ++len;
    sqlite3_bind_text(st, 5, cbData ? bytes : "", static_cast<int>(len), SQLITE_TRANSIENT);
  } else if (type == REG_DWORD && cbData == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data[i];
    sqlite3_bind_int64(st, 5, v);
  } else if (cbData == 0) {
    sqlite3_bind_zeroblob(st, 5, 0);
  } else {
    sqlite3_bind_blob(st, 5, data, static_cast<int>(cbData), SQLITE_TRANSIENT);
  }
  const int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) return Done(hive.Error(rc));
  return Done(tx.Commit("set"));
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, char* keyClass,
                   DWORD* cchClass, void* lastWriteTime) {
  if (LONG rc = Fault("enum")) return Done(rc);
  if (!name || !cchName || reserved) return Done(ERROR_INVALID_PARAMETER);
  KeyRef ref;
  if (LONG rc = ResolveFor(key, KEY_ENUMERATE_SUB_KEYS, ref)) return Done(rc);
  Hive& hive = *ref.hive;
  std::string found;
  {
    Transaction tx(hive);
    if (LONG rc = tx.BeginRead(ref.id)) return Done(rc);
    sqlite3_stmt* st =
        hive.Statement("SELECT name FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
    if (LONG rc = StepToItem(hive, st, ref.id, index)) return Done(rc);
    found = ColumnText(st, 0);
    tx.Commit(nullptr);
  }
  if (LONG rc = CopyName(found, name, cchName)) return Done(rc);
  if (keyClass && cchClass && *cchClass > 0) keyClass[0] = '\0';
  if (cchClass) *cchClass = 0;
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* cbData) {
  if (LONG rc = Fault("enum")) return Done(rc);
  if (!name || !cchName || reserved || (data && !cbData)) return Done(ERROR_INVALID_PARAMETER);
  KeyRef ref;
  if (LONG rc = ResolveFor(key, KEY_QUERY_VALUE, ref)) return Done(rc);
  Hive& hive = *ref.hive;
  std::string valueName, bytes;
  DWORD valueType = REG_NONE;
  {
    Transaction tx(hive);
    if (LONG rc = tx.BeginRead(ref.id)) return Done(rc);
    sqlite3_stmt* st =
        hive.Statement("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
    if (LONG rc = StepToItem(hive, st, ref.id, index)) return Done(rc);
    valueName = ColumnText(st, 0);
    valueType = static_cast<DWORD>(sqlite3_column_int64(st, 1));
    bytes = ValueBytes(st, 2);
    tx.Commit(nullptr);
  }
  if (LONG rc = CopyName(valueName, name, cchName)) return Done(rc);
  if (type) *type = valueType;
  return Done(CopyData(bytes, data, cbData));
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
  if (LONG rc = Fault("delete")) return Done(rc);
  if (!subKey) return Done(ERROR_INVALID_PARAMETER);
  return Done(DeleteBelow(key, subKey, [](Hive& hive, int64_t id) -> LONG {
    if (id == kRootKeyId) return ERROR_ACCESS_DENIED;
    bool has = false;
    if (LONG rc = HasSubkeys(hive, id, has)) return rc;
    if (has) return ERROR_ACCESS_DENIED;
    return DeleteSubtree(hive, id, false);
  }));
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) {
  if (LONG rc = Fault("delete")) return Done(rc);
  return Done(DeleteBelow(key, subKey, [subKey](Hive& hive, int64_t id) {
    // A null subKey empties the key itself (its values and subkeys) and keeps it, as Windows does.
    return DeleteSubtree(hive, id, !subKey || id == kRootKeyId);
  }));
}

LONG RegDeleteValueA(HKEY key, const char* name) {
  if (LONG rc = Fault("delete")) return Done(rc);
  KeyRef ref;
  if (LONG rc = ResolveFor(key, KEY_SET_VALUE, ref)) return Done(rc);
  Hive& hive = *ref.hive;
  Transaction tx(hive);
  if (LONG rc = tx.BeginWrite(ref.id)) return Done(rc);
  sqlite3_stmt* st = hive.Statement("DELETE FROM vals WHERE key = ?1 AND fold = ?2");
  if (!st) return Done(ERROR_BADDB);
  sqlite3_bind_int64(st, 1, ref.id);
  BindText(st, 2, platform::text::ToUpperUtf8(name ? name : ""));
  const int rc = sqlite3_step(st);
  if (rc != SQLITE_DONE) return Done(hive.Error(rc));
  if (sqlite3_changes(hive.db()) == 0) return Done(ERROR_FILE_NOT_FOUND);
  return Done(tx.Commit("delete"));
}

LONG RegQueryInfoKeyA(HKEY key, char* keyClass, DWORD* cchClass, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                      DWORD* maxValueLen, DWORD* securityDescriptor, void* lastWriteTime) {
  if (LONG rc = Fault("enum")) return Done(rc);
  if (reserved) return Done(ERROR_INVALID_PARAMETER);
  KeyRef ref;
  if (LONG rc = ResolveFor(key, KEY_QUERY_VALUE, ref)) return Done(rc);
  Hive& hive = *ref.hive;
  Transaction tx(hive);
  if (LONG rc = tx.BeginRead(ref.id)) return Done(rc);
  sqlite3_stmt* st = hive.Statement(
      "SELECT COUNT(*), IFNULL(MAX(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent = ?1");
  if (!st) return Done(ERROR_BADDB);
  sqlite3_bind_int64(st, 1, ref.id);
  if (sqlite3_step(st) != SQLITE_ROW) return Done(ERROR_BADDB);
  if (subKeys) *subKeys = static_cast<DWORD>(sqlite3_column_int64(st, 0));
  if (maxSubKeyLen) *maxSubKeyLen = static_cast<DWORD>(sqlite3_column_int64(st, 1));
  st = hive.Statement(
      "SELECT COUNT(*), IFNULL(MAX(length(CAST(name AS BLOB))), 0), IFNULL(MAX(CASE typeof(data) "
      "WHEN 'text' THEN length(CAST(data AS BLOB)) + 1 WHEN 'integer' THEN 4 WHEN 'blob' THEN length(data) "
      "ELSE 0 END), 0) FROM vals WHERE key = ?1");
  if (!st) return Done(ERROR_BADDB);
  sqlite3_bind_int64(st, 1, ref.id);
  if (sqlite3_step(st) != SQLITE_ROW) return Done(ERROR_BADDB);
  if (values) *values = static_cast<DWORD>(sqlite3_column_int64(st, 0));
  if (maxValueNameLen) *maxValueNameLen = static_cast<DWORD>(sqlite3_column_int64(st, 1));
  if (maxValueLen) *maxValueLen = static_cast<DWORD>(sqlite3_column_int64(st, 2));
  tx.Commit(nullptr);
  if (keyClass && cchClass && *cchClass > 0) keyClass[0] = '\0';
  if (cchClass) *cchClass = 0;
  if (maxClassLen) *maxClassLen = 0;
  if (securityDescriptor) *securityDescriptor = 0;
  return ERROR_SUCCESS;
}

namespace platform::registry {

std::string HiveDirectory(HKEY root) {
  if (root == HKEY_CURRENT_USER) return Hive::DirectoryOf(Root::CurrentUser);
  if (root == HKEY_LOCAL_MACHINE) return Hive::DirectoryOf(Root::LocalMachine);
  return std::string();
}

bool PredefinedRoot(HKEY key, Root& root) {
  if (key != HKEY_CURRENT_USER && key != HKEY_LOCAL_MACHINE) return false;
  root = key->root;
  return true;
}

uint64_t HiveBytes(HKEY root) {
  Root which;
  if (!PredefinedRoot(root, which)) return 0;
  uint64_t bytes = 0;
  for (const char* suffix : {"", "-wal"}) {
    struct stat st {};
    if (stat((Hive::FileOf(which) + suffix).c_str(), &st) == 0) bytes += static_cast<uint64_t>(st.st_size);
  }
  return bytes;
}

std::string StoreProblem(HKEY root) {
  Root which;
  if (!PredefinedRoot(root, which)) return std::string();
  LONG rc = ERROR_SUCCESS;
  Hive::ForRoot(which, &rc);
  return rc == ERROR_SUCCESS ? std::string() : Hive::ProblemOf(which);
}

LONG BeginBatch(HKEY root) {
  KeyRef ref;
  if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  if (LONG rc = Resolve(root, ref)) return rc;
  std::lock_guard<std::mutex> lock(ref.hive->mutex());
  return ref.hive->BeginBatch();
}

LONG EndBatch(HKEY root, BatchEnd end) {
  KeyRef ref;
  if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  if (LONG rc = Resolve(root, ref)) return rc;
  std::lock_guard<std::mutex> lock(ref.hive->mutex());
  return ref.hive->EndBatch(end == BatchEnd::Commit);
}

void SetFaultHook(FaultHook hook) {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  g_faultHook = std::move(hook);
}

}  // namespace platform::registry
