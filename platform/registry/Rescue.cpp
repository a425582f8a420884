// Rescue of a damaged hive file (marlin3-reg repair). SQLite stops a scan at the first broken page, so
// each table is read twice, forwards and backwards by row id: what lies on either side of the damage
// survives. Keys keep their ids (values point at them); a key whose parent chain was lost is dropped
// with its values, since it could not be reached by any path.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "platform/registry/Hive.h"
#include "platform/registry/Registry.h"

namespace platform::registry {

namespace {

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

// Runs a scan in one direction; each row goes to take(statement, rowid). Stops at the first error.
template <typename Take>
void Scan(sqlite3* db, const char* sql, Take take) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return;
  while (sqlite3_step(st) == SQLITE_ROW) take(st, sqlite3_column_int64(st, 0));
  sqlite3_finalize(st);
}

void ReadDamaged(const std::string& file, std::map<int64_t, KeyRow>& keys,
                 std::map<int64_t, ValueRow>& values) {
  sqlite3* db = nullptr;
  if (OpenForExamining(file, &db) != SQLITE_OK) {
    sqlite3_close_v2(db);
    return;
  }
  // Lets the schema load although an index or table it names lies in the damaged part (read only).
  sqlite3_exec(db, "PRAGMA writable_schema=ON", nullptr, nullptr, nullptr);
  auto key = [&keys](sqlite3_stmt* st, int64_t id) {
    keys.try_emplace(id, KeyRow{sqlite3_column_int64(st, 1), Text(st, 2), Text(st, 3)});
  };
  auto value = [&values](sqlite3_stmt* st, int64_t rowid) {
    values.try_emplace(
        rowid, ValueRow{sqlite3_column_int64(st, 1), Text(st, 2), Text(st, 3), sqlite3_column_int64(st, 4),
                        Text(st, 5), sqlite3_column_type(st, 5), sqlite3_column_int64(st, 5)});
  };
  Scan(db, "SELECT id, parent, name, fold FROM keys ORDER BY id", key);
  Scan(db, "SELECT id, parent, name, fold FROM keys ORDER BY id DESC", key);
  Scan(db, "SELECT rowid, key, name, fold, type, data FROM vals ORDER BY rowid", value);
  Scan(db, "SELECT rowid, key, name, fold, type, data FROM vals ORDER BY rowid DESC", value);
  sqlite3_close_v2(db);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Moves file and its journal files aside to the first free "file.damaged[-N]"; "" when that fails.
std::string MoveAside(const std::string& file) {
  std::string target = file + ".damaged";
  for (int n = 2; Exists(target) && n < 1000; ++n) target = file + ".damaged-" + std::to_string(n);
  if (Exists(target) || std::rename(file.c_str(), target.c_str()) != 0) return std::string();
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string from = file + suffix;
    if (Exists(from)) std::rename(from.c_str(), (target + suffix).c_str());
  }
  return target;
}

// Keys whose parent chain reaches the root.
std::set<int64_t> Reachable(const std::map<int64_t, KeyRow>& keys) {
  std::set<int64_t> reachable{kRootKeyId};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [id, row] : keys) {
      if (id != kRootKeyId && !reachable.count(id) && reachable.count(row.parent)) {
        reachable.insert(id);
        grew = true;
      }
    }
  }
  return reachable;
}

}  // namespace

LONG RescueHive(HKEY root, RescueReport& report) {
  report = RescueReport();
  Root which;
  if (!PredefinedRoot(root, which)) return ERROR_INVALID_HANDLE;
  const std::string file = Hive::FileOf(which);

  std::map<int64_t, KeyRow> keys;
  std::map<int64_t, ValueRow> values;
  if (Exists(file)) {
    ReadDamaged(file, keys, values);
    Hive::Forget(which);
    report.damagedCopy = MoveAside(file);
    if (report.damagedCopy.empty()) return ERROR_ACCESS_DENIED;
  }

  LONG rc = ERROR_SUCCESS;
  std::shared_ptr<Hive> hive = Hive::ForRoot(which, &rc);
  if (!hive) return rc == ERROR_SUCCESS ? ERROR_BADDB : rc;
  std::lock_guard<std::mutex> lock(hive->mutex());
  if ((rc = hive->BeginWrite())) return rc;

  const std::set<int64_t> reachable = Reachable(keys);
  sqlite3* db = hive->db();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(?1, ?2, ?3, ?4)", -1, &st,
                     nullptr);
  for (const auto& [id, row] : keys) {
    if (id == kRootKeyId) continue;
    if (!reachable.count(id)) {
      ++report.lostKeys;
      continue;
    }
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_int64(st, 2, row.parent);
    sqlite3_bind_text(st, 3, row.name.data(), static_cast<int>(row.name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 4, row.fold.data(), static_cast<int>(row.fold.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(db) == 1) ++report.keys;
  }
  sqlite3_finalize(st);
  sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)",
                     -1, &st, nullptr);
  for (const auto& [rowid, row] : values) {
    if (!reachable.count(row.key)) {
      ++report.lostValues;
      continue;
    }
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, row.key);
    sqlite3_bind_text(st, 2, row.name.data(), static_cast<int>(row.name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, row.fold.data(), static_cast<int>(row.fold.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 4, row.type);
    switch (row.storage) {
      case SQLITE_NULL:
        sqlite3_bind_null(st, 5);
        break;
      case SQLITE_INTEGER:
        sqlite3_bind_int64(st, 5, row.number);
        break;
      case SQLITE_TEXT:
        sqlite3_bind_text(st, 5, row.data.data(), static_cast<int>(row.data.size()), SQLITE_TRANSIENT);
        break;
      default:
        sqlite3_bind_blob(st, 5, row.data.data(), static_cast<int>(row.data.size()), SQLITE_TRANSIENT);
    }
    if (sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(db) == 1) ++report.values;
  }
  sqlite3_finalize(st);
  return hive->Commit("rescue");
}

}  // namespace platform::registry
