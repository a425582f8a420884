// Opening hive databases and running their transactions (see Hive.h).
#include "platform/registry/Hive.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/registry/Registry.h"

namespace platform::registry {

namespace {

// How long a writer waits for another process's transaction before giving up with ERROR_BUSY.
constexpr int kBusyTimeoutMs = 10000;

std::mutex g_cacheMutex;

// Every hive connection is opened here. Hives are a few pages, and SQLite's first allocation of
// page-cache slots for a connection (some 90 KB, all written at once) cost a process more than the
// pages it reads: a fresh page is dear, over ten microseconds in a virtual machine. The setting must
// come before SQLite starts; where something else in the process started it first, its own stands.
int OpenDatabase(const std::string& file, sqlite3** db, int flags) {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0); });
  return sqlite3_open_v2(file.c_str(), db, flags, nullptr);
}

std::mutex g_hookMutex;
std::function<void(const char*)> g_commitHook;

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

// mkdir -p; true when the directory exists afterwards, else *err holds the reason (ENOTDIR when a part
// of the path is something other than a folder).
bool MakeDirectories(const std::string& dir, mode_t mode, int* err) {
  struct stat st {};
  *err = 0;
  if (stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) *err = ENOTDIR;
    return *err == 0;
  }
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos == dir.size() || dir[pos] == '/') {
      const std::string part = dir.substr(0, pos);
      if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
        *err = errno;
        return false;
      }
    }
  }
  if (stat(dir.c_str(), &st) != 0) {
    *err = errno;
    return false;
  }
  if (!S_ISDIR(st.st_mode)) *err = ENOTDIR;
  return *err == 0;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

std::mutex g_problemMutex;

std::map<Root, std::string>& Problems() {
  static auto* problems = new std::map<Root, std::string>();  // lives until exit
  return *problems;
}

void SetProblem(Root root, const std::string& text) {
  std::lock_guard<std::mutex> lock(g_problemMutex);
  if (text.empty())
    Problems().erase(root);
  else
    Problems()[root] = text;
}

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data,"
    " PRIMARY KEY(key, fold));"
    "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(1, 0, '', '');"
    "PRAGMA user_version = 1;";

}  // namespace

LONG ErrorFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_IOERR:
      return ERROR_WRITE_FAULT;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_BADDB;  // SQLITE_CORRUPT, SQLITE_NOTADB, SQLITE_SCHEMA, ...
  }
}

void CallCommitHook(const char* operation) {
  std::function<void(const char*)> hook;
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    hook = g_commitHook;
  }
  if (hook) hook(operation);
}

void SetCommitHook(CommitHook hook) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  g_commitHook = std::move(hook);
}

std::string Hive::DirectoryOf(Root root) {
  const char* override = std::getenv("MARLIN3_REGISTRY_DIR");
  if (override && *override) return WithSlash(override);
  if (root == Root::LocalMachine) return "/var/lib/marlin3/";
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string config = (xdg && *xdg) ? std::string(xdg) : HomeDirectory() + "/.config";
  return WithSlash(config) + "marlin3/";
}

namespace {

// While `keep`: no statement may write, and closing does not fold the write-ahead log into the file.
void KeepFromWriting(sqlite3* db, bool keep) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, keep ? 1 : 0, nullptr);
  sqlite3_exec(db, keep ? "PRAGMA query_only=1" : "PRAGMA query_only=0", nullptr, nullptr, nullptr);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
}

}  // namespace

// Opens a hive file for reading only, without ever writing to it: no statement may write, and closing
// does not fold the write-ahead log into the file. Read-write (never create) where allowed, since a
// WAL database opened read-only cannot be read without its index file; read-only otherwise.
int OpenForExamining(const std::string& file, sqlite3** db) {
  int rc = OpenDatabase(file, db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(*db);
    *db = nullptr;
    rc = OpenDatabase(file, db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) return rc;
  }
  KeepFromWriting(*db, true);
  return SQLITE_OK;
}

std::map<std::string, std::shared_ptr<Hive>>& Hive::Cache() {
  static auto* cache = new std::map<std::string, std::shared_ptr<Hive>>();  // lives until exit
  return *cache;
}

std::shared_ptr<Hive> Hive::ForRoot(Root root, LONG* error) {
  const std::string dir = DirectoryOf(root);
  const std::string file = FileOf(root);
  // Keyed by file and process: a forked child must not use its parent's connection (SQLite's rule).
  // Such a child should still exec before it uses the registry: SQLite's in-process lock bookkeeping
  // is copied from the parent.
  const std::string cacheKey = std::to_string(getpid()) + ":" + file;
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  auto* cache = &Cache();
  auto it = cache->find(cacheKey);
  if (it != cache->end()) return it->second;
  std::shared_ptr<Hive> hive(new Hive());
  std::string problem;
  const LONG rc = hive->Open(dir, file, problem);
  SetProblem(root, problem);
  if (rc != ERROR_SUCCESS) {
    if (error) *error = rc;
    return nullptr;
  }
  (*cache)[cacheKey] = hive;
  return hive;
}

