// Rescue of a damaged hive file (marlin3-reg repair). A hive that passes SQLite's integrity check is
// never touched. Otherwise every row SQLite can still reach by its row id is read (see ReadTable), written
// into a new hive beside the damaged one, that new hive is checked, and only then swapped in; the damaged
// file (with its -wal and -shm) stays beside it under a new name. Keys keep their ids (values point at
// them); a key whose parent chain was lost is dropped with its values, since no path could reach it.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <queue>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/registry/Hive.h"
#include "platform/registry/Registry.h"

namespace platform::registry {

namespace {

// How many stretches of row ids one table's search may look into. Damage in a table whose row ids are
// dense costs about two per row id on the broken pages; the bound only stops a search through a vast
// sparse stretch (row ids far apart) from running for ever.
constexpr size_t kSearchBudget = 200000;

struct KeyRow {
  int64_t parent;
  std::string name, fold;
};

struct ValueRow {
  int64_t key;
  std::string name, fold;
  int64_t type;
  std::string data;
  int storage;  // the SQLite storage class: text, integer and blob values are read back differently
  int64_t number;
};

std::string Text(sqlite3_stmt* st, int column) {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(st, column));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st, column))) : std::string();
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// Reads every row of a table that SQLite can reach by its row id: at least what a reader looking up
// each row id in turn gets. SQLite stops a scan at the first broken page, so the row ids are searched
// as stretches (lo, hi): a stretch is scanned up from lo and down from hi, and what lies between the
// two stops (a broken page, or good pages between two broken ones) is split in half and searched again.
// Narrow stretches first, so the search budget goes to the gaps between rows that were read. highest:
// the highest row id the table may hold, where known (else INT64_MAX). False when the budget ran out.
template <typename Take>
bool ReadTable(sqlite3* db, const std::string& columns, const std::string& table, int64_t highest,
               Take take) {
  sqlite3_stmt* up = nullptr;
  sqlite3_stmt* down = nullptr;
  const std::string head = "SELECT rowid, " + columns + " FROM " + table + " WHERE rowid > ?1 AND rowid < ?2";
  sqlite3_prepare_v2(db, (head + " ORDER BY rowid").c_str(), -1, &up, nullptr);
  sqlite3_prepare_v2(db, (head + " ORDER BY rowid DESC").c_str(), -1, &down, nullptr);
  auto finish = [&](bool complete) {
    sqlite3_finalize(up);
    sqlite3_finalize(down);
    return complete;
  };
  if (!up || !down) return finish(true);
  // Scans (lo, hi) with st; `edge` ends as the last row id read (else as it came in). True when the scan
  // reached its end without an error.
  auto scan = [&take](sqlite3_stmt* st, int64_t lo, int64_t hi, int64_t& edge) {
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, lo);
    sqlite3_bind_int64(st, 2, hi);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      edge = sqlite3_column_int64(st, 0);
      take(st, edge);
    }
    sqlite3_reset(st);
    return rc == SQLITE_DONE;
  };
  using Stretch = std::tuple<uint64_t, int64_t, int64_t>;  // width, lo, hi (both excluded)
  std::priority_queue<Stretch, std::vector<Stretch>, std::greater<Stretch>> stretches;
  auto width = [](int64_t lo, int64_t hi) { return static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo); };
  // Our row ids start at 1. When the last page is broken the highest row id is unknown: since row ids
  // are given out one above the highest, twice the highest that was read (or the keys' sequence) bounds
  // the search.
  int64_t last = 0;
  if (scan(up, 0, INT64_MAX, last)) return finish(true);
  int64_t first = INT64_MAX;
  if (scan(down, last, INT64_MAX, first)) return finish(true);
  if (first == INT64_MAX) {
    const int64_t guess = last < INT64_MAX / 4 ? 2 * last + 1024 : INT64_MAX;
    first = highest < INT64_MAX ? std::max(guess, highest + 1) : guess;
  }
  if (width(last, first) > 2) stretches.emplace(width(last, first), last, first);
  size_t budget = kSearchBudget;
  while (!stretches.empty()) {
    if (budget-- == 0) break;
    auto [ignored, lo, hi] = stretches.top();
    stretches.pop();
    last = lo;
    if (scan(up, lo, hi, last)) continue;
    first = hi;
    if (scan(down, last, hi, first)) continue;
    if (width(last, first) <= 2) continue;  // at most one row id between: the one that cannot be read
    const int64_t mid = static_cast<int64_t>(static_cast<uint64_t>(last) + width(last, first) / 2);
    stretches.emplace(width(last, mid + 1), last, mid + 1);
    stretches.emplace(width(mid, first), mid, first);
  }
  return finish(stretches.empty());
}

