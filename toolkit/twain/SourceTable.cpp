#include "toolkit/twain/SourceTable.h"

#include "platform/registry/Registry.h"
#include "pxclass/PxTwainProps.h"

namespace pxtwain {

namespace {

bool ValidEntry(const SourceEntry& entry) {
  return !entry.name.empty() && entry.name.size() <= PX_TWN_NAME_LEN && !entry.device.empty() &&
         entry.device.size() <= PX_TWN_DEVICE_LEN;
}

}  // namespace

TableResult SourceTable::Read(std::vector<SourceEntry>& entries) {
  entries.clear();
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSourceTableKey, 0, KEY_READ, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return TableResult::kNoKey;
  if (opened != ERROR_SUCCESS) return TableResult::kFailed;
  for (DWORD index = 0;; ++index) {
    char name[PX_TWN_NAME_LEN + 2] = {};
    DWORD nameLength = sizeof name;
    char device[PX_TWN_DEVICE_LEN + 2] = {};
    DWORD deviceSize = sizeof device - 1;
    DWORD type = 0;
    const LONG result = RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(device), &deviceSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    // A name or device too long for the record, or a value of another type, is not a source.
    if (result == ERROR_MORE_DATA || type != REG_SZ) continue;
    if (result != ERROR_SUCCESS) {
      RegCloseKey(key);
      return TableResult::kFailed;
    }
    SourceEntry entry{name, device};
    if (ValidEntry(entry)) entries.push_back(std::move(entry));
  }
  RegCloseKey(key);
  return TableResult::kOk;
}

TableResult SourceTable::Write(const SourceEntry& entry) {
  if (!ValidEntry(entry)) return TableResult::kBadName;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSourceTableKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return TableResult::kFailed;
  const LONG result =
      RegSetValueExA(key, entry.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.device.c_str()),
                     static_cast<DWORD>(entry.device.size() + 1));
  // Every scan reads the table when it starts: folded into the hive file, it is read without the log.
  if (result == ERROR_SUCCESS) RegFlushKey(key);
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? TableResult::kOk : TableResult::kFailed;
}

TableResult SourceTable::Remove(const std::string& name) {
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSourceTableKey, 0, KEY_WRITE, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return TableResult::kNoKey;
  if (opened != ERROR_SUCCESS) return TableResult::kFailed;
  const LONG result = RegDeleteValueA(key, name.c_str());
  if (result == ERROR_SUCCESS) RegFlushKey(key);
  RegCloseKey(key);
  if (result == ERROR_FILE_NOT_FOUND) return TableResult::kNoKey;
  return result == ERROR_SUCCESS ? TableResult::kOk : TableResult::kFailed;
}

}  // namespace pxtwain