std::string Hive::FileOf(Root root) {
  return DirectoryOf(root) + (root == Root::CurrentUser ? "HKCU.db" : "HKLM.db");
}

std::string Hive::ProblemOf(Root root) {
  std::lock_guard<std::mutex> lock(g_problemMutex);
  auto it = Problems().find(root);
  return it == Problems().end() ? std::string() : it->second;
}

void Hive::Forget(Root root) {
  const std::string cacheKey = std::to_string(getpid()) + ":" + FileOf(root);
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  Cache().erase(cacheKey);
}

// Looks at an existing hive file without writing to it: a file SQLite cannot read, one whose pages do
// not pass the quick check, or a database of something else is damaged, and must never be opened for
// writing (SQLite would build on the broken pages, and a fallback empty hive would hide every value).
LONG Hive::Examine(const std::string& file, std::string& problem) {
  sqlite3* db = nullptr;
  int rc = OpenForExamining(file, &db);
  if (rc != SQLITE_OK) {
    const std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    problem = "The registry file " + Quoted(file) + " cannot be opened: " + why;
    return ERROR_REGISTRY_IO_FAILED;
  }
  const LONG result = Check(db, file, problem);
  sqlite3_close_v2(db);
  return result;
}

// The checks of Examine on a connection that writes nothing (see OpenForExamining).
LONG Hive::Check(sqlite3* db, const std::string& file, std::string& problem) {
  auto damaged = [&](const std::string& why) {
    problem = "The registry file " + Quoted(file) + " is damaged: " + why;
    return ERROR_BADDB;
  };
  std::string first;
  char* message = nullptr;
  const int rc = sqlite3_exec(
      db, "PRAGMA quick_check(1)",
      [](void* out, int, char** values, char**) {
        auto* text = static_cast<std::string*>(out);
        if (text->empty() && values[0]) *text = values[0];
        return 0;
      },
      &first, &message);
  std::string why = message ? message : "";
  sqlite3_free(message);
  LONG result = ERROR_SUCCESS;
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    result = ERROR_SUCCESS;  // a writer of another process holds it: not a sign of damage
  } else if (rc == SQLITE_CANTOPEN || rc == SQLITE_PERM || rc == SQLITE_READONLY) {
    result = ERROR_SUCCESS;  // WAL index not creatable here (read-only folder): the later open decides
  } else if (rc != SQLITE_OK) {
    result = damaged(why.empty() ? sqlite3_errstr(rc) : why);
  } else if (first != "ok") {
    result = damaged(first.empty() ? "the integrity check gave no answer" : first);
  } else {
    // A healthy database must be a hive (both tables) or still empty.
    int tables = 0, ours = 0;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT count(*), sum(name IN ('keys','vals')) FROM sqlite_master "
                           "WHERE type='table' AND name NOT LIKE 'sqlite_%'",
                           -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      tables = sqlite3_column_int(st, 0);
      ours = sqlite3_column_int(st, 1);
    }
    sqlite3_finalize(st);
    if (tables != 0 && ours != 2) result = damaged("it is not a registry hive");
  }
  return result;
}

LONG Hive::Open(const std::string& dir, const std::string& file, std::string& problem) {
  int dirError = 0;
  const bool haveDir = MakeDirectories(dir, dir.find("/var/lib/") == 0 ? 0755 : 0700, &dirError);
  // A folder that may not be made (HKLM for a normal user before set-up) just means "no hive yet";
  // anything else in the way is a store that cannot be opened, and is said so.
  if (!haveDir && dirError != EACCES && dirError != EPERM && dirError != EROFS) {
    problem = "The registry folder " + Quoted(dir) + " cannot be opened: " + std::strerror(dirError);
    return ERROR_REGISTRY_IO_FAILED;
  }
  struct stat st {};
  bool existing = false;  // a file with something in it, which is checked before anything is written
  if (stat(file.c_str(), &st) == 0) {
    existing = st.st_size > 0;
    if (!S_ISREG(st.st_mode)) {
      problem = "The registry file " + Quoted(file) + " cannot be opened: it is not a regular file";
      return ERROR_REGISTRY_IO_FAILED;
    }
    if (access(file.c_str(), R_OK) != 0) {
      problem = "The registry file " + Quoted(file) + " cannot be opened: " + std::strerror(errno);
      return ERROR_REGISTRY_IO_FAILED;
    }
  } else if (errno != ENOENT) {
    problem = "The registry file " + Quoted(file) + " cannot be opened: " + std::strerror(errno);
    return ERROR_REGISTRY_IO_FAILED;
  }
  int rc = SQLITE_CANTOPEN;
  if (haveDir) {
    rc = OpenDatabase(file, &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  }
  if (rc == SQLITE_OK && existing) {
    // An existing file is checked on the connection that will use it (one start of SQLite's log
    // instead of two), which neither writes nor folds its log in until the file has passed.
    KeepFromWriting(m_db, true);
    if (LONG damage = Check(m_db, file, problem)) {
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      return damage;
    }
    KeepFromWriting(m_db, false);
  } else if (rc != SQLITE_OK && existing) {
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    if (LONG damage = Examine(file, problem)) return damage;
  }
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    m_writable = sqlite3_db_readonly(m_db, "main") == 0;
    if (m_writable) {
      // WAL lets readers and one writer of several processes work at once; NORMAL sync keeps every
      // committed transaction whole across a killed process (only a power cut may lose the last ones).
      rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                        nullptr);
      if (rc == SQLITE_OK) rc = CreateSchema();
      if (rc != SQLITE_OK) m_writable = false;
    }
    if (!m_writable) {
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      rc = SQLITE_CANTOPEN;
    }
  }
  if (rc != SQLITE_OK) {
    // A hive folder that cannot be written (HKLM for a normal user): read what is there, refuse writes.
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_writable = false;
    if (access(file.c_str(), R_OK) == 0) {
      if (OpenReadOnly(file, false) || OpenReadOnly(file, true)) return ERROR_SUCCESS;
    }
    // No hive file at all: an empty in-memory hive, so reads find nothing and writes are refused.
    if (OpenDatabase(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX) != SQLITE_OK)
      return ERROR_NOT_ENOUGH_MEMORY;
    sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
  }
  return ERROR_SUCCESS;
}