struct Rows {
  std::map<int64_t, KeyRow> keys;
  std::map<int64_t, ValueRow> values;
  int64_t keySequence = 0;  // the highest key id ever given out, where it can be read
  bool complete = true;     // false when a search budget ran out
};

void ReadDamaged(sqlite3* db, Rows& rows) {
  // Lets the schema load although an index or table it names lies in the damaged part (read only).
  sqlite3_exec(db, "PRAGMA writable_schema=ON", nullptr, nullptr, nullptr);
  // One read transaction for the whole search: the many short scans then take no locks of their own.
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT seq FROM sqlite_sequence WHERE name = 'keys'", -1, &st, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    rows.keySequence = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  const int64_t highestKey = rows.keySequence > 0 ? rows.keySequence : INT64_MAX;
  rows.complete &=
      ReadTable(db, "parent, name, fold", "keys", highestKey, [&rows](sqlite3_stmt* st, int64_t id) {
        rows.keys.try_emplace(id, KeyRow{sqlite3_column_int64(st, 1), Text(st, 2), Text(st, 3)});
      });
  rows.complete &= ReadTable(
      db, "key, name, fold, type, data", "vals", INT64_MAX, [&rows](sqlite3_stmt* st, int64_t rowid) {
        rows.values.try_emplace(rowid, ValueRow{sqlite3_column_int64(st, 1), Text(st, 2), Text(st, 3),
                                                sqlite3_column_int64(st, 4), Text(st, 5),
                                                sqlite3_column_type(st, 5), sqlite3_column_int64(st, 5)});
      });
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

// Keys whose parent chain reaches the root (breadth first over the children of each key).
std::set<int64_t> Reachable(const std::map<int64_t, KeyRow>& keys) {
  std::multimap<int64_t, int64_t> children;
  for (const auto& [id, row] : keys) {
    if (id != kRootKeyId) children.emplace(row.parent, id);
  }
  std::set<int64_t> reachable{kRootKeyId};
  std::queue<int64_t> next;
  next.push(kRootKeyId);
  while (!next.empty()) {
    const int64_t id = next.front();
    next.pop();
    auto [begin, end] = children.equal_range(id);
    for (auto it = begin; it != end; ++it) {
      if (reachable.insert(it->second).second) next.push(it->second);
    }
  }
  return reachable;
}

enum class Verdict { Healthy, Damaged, CannotTell };

// PRAGMA integrity_check on a connection that writes nothing. CannotTell (with code) when SQLite could
// not finish the check for a reason other than the pages: a full disk, a failing read, a busy writer.
Verdict CheckIntegrity(sqlite3* db, LONG& code, std::string& why) {
  std::string first;
  const int rc = RunCheckPragma(db, "PRAGMA integrity_check(1)", first, why);
  const int primary = rc & 0xFF;
  if (rc != SQLITE_OK &&
      (DiskFull(db, rc) || primary == SQLITE_IOERR || primary == SQLITE_BUSY || primary == SQLITE_LOCKED ||
       primary == SQLITE_NOMEM || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM)) {
    code = ErrorFromSqlite(rc, db);
    if (DiskFull(db, rc)) why = "there is no space left on its disk";
    return Verdict::CannotTell;
  }
  if (rc != SQLITE_OK) return Verdict::Damaged;
  for (char& c : first) {
    if (c == '\n') c = ' ';  // one line for the message
  }
  if (first != "ok") {
    why = first.empty() ? "the integrity check gave no answer" : first;
    return Verdict::Damaged;
  }
  if (!HoldsOnlyHiveTables(db)) {
    why = "it is not a registry hive";
    return Verdict::Damaged;
  }
  return Verdict::Healthy;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

void RemoveWithJournals(const std::string& file) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((file + suffix).c_str());
}

void BindText(sqlite3_stmt* st, int index, const std::string& text) {
  sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Writes the rows that can be reached into the new hive file `file` (already holding an empty hive).
LONG WriteRescued(const std::string& file, const Rows& rows, RescueReport& report) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  const std::set<int64_t> reachable = Reachable(rows.keys);
  sqlite3_stmt* st = nullptr;
  if (rc == SQLITE_OK)
    rc = sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(?1, ?2, ?3, ?4)",
                            -1, &st, nullptr);
  for (auto it = rows.keys.begin(); rc == SQLITE_OK && it != rows.keys.end(); ++it) {
    const auto& [id, row] = *it;
    if (id == kRootKeyId) continue;
    if (!reachable.count(id)) {
      ++report.lostKeys;
      continue;
    }
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_int64(st, 2, row.parent);
    BindText(st, 3, row.name);
    BindText(st, 4, row.fold);
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) {
      rc = SQLITE_OK;
      if (sqlite3_changes(db) == 1) ++report.keys;
    }
  }
  sqlite3_finalize(st);
  st = nullptr;
  if (rc == SQLITE_OK)
    rc = sqlite3_prepare_v2(
        db, "INSERT OR IGNORE INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)", -1, &st,
        nullptr);
  for (auto it = rows.values.begin(); rc == SQLITE_OK && it != rows.values.end(); ++it) {
    const ValueRow& row = it->second;
    if (!reachable.count(row.key)) {
      ++report.lostValues;
      continue;
    }
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, row.key);
    BindText(st, 2, row.name);
    BindText(st, 3, row.fold);
    sqlite3_bind_int64(st, 4, row.type);
    switch (row.storage) {
      case SQLITE_NULL:
        sqlite3_bind_null(st, 5);
        break;
      case SQLITE_INTEGER:
        sqlite3_bind_int64(st, 5, row.number);
        break;
      case SQLITE_TEXT:
        BindText(st, 5, row.data);
        break;
      default:
        sqlite3_bind_blob(st, 5, row.data.data(), static_cast<int>(row.data.size()), SQLITE_TRANSIENT);
    }
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) {
      rc = SQLITE_OK;
      if (sqlite3_changes(db) == 1) ++report.values;
    }
  }
  sqlite3_finalize(st);
  if (rc == SQLITE_OK && rows.keySequence > 0) {
    // Ids of deleted keys stay unused, so an old handle to one still tells it was deleted.
    const std::string sql = "UPDATE sqlite_sequence SET seq = max(seq, " + std::to_string(rows.keySequence) +
                            ") WHERE name = 'keys'";
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  const LONG result = ErrorFromSqlite(rc, db);
  if (rc != SQLITE_OK)
    report.problem = "The rescued hive could not be written: " + std::string(sqlite3_errmsg(db));
  // Closing the only connection folds the log into the file, synced.
  if (sqlite3_close(db) != SQLITE_OK && result == ERROR_SUCCESS) return ERROR_WRITE_FAULT;
  return result;
}

