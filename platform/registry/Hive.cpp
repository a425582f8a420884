// Opening hive databases and running their transactions (see Hive.h).
#include "platform/registry/Hive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "platform/folders/Folders.h"
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

bool HoldsOnlyHiveTables(sqlite3* db) {
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
  return tables == 0 || ours == 2;
}

int RunCheckPragma(sqlite3* db, const char* pragma, std::string& first, std::string& why) {
  first.clear();
  char* message = nullptr;
  const int rc = sqlite3_exec(
      db, pragma,
      [](void* out, int, char** values, char**) {
        auto* text = static_cast<std::string*>(out);
        if (text->empty() && values[0]) *text = values[0];
        return 0;
      },
      &first, &message);
  why = message ? message : (rc != SQLITE_OK ? sqlite3_errstr(rc) : "");
  sqlite3_free(message);
  return rc;
}

bool DiskFull(sqlite3* db, int rc) {
  if ((rc & 0xFF) == SQLITE_FULL) return true;
  if (!db || ((rc & 0xFF) != SQLITE_IOERR && (rc & 0xFF) != SQLITE_CANTOPEN)) return false;
  const int err = sqlite3_system_errno(db);
  return err == ENOSPC || err == EDQUOT;
}

LONG ErrorFromSqlite(int rc, sqlite3* db) {
  if (DiskFull(db, rc)) return ERROR_DISK_FULL;
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
  const std::string config = platform::folders::XdgBaseFolder(platform::folders::XdgBase::Config);
  return config.empty() ? std::string() : WithSlash(config) + "marlin3/";
}

mode_t Hive::FileModeOf(Root root) {
  return root == Root::LocalMachine ? 0644 : 0600;
}

LONG Hive::Error(int rc) const {
  return ErrorFromSqlite(rc, m_db);
}

FolderLock::FolderLock(const std::string& dir) {
  m_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (m_fd < 0) {
    m_error = errno;
    return;
  }
  // Bounded: anyone who may open the folder may hold the lock, and a stranger must not stop us for ever.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
      m_locked = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  m_error = errno == EWOULDBLOCK ? EBUSY : errno;
}

FolderLock::~FolderLock() {
  if (m_fd >= 0) close(m_fd);  // releases the lock
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
  const LONG rc = hive->Open(root, dir, file, problem);
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

// The checks of Examine on a connection that writes nothing (see OpenForExamining). Only what SQLite
// finds wrong in the pages is damage; a full disk (the -shm index cannot grow) or a failing read is a
// store that cannot be used here and now, and is said so.
LONG Hive::Check(sqlite3* db, const std::string& file, std::string& problem) {
  auto damaged = [&](const std::string& why) {
    problem = "The registry file " + Quoted(file) + " is damaged: " + why;
    return ERROR_BADDB;
  };
  std::string first, why;
  const int rc = RunCheckPragma(db, "PRAGMA quick_check(1)", first, why);
  const int primary = rc & 0xFF;
  LONG result = ERROR_SUCCESS;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    result = ERROR_SUCCESS;  // a writer of another process holds it: not a sign of damage
  } else if (DiskFull(db, rc)) {
    problem =
        "The registry file " + Quoted(file) + " cannot be read here: there is no space left on its disk";
    result = ERROR_DISK_FULL;
  } else if (primary == SQLITE_CANTOPEN || primary == SQLITE_PERM || primary == SQLITE_READONLY) {
    result = ERROR_SUCCESS;  // WAL index not creatable here (read-only folder): the later open decides
  } else if (primary == SQLITE_IOERR || primary == SQLITE_NOMEM) {
    const int err = sqlite3_system_errno(db);
    problem = "The registry file " + Quoted(file) + " cannot be read: " + (err ? std::strerror(err) : why);
    result = primary == SQLITE_NOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_REGISTRY_IO_FAILED;
  } else if (rc != SQLITE_OK) {
    result = damaged(why);
  } else if (first != "ok") {
    result = damaged(first.empty() ? "the integrity check gave no answer" : first);
  } else if (!HoldsOnlyHiveTables(db)) {
    result = damaged("it is not a registry hive");
  }
  return result;
}

namespace {

void RemoveWithJournals(const std::string& file) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((file + suffix).c_str());
}

}  // namespace

