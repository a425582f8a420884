// One registry hive as an SQLite database (internal to platform/registry).
// Schema: keys(id, parent, name, fold) with UNIQUE(parent, fold), the root key being id 1; vals(key, name,
// fold, type, data) with PRIMARY KEY(key, fold), enumerated in insertion (rowid) order like Windows.
// "fold" is the name upper-cased by platform::text (case-insensitive, case-preserving lookups; subkeys
// enumerate in fold order, which is Windows' upper-case order). Key ids come from AUTOINCREMENT and are
// never reused, so a handle to a deleted key can tell (ERROR_KEY_DELETED) even after a same-named key is
// created again. The connection is opened once per process and hive file, in WAL mode with a busy time-out.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/base/WinTypes.h"
#include "platform/registry/Registry.h"

struct sqlite3;
struct sqlite3_stmt;

namespace platform::registry {

enum class Root { CurrentUser, LocalMachine };

constexpr int64_t kRootKeyId = 1;

class Hive {
 public:
  // The hive of a root as the environment places it now (cached per file and process).
  static std::shared_ptr<Hive> ForRoot(Root root, LONG* error);
  // The hive directory of a root ("" for none), ending in "/".
  static std::string DirectoryOf(Root root);
  // The hive file of a root as the environment places it now.
  static std::string FileOf(Root root);
  // Why the last open of a root's hive failed ("" after a success): names the file and the reason.
  static std::string ProblemOf(Root root);
  // Drops this process's open connection to a root's hive (after its file was replaced).
  static void Forget(Root root);
  // The mode of a new hive file (its -wal and -shm get the same from SQLite): HKCU is the user's own,
  // 0600; HKLM holds the machine's settings that every user reads, 0644.
  static mode_t FileModeOf(Root root);

  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  bool writable() const { return m_writable; }
  // Maps an SQLite failure on this hive's connection, telling a full disk from damage.
  LONG Error(int rc) const;
  std::mutex& mutex() { return m_mutex; }

  // A prepared statement (cached), reset and with its bindings cleared.
  sqlite3_stmt* Statement(const char* sql);
  sqlite3* db() { return m_db; }

  // Transactions. Begin returns ERROR_SUCCESS or the mapped SQLite failure. End commits (after the
  // commit hook) or rolls back; it returns the commit's result.
  LONG BeginRead();
  LONG BeginWrite();
  LONG Commit(const char* operation);
  // Folds the write-ahead log into the hive file (synced) and empties it, so that a process opening
  // the hive next need not read it back. Nothing to do for a hive that cannot be written.
  LONG Flush();
  void Rollback();
  // A batch: every later operation of this process on the hive joins one transaction until EndBatch,
  // which commits it whole or rolls it back whole. Callers hold mutex() around each call.
  LONG BeginBatch();
  LONG EndBatch(bool commit);

 private:
  Hive() = default;
  static std::map<std::string, std::shared_ptr<Hive>>& Cache();
  LONG Open(Root root, const std::string& dir, const std::string& file, std::string& problem);
  static LONG Examine(const std::string& file, std::string& problem);
  static LONG Check(sqlite3* db, const std::string& file, std::string& problem);
  LONG OpenForReading(const std::string& file, std::string& problem);
  bool OpenReadOnly(const std::string& file, bool immutable);
  int CreateSchema();

  sqlite3* m_db = nullptr;
  bool m_writable = false;
  LONG m_writeError = ERROR_ACCESS_DENIED;  // what a write gets when the hive cannot be written
  bool m_inBatch = false;
  std::mutex m_mutex;
  std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

// Opens an existing hive file so that nothing is ever written to it (examining, rescuing).
int OpenForExamining(const std::string& file, sqlite3** db);
// Opens a hive file read-only as immutable: no -shm index is needed (or made), the -wal is not read.
int OpenImmutable(const std::string& file, sqlite3** db);

// The root of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE; false for any other handle.
bool PredefinedRoot(HKEY key, Root& root);

// Maps an SQLite result code to the Win32 code a registry call reports; with the connection, an I/O
// failure whose system error is ENOSPC or EDQUOT is ERROR_DISK_FULL.
LONG ErrorFromSqlite(int rc, sqlite3* db = nullptr);

// True when the last failure on db came from a full disk or quota.
bool DiskFull(sqlite3* db, int rc);

// Runs a check pragma ("PRAGMA quick_check(1)", "PRAGMA integrity_check(1)") and returns SQLite's
// result; first gets the check's first answer line ("ok" when healthy), why SQLite's own message.
int RunCheckPragma(sqlite3* db, const char* pragma, std::string& first, std::string& why);

// A healthy database is a hive (both of its tables) or still empty; false when it holds other tables.
bool HoldsOnlyHiveTables(sqlite3* db);

// Creates a hive file at `file` as one step: a complete, empty hive (WAL mode, schema) is written
// beside it under a new name and renamed into place, under an exclusive lock on the folder, unless
// another process created it meanwhile. A missing or empty file is replaced; anything else is left
// alone. ERROR_SUCCESS when a complete hive is there afterwards. takeLock false: the caller holds it.
LONG CreateHiveFile(const std::string& dir, const std::string& file, mode_t mode, std::string& why,
                    bool takeLock = true);

// Holds an exclusive flock on a folder (waits up to the busy time-out): hive files are created and
// swapped only under it. ok() is false when the folder cannot be opened or the wait timed out.
class FolderLock {
 public:
  explicit FolderLock(const std::string& dir);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool ok() const { return m_fd >= 0 && m_locked; }
  int error() const { return m_error; }

 private:
  int m_fd = -1;
  bool m_locked = false;
  int m_error = 0;
};

// The commit hook (tests): called inside every write transaction just before its COMMIT.
void CallCommitHook(const char* operation);

}  // namespace platform::registry