// The rescued hive must pass the check and hold what was written into it.
bool Verify(const std::string& file, const RescueReport& report, std::string& why) {
  // Immutable: it was closed whole, and reading it so leaves no -wal or -shm beside it.
  sqlite3* db = nullptr;
  if (OpenImmutable(file, &db) != SQLITE_OK) {
    sqlite3_close_v2(db);
    why = "the rescued hive cannot be opened";
    return false;
  }
  LONG code = ERROR_SUCCESS;
  bool ok = CheckIntegrity(db, code, why) == Verdict::Healthy;
  sqlite3_stmt* st = nullptr;
  if (ok &&
      sqlite3_prepare_v2(db, "SELECT (SELECT count(*) FROM keys), (SELECT count(*) FROM vals)", -1, &st,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    ok = static_cast<size_t>(sqlite3_column_int64(st, 0)) == report.keys + 1 &&
         static_cast<size_t>(sqlite3_column_int64(st, 1)) == report.values;
    if (!ok) why = "the rescued hive does not hold what was written into it";
  } else if (ok) {
    ok = false;
    why = "the rescued hive cannot be read back";
  }
  sqlite3_finalize(st);
  sqlite3_close_v2(db);
  return ok;
}

// Puts the rescued file in the damaged one's place: the damaged file gets a second name first (it is
// never without one), its -wal and -shm follow it (they would otherwise be read into the new hive),
// then the rescued file is renamed over the hive's name. "" when the damaged file could not be kept.
std::string Swap(const std::string& file, const std::string& rescued) {
  std::string target = file + ".damaged";
  for (int n = 2; Exists(target) && n < 1000; ++n) target = file + ".damaged-" + std::to_string(n);
  if (Exists(target)) return std::string();
  if (link(file.c_str(), target.c_str()) != 0) {
    // No hard links here: renamed instead, the name staying empty for a moment under the folder's lock.
    if (std::rename(file.c_str(), target.c_str()) != 0) return std::string();
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string from = file + suffix;
    if (Exists(from)) std::rename(from.c_str(), (target + suffix).c_str());
  }
  if (std::rename(rescued.c_str(), file.c_str()) != 0) {
    // Put the damaged file back where it was, so the user has what they had.
    for (const char* suffix : {"-wal", "-shm"})
      std::rename((target + suffix).c_str(), (file + suffix).c_str());
    if (!Exists(file))
      std::rename(target.c_str(), file.c_str());
    else
      unlink(target.c_str());
    return std::string();
  }
  return target;
}

}  // namespace