LONG CreateHiveFile(const std::string& dir, const std::string& file, mode_t mode, std::string& why,
                    bool takeLock) {
  std::optional<FolderLock> lock;
  if (takeLock) lock.emplace(dir);
  if (lock && !lock->ok()) {
    why = std::strerror(lock->error());
    return lock->error() == EBUSY ? ERROR_BUSY : ERROR_ACCESS_DENIED;
  }
  struct stat st {};
  if (lstat(file.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_size > 0)) return ERROR_SUCCESS;
  // A log left without its hive (the hive deleted by hand) would be read into the new one: kept aside.
  if (lstat((file + "-wal").c_str(), &st) == 0) {
    rename((file + "-wal").c_str(), (file + "-wal.orphan").c_str());
    unlink((file + "-shm").c_str());
  }
  // Under the lock no other process is making one: a ".new-" file here is left from a killed creator.
  const std::string base = file.substr(file.rfind('/') + 1) + ".new-";
  if (DIR* folder = opendir(dir.c_str())) {
    while (dirent* entry = readdir(folder)) {
      if (std::strncmp(entry->d_name, base.c_str(), base.size()) == 0)
        unlinkat(dirfd(folder), entry->d_name, 0);
    }
    closedir(folder);
  }
  std::string temp = file + ".new-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);  // O_EXCL, 0600
  if (fd < 0) {
    const int err = errno;
    why = std::strerror(err);
    return err == ENOSPC || err == EDQUOT ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
  }
  if (mode != 0600) fchmod(fd, mode);
  close(fd);
  sqlite3* db = nullptr;
  int rc = OpenDatabase(temp, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  LONG result = ErrorFromSqlite(rc, db);
  if (rc != SQLITE_OK) why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  // The last connection folds the log into the file (synced) and removes the -wal and -shm.
  if (db && sqlite3_close(db) != SQLITE_OK && result == ERROR_SUCCESS) {
    result = ERROR_WRITE_FAULT;
    why = "the new hive could not be closed";
  }
  if (result == ERROR_SUCCESS) {
    // Renamed in whole: a process opening the name finds nothing or a complete hive.
    if (rename(temp.c_str(), file.c_str()) == 0) {
      const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
      }
      return ERROR_SUCCESS;
    }
    why = std::strerror(errno);
    result = errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
  }
  RemoveWithJournals(temp);
  return result;
}

