// One registry hive as an SQLite database (internal to platform/registry).
// Schema: keys(id, parent, name, fold) with UNIQUE(parent, fold), the root key being id 1; vals(key, name,
// fold, type, data) with PRIMARY KEY(key, fold), enumerated in insertion (rowid) order like Windows.
// "fold" is the name upper-cased by platform::text (case-insensitive, case-preserving lookups; subkeys
// enumerate in fold order, which is Windows' upper-case order). Key ids come from AUTOINCREMENT and are
// never reused, so a handle to a deleted key can tell (ERROR_KEY_DELETED) even after a same-named key is
// created again. The connection is opened once per process and hive file, in WAL mode with a busy time-out.
#pragma once

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

  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  bool writable() const { return m_writable; }
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
  LONG Open(const std::string& dir, const std::string& file, std::string& problem);
  static LONG Examine(const std::string& file, std::string& problem);
  static LONG Check(sqlite3* db, const std::string& file, std::string& problem);
  bool OpenReadOnly(const std::string& file, bool immutable);
  int CreateSchema();

  sqlite3* m_db = nullptr;
  bool m_writable = false;
  bool m_inBatch = false;
  std::mutex m_mutex;
  std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

// Opens an existing hive file so that nothing is ever written to it (examining, rescuing).
int OpenForExamining(const std::string& file, sqlite3** db);

// The root of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE; false for any other handle.
bool PredefinedRoot(HKEY key, Root& root);

// Maps an SQLite result code to the Win32 code a registry call reports.
LONG ErrorFromSqlite(int rc);

// The commit hook (tests): called inside every write transaction just before its COMMIT.
void CallCommitHook(const char* operation);

}  // namespace platform::registry