LONG RescueHive(HKEY root, RescueReport& report) {
  report = RescueReport();
  Root which;
  if (!PredefinedRoot(root, which)) return ERROR_INVALID_HANDLE;
  const std::string dir = Hive::DirectoryOf(which);
  const std::string file = Hive::FileOf(which);
  struct stat st {};
  if (dir.empty() || lstat(file.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0)) {
    report.healthy = true;  // no hive yet: nothing to repair
    return ERROR_SUCCESS;
  }
  if (!S_ISREG(st.st_mode)) {
    report.problem = "The registry file " + Quoted(file) + " cannot be repaired: it is not a regular file";
    return ERROR_REGISTRY_IO_FAILED;
  }

  Rows rows;
  {
    sqlite3* db = nullptr;
    const int rc = OpenForExamining(file, &db);
    LONG code = ERROR_SUCCESS;
    std::string why;
    Verdict verdict = Verdict::Damaged;
    if (rc == SQLITE_OK) {
      verdict = CheckIntegrity(db, code, why);
      if (verdict == Verdict::CannotTell && code == ERROR_DISK_FULL) {
        // No room for the -shm index: check the file as it stands instead.
        sqlite3_close_v2(db);
        db = nullptr;
        if (OpenImmutable(file, &db) == SQLITE_OK) verdict = CheckIntegrity(db, code, why);
      }
    } else {
      why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
      code = ErrorFromSqlite(rc, db);
      if (code != ERROR_DISK_FULL && code != ERROR_ACCESS_DENIED)
        verdict = Verdict::Damaged;
      else
        verdict = Verdict::CannotTell;
    }
    if (verdict == Verdict::Healthy) {
      sqlite3_close_v2(db);
      report.healthy = true;
      return ERROR_SUCCESS;
    }
    if (verdict == Verdict::CannotTell) {
      sqlite3_close_v2(db);
      report.problem =
          "The registry file " + Quoted(file) + " cannot be checked: " + why + ". Nothing was changed.";
      return code;
    }
    report.problem = "The registry file " + Quoted(file) + " is damaged: " + why;
    if (db) ReadDamaged(db, rows);
    sqlite3_close_v2(db);
  }
  report.complete = rows.complete;

  // The rescued hive is written and checked beside the damaged one before anything is moved.
  std::string why;
  FolderLock lock(dir);
  if (!lock.ok()) {
    report.problem += ". The hive folder cannot be locked: " + std::string(std::strerror(lock.error())) +
                      ". Nothing was changed.";
    return lock.error() == EBUSY ? ERROR_BUSY : ERROR_ACCESS_DENIED;
  }
  std::string rescued = file + ".rescued-XXXXXX";
  const int fd = mkostemp(rescued.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    report.problem +=
        ". No new file can be made beside it: " + std::string(std::strerror(err)) + ". Nothing was changed.";
    return err == ENOSPC || err == EDQUOT ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
  }
  close(fd);
  unlink(rescued.c_str());  // the name is ours (O_EXCL); CreateHiveFile builds the hive under it
  LONG rc = CreateHiveFile(dir, rescued, Hive::FileModeOf(which), why, false);
  if (rc == ERROR_SUCCESS) rc = WriteRescued(rescued, rows, report);
  if (rc == ERROR_SUCCESS && !Verify(rescued, report, why)) rc = ERROR_BADDB;
  if (rc != ERROR_SUCCESS) {
    RemoveWithJournals(rescued);
    if (!why.empty()) report.problem += ". " + why;
    report.problem += ". Nothing was changed.";
    return rc;
  }
  Hive::Forget(which);
  report.damagedCopy = Swap(file, rescued);
  if (report.damagedCopy.empty()) {
    RemoveWithJournals(rescued);
    report.problem += ". The damaged file could not be kept under a new name. Nothing was changed.";
    return ERROR_ACCESS_DENIED;
  }
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return ERROR_SUCCESS;
}

}  // namespace platform::registry
