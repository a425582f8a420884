// The Windows registry on SQLite: one database file per hive (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE).
// Callers: MyReg, the framework's profile calls, the marlin3-reg tool and tests.
// Keeps the Win32 shape: LONG results (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...),
// key handles that must be closed, case-insensitive and case-preserving key and value names, subkeys
// enumerated in case-insensitive name order. Every write is one SQLite transaction, so several processes
// may share a hive and a killed writer never leaves it half-written. Hives live in $MARLIN3_REGISTRY_DIR
// when it is set, else HKCU in ${XDG_CONFIG_HOME:-~/.config}/marlin3/ and HKLM in /var/lib/marlin3/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/base/WinTypes.h"

struct RegKeyObject;
using HKEY = RegKeyObject*;

extern HKEY const HKEY_CURRENT_USER;
extern HKEY const HKEY_LOCAL_MACHINE;

// Value types (winnt.h).
enum : DWORD {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_MULTI_SZ = 7,
  REG_QWORD = 11,
};

// Access rights (winnt.h); read and write are enforced on the handle.
enum : REGSAM {
  KEY_QUERY_VALUE = 0x0001,
  KEY_SET_VALUE = 0x0002,
  KEY_CREATE_SUB_KEY = 0x0004,
  KEY_ENUMERATE_SUB_KEYS = 0x0008,
  KEY_READ = 0x20019,
  KEY_WRITE = 0x20006,
  KEY_ALL_ACCESS = 0xF003F,
};

enum : DWORD {
  REG_OPTION_NON_VOLATILE = 0,
  REG_CREATED_NEW_KEY = 1,
  REG_OPENED_EXISTING_KEY = 2,
};

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM sam, HKEY* result);
LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM sam,
                     void* security, HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);
// Writes the key's hive to its file now (Windows: "writes all the attributes of the key into the
// registry"): the hive's write-ahead log is folded into the file and emptied. Installers call it after
// writing values every later process reads.
LONG RegFlushKey(HKEY key);
// data may be null to ask for type and size; a short buffer gives ERROR_MORE_DATA and the needed size.
// A REG_SZ's size counts its terminating zero, as on Windows.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
// cchName in: buffer size in characters; out: length without the terminating zero.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, char* keyClass,
                   DWORD* cchClass, void* lastWriteTime);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* cbData);
// Deletes a key without subkeys (Windows refuses a key that has subkeys with ERROR_ACCESS_DENIED).
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes a key and everything below it.
LONG RegDeleteTreeA(HKEY key, const char* subKey);
LONG RegDeleteValueA(HKEY key, const char* name);
// Counts and maximum lengths of a key's subkeys and values (any pointer may be null). Lengths are in
// bytes of the UTF-8 names without the terminating zero; the class is always empty. Fault hook: "enum".
LONG RegQueryInfoKeyA(HKEY key, char* keyClass, DWORD* cchClass, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                      DWORD* maxValueLen, DWORD* securityDescriptor, void* lastWriteTime);

// Limits enforced by this registry (Windows: key names 255 characters, value data "available memory").
constexpr DWORD kRegMaxKeyNameLength = 255;      // bytes of one path component
constexpr DWORD kRegMaxValueNameLength = 16383;  // bytes
constexpr DWORD kRegMaxValueSize = 1024 * 1024;  // larger values fail with ERROR_INVALID_PARAMETER
// Levels of keys below a root, as on Windows: creating a deeper key fails with ERROR_INVALID_PARAMETER.
constexpr size_t kRegMaxKeyDepth = 512;

namespace platform::registry {

// Where the hive files of this process live (resolved once per process from the environment).
// (The environment is read again at each call on HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE, so a test
// may switch folders; each hive file is still opened only once per process.)
std::string HiveDirectory(HKEY root);

// Why the store of a root (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE) cannot be used, naming the file or
// folder and the reason; "" when it can. Calls on such a store fail with ERROR_BADDB (the file is
// damaged) or ERROR_REGISTRY_IO_FAILED (it cannot be opened), and nothing is ever written to it.
std::string StoreProblem(HKEY root);

// All of this process's operations on a root's hive between BeginBatch and EndBatch form one
// transaction: EndBatch with Commit keeps them all, with Rollback none (marlin3-reg import).
enum class BatchEnd { Commit, Rollback };
LONG BeginBatch(HKEY root);
LONG EndBatch(HKEY root, BatchEnd end);

// Rescue of a damaged hive. A hive that passes SQLite's integrity check (or is missing) is left alone
// (healthy). Otherwise every key and value that can still be read is written into a new hive beside it,
// which is checked and then renamed into the hive's place; the damaged file (with its -wal and -shm) is
// kept beside it under a new name. On any failure (no space for the new hive, a check that cannot be
// run) nothing is changed and problem says why.
struct RescueReport {
  bool healthy = false;                 // nothing to repair, nothing was done
  std::string problem;                  // what is wrong with the hive, and why a failed rescue failed
  std::string damagedCopy;              // where the damaged file is kept
  size_t keys = 0, values = 0;          // rescued
  size_t lostKeys = 0, lostValues = 0;  // read but without their parent key
  bool complete = true;                 // false: the search through broken row ids was cut short
};
LONG RescueHive(HKEY root, RescueReport& report);

// The bytes of a root's hive file and its write-ahead log (0 when there is none).
uint64_t HiveBytes(HKEY root);

// Test seam: when set, every operation first asks the hook with the operation's name ("open",
// "create", "query", "set", "enum", "delete"); a result other than ERROR_SUCCESS fails the call with it.
using FaultHook = std::function<LONG(const char* operation)>;
void SetFaultHook(FaultHook hook);

// Test seam: when set, called inside every write transaction just before its COMMIT, with the
// operation's name. Tests kill the process here to prove a killed writer leaves nothing half-written.
using CommitHook = std::function<void(const char* operation)>;
void SetCommitHook(CommitHook hook);

}  // namespace platform::registry