LONG Hive::Open(Root root, const std::string& dir, const std::string& file, std::string& problem) {
  if (dir.empty()) {
    problem = "The registry folder cannot be found: neither XDG_CONFIG_HOME nor HOME is an absolute path";
    return ERROR_REGISTRY_IO_FAILED;
  }
  int dirError = 0;
  const bool haveDir = MakeDirectories(dir, dir.find("/var/lib/") == 0 ? 0755 : 0700, &dirError);
  // A folder that may not be made (HKLM for a normal user before set-up) just means "no hive yet";
  // anything else in the way is a store that cannot be opened, and is said so.
  if (!haveDir && dirError != EACCES && dirError != EPERM && dirError != EROFS) {
    if (dirError == ENOSPC || dirError == EDQUOT) {
      m_writeError = ERROR_DISK_FULL;
    } else {
      problem = "The registry folder " + Quoted(dir) + " cannot be opened: " + std::strerror(dirError);
      return ERROR_REGISTRY_IO_FAILED;
    }
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
  if (!existing && haveDir) {
    // A new hive is never built in place, where another process starting at the same moment could
    // find it half made: it is made beside and renamed in (the first process to get there wins).
    std::string why;
    const LONG created = CreateHiveFile(dir, file, FileModeOf(root), why);
    if (created == ERROR_SUCCESS) {
      existing = stat(file.c_str(), &st) == 0 && st.st_size > 0;
    } else {
      m_writeError = created;  // no space, a lock held too long, or no right to create it
    }
  }
  int rc = SQLITE_CANTOPEN;
  if (haveDir && existing) rc = OpenDatabase(file, &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  if (rc == SQLITE_OK) {
    // An existing file is checked on the connection that will use it (one start of SQLite's log
    // instead of two), which neither writes nor folds its log in until the file has passed.
    KeepFromWriting(m_db, true);
    const LONG checked = Check(m_db, file, problem);
    if (checked == ERROR_DISK_FULL) {
      // Nothing wrong with the file: read it as it is, and say that writes have no room.
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      m_writeError = ERROR_DISK_FULL;
      return OpenForReading(file, problem);
    }
    if (checked) {
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      return checked;
    }
    KeepFromWriting(m_db, false);
  } else if (existing) {
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    if (LONG damage = Examine(file, problem)) {
      if (damage != ERROR_DISK_FULL) return damage;
      m_writeError = ERROR_DISK_FULL;
      return OpenForReading(file, problem);
    }
  }
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    m_writable = sqlite3_db_readonly(m_db, "main") == 0;
    if (m_writable) {
      // WAL lets readers and one writer of several processes work at once; NORMAL sync keeps every
      // committed transaction whole across a killed process (only a power cut may lose the last ones).
      // A process that opens a hive nobody else has open reads the whole log back to rebuild its
      // index, and every start of marlin3 is such a process: the log is folded into the file every 100
      // pages (two syncs) rather than SQLite's 1000, so a start reads at most about 400 KB back instead
      // of 4 MB, and the emptied log file is cut back to 512 KB.
      rc = sqlite3_exec(m_db,
                        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=100;"
                        " PRAGMA journal_size_limit=524288;",
                        nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) rc = CreateSchema();
      if (rc != SQLITE_OK) {
        if (DiskFull(m_db, rc)) m_writeError = ERROR_DISK_FULL;
        m_writable = false;
      }
    }
    if (!m_writable) {
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      rc = SQLITE_CANTOPEN;
    } else if (root == Root::CurrentUser && (st.st_mode & 077) && st.st_uid == geteuid()) {
      // A hive made before hives were private: the user's settings are no one else's to read.
      for (const char* suffix : {"", "-wal", "-shm"}) chmod((file + suffix).c_str(), 0600);
    }
  }
  if (rc != SQLITE_OK) {
    // A hive folder that cannot be written (HKLM for a normal user): read what is there, refuse writes.
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_writable = false;
    if (access(file.c_str(), R_OK) == 0 && existing) {
      if (OpenReadOnly(file, false) || OpenReadOnly(file, true)) return ERROR_SUCCESS;
    }
    // No hive file at all: an empty in-memory hive, so reads find nothing and writes are refused.
    if (OpenDatabase(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX) != SQLITE_OK)
      return ERROR_NOT_ENOUGH_MEMORY;
    sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
  }
  return ERROR_SUCCESS;
}

// A healthy hive that cannot be used normally here (its disk is full): read-only, and when even the
// -shm index cannot be made, as immutable; checked again on that connection, since the first check
// could not finish.
LONG Hive::OpenForReading(const std::string& file, std::string& problem) {
  m_writable = false;
  if (!OpenReadOnly(file, false) && !OpenReadOnly(file, true)) return ERROR_DISK_FULL;  // problem is set
  std::string why;
  const LONG checked = Check(m_db, file, why);
  if (checked == ERROR_SUCCESS) {
    problem.clear();
    return ERROR_SUCCESS;
  }
  sqlite3_close_v2(m_db);
  m_db = nullptr;
  problem = why;
  return checked;
}

// A WAL database needs its -shm file to be read; when the last writer has closed it and this process
// may not create files in the folder (HKLM for a normal user), the hive is read as immutable instead:
// consistent as of the moment it is read, which is what a reader of the installer's values needs.
bool Hive::OpenReadOnly(const std::string& file, bool immutable) {
  const int rc = immutable ? OpenImmutable(file, &m_db)
                           : OpenDatabase(file, &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    if (sqlite3_exec(m_db, "SELECT 1 FROM keys LIMIT 1", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  }
  if (m_db) sqlite3_close_v2(m_db);
  m_db = nullptr;
  return false;
}

int OpenImmutable(const std::string& file, sqlite3** db) {
  std::string name = "file:";
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
  return OpenDatabase(name, db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI);
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
  return Error(sqlite3_exec(m_db, m_inBatch ? "SAVEPOINT op" : "BEGIN", nullptr, nullptr, nullptr));
}

LONG Hive::BeginWrite() {
  if (!m_writable) return m_writeError;
  return Error(sqlite3_exec(m_db, m_inBatch ? "SAVEPOINT op" : "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
}

LONG Hive::Commit(const char* operation) {
  for (auto& [sql, st] : m_statements) sqlite3_reset(st);
  if (m_inBatch) return Error(sqlite3_exec(m_db, "RELEASE op", nullptr, nullptr, nullptr));
  if (operation) CallCommitHook(operation);
  const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
  const LONG result = Error(rc);
  if (rc != SQLITE_OK) Rollback();
  return result;
}

LONG Hive::Flush() {
  if (!m_writable || m_inBatch) return ERROR_SUCCESS;  // a batch's changes are folded after it
  for (auto& [sql, st] : m_statements) sqlite3_reset(st);
  int logFrames = 0, folded = 0;
  const int rc = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &folded);
  // Busy: a reader of another process still uses the log; what it allowed was folded, the rest
  // stays in the log, which is as safe, only slower to open.
  return rc == SQLITE_BUSY ? ERROR_SUCCESS : Error(rc);
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
  if (!m_writable) return m_writeError;
  const LONG rc = Error(sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
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
  const LONG result = Error(rc);
  if (rc != SQLITE_OK) Rollback();
  return result;
}

}  // namespace platform::registry
