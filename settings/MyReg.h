// MyReg: the registry key wrapper all direct registry access of the program goes through.
// It holds at most one open key, closes it on destruction and logs each operation's entry, exit and
// failures under its own name ("Open", "Query(CString)", ...). Callers: ValueGetter, start-up,
// publishing, the wizard. Failures are results (false or an empty text), never exceptions.
#pragma once

#include <string>
#include <vector>

#include "platform/registry/Registry.h"

class MyReg {
 public:
  enum Mode { kOpenExisting, kCreate };
  enum FailureLog { kLogFailure, kQuiet };  // whether a key that does not open is logged

  MyReg();
  // kCreate: Create(root, path, access); kOpenExisting: Open(root, path, access), failures logged.
  MyReg(HKEY root, const std::string& path, Mode mode, REGSAM access);
  virtual ~MyReg();
  MyReg(const MyReg&) = delete;
  MyReg& operator=(const MyReg&) = delete;

  bool Open(HKEY root, const std::string& path, REGSAM access, FailureLog log = kLogFailure);
  bool Create(HKEY root, const std::string& path, REGSAM access);
  void Close();
  bool IsOpen() const { return m_hKey != nullptr; }
  // Why a root's store cannot be used (the file and the reason), "" when it can.
  static std::string StoreProblem(HKEY root) { return platform::registry::StoreProblem(root); }

  // Appends the names of the open key's subkeys; always true (nothing when no key is open).
  bool EnumKeys(std::vector<std::string>& names);
  // A missing value gives true and leaves out unchanged.
  bool Query(DWORD& out, const std::string& name);
  bool Query(std::string& out, const std::string& name);
  // Environment variables expanded; empty on failure.
  std::string Expand(const std::string& text);
  bool Set(const std::string& value, const std::string& name);
  bool Set(DWORD value, const std::string& name);
  bool DeleteSubKey(const std::string& name);
  bool DeleteValue(const std::string& name);

 private:
  HKEY m_hKey;
};