// A WAL database needs its -shm file to be read; when the last writer has closed it and this process
// may not create files in the folder (HKLM for a normal user), the hive is read as immutable instead:
// consistent as of the moment it is read, which is what a reader of the installer's values needs.
bool Hive::OpenReadOnly(const std::string& file, bool immutable) {
  std::string name = file;
  int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
  if (immutable) {
    name = "file:";
    for (char c : file) {
      if (c == '%' || c == '?' || c == '#') {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
        name += hex;
      } else {
        name += c;
      }
    }
    name += "?immutable=1";
    flags |= SQLITE_OPEN_URI;
  }
  if (OpenDatabase(name, &m_db, flags) == SQLITE_OK) {
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    if (sqlite3_exec(m_db, "SELECT 1 FROM keys LIMIT 1", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  }
  if (m_db) sqlite3_close_v2(m_db);
  m_db = nullptr;
  return false;
}

int Hive::CreateSchema() {
  sqlite3_stmt* st = nullptr;
  int version = 0;
  if (sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    version = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  if (version >= 1) return SQLITE_OK;
  int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
  return rc;
}

Hive::~Hive() {
  for (auto& [sql, st] : m_statements) sqlite3_finalize(st);
  if (m_db) sqlite3_close_v2(m_db);
}

sqlite3_stmt* Hive::Statement(const char* sql) {
  auto it = m_statements.find(sql);
  if (it != m_statements.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) return nullptr;
  m_statements[sql] = st;
  return st;
}

// Inside a batch each operation is a savepoint of the batch's one transaction, so a failed operation
// still undoes only itself and the batch decides at its end whether anything is kept.
LONG Hive::BeginRead() {
  return ErrorFromSqlite(sqlite3_exec(m_db, m_inBatch ? "SAVEPOINT op" : "BEGIN", nullptr, nullptr, nullptr));
}

LONG Hive::BeginWrite() {
  if (!m_writable) return ERROR_ACCESS_DENIED;
  return ErrorFromSqlite(
      sqlite3_exec(m_db, m_inBatch ? "SAVEPOINT op" : "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
}

LONG Hive::Commit(const char* operation) {
  for (auto& [sql, st] : m_statements) sqlite3_reset(st);
  if (m_inBatch) return ErrorFromSqlite(sqlite3_exec(m_db, "RELEASE op", nullptr, nullptr, nullptr));
  if (operation) CallCommitHook(operation);
  const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Rollback();
  return ErrorFromSqlite(rc);
}

LONG Hive::Flush() {
  if (!m_writable || m_inBatch) return ERROR_SUCCESS;  // a batch's changes are folded after it
  for (auto& [sql, st] : m_statements) sqlite3_reset(st);
  int logFrames = 0, folded = 0;
  const int rc = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &folded);
  // Busy: a reader of another process still uses the log; what it allowed was folded, the rest
  // stays in the log, which is as safe, only slower to open.
  return rc == SQLITE_BUSY ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

void Hive::Rollback() {
  for (auto& [sql, st] : m_statements) sqlite3_reset(st);
  if (m_inBatch) {
    sqlite3_exec(m_db, "ROLLBACK TO op; RELEASE op", nullptr, nullptr, nullptr);
    return;
  }
  if (!sqlite3_get_autocommit(m_db)) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

LONG Hive::BeginBatch() {
  if (m_inBatch) return ERROR_BUSY;
  if (!m_writable) return ERROR_ACCESS_DENIED;
  const LONG rc = ErrorFromSqlite(sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  m_inBatch = rc == ERROR_SUCCESS;
  return rc;
}

LONG Hive::EndBatch(bool commit) {
  if (!m_inBatch) return ERROR_INVALID_PARAMETER;
  m_inBatch = false;
  for (auto& [sql, st] : m_statements) sqlite3_reset(st);
  if (!commit) {
    Rollback();
    return ERROR_SUCCESS;
  }
  CallCommitHook("batch");
  const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Rollback();
  return ErrorFromSqlite(rc);
}

}  // namespace platform::registry
