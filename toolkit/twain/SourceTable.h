// The table of installed TWAIN sources: source name -> SANE device, kept in the registry under
// HKEY_LOCAL_MACHINE "SOFTWARE\TWAIN\Sources" (value name = source name, REG_SZ data = SANE device
// name). The product set-up tool writes it; the TWAIN library reads it when it lists sources. Entries
// that would not fit the property record (names over 36 characters, empty devices) are skipped.
#pragma once

#include <string>
#include <vector>

namespace pxtwain {

inline constexpr const char* kSourceTableKey = "SOFTWARE\\TWAIN\\Sources";

struct SourceEntry {
  std::string name;
  std::string device;
};

enum class TableResult { kOk, kNoKey, kFailed, kBadName };

class SourceTable {
 public:
  // The entries in the registry's order (case-insensitive by name); kNoKey leaves the list empty.
  static TableResult Read(std::vector<SourceEntry>& entries);
  // Adds or replaces one entry; kBadName for an empty name, a name over 36 characters or an empty device.
  static TableResult Write(const SourceEntry& entry);
  static TableResult Remove(const std::string& name);
};

}  // namespace pxtwain
