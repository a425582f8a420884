#include "settings/MyReg.h"

#include "log/DebugTrace.h"
#include "platform/base/Environment.h"

MyReg::MyReg() : m_hKey(nullptr) {}

MyReg::MyReg(HKEY root, const std::string& path, Mode mode, REGSAM access) : m_hKey(nullptr) {
  if (mode == kCreate)
    Create(root, path, access);
  else
    Open(root, path, access, kLogFailure);
}

MyReg::~MyReg() {
  Close();
}

void MyReg::Close() {
  if (m_hKey != nullptr) {
    RegCloseKey(m_hKey);
    m_hKey = nullptr;
  }
}

bool MyReg::Open(HKEY root, const std::string& path, REGSAM access, FailureLog log) {
  DebugTrace trace("Open", __FILE__);
  Close();
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path.c_str(), 0, access, &key);
  if (rc == ERROR_SUCCESS) {
    m_hKey = key;
    return true;
  }
  if (log == kLogFailure) {
    if (rc == ERROR_FILE_NOT_FOUND) {
      trace.WriteFormat("Open failed as %s doesn't exist", path);
    } else {
      platform::SetLastError(static_cast<DWORD>(rc));
      trace.SystemError(DebugTrace::FormatOne("m_RegKey.Open() failed with %s", path));
    }
  }
  return false;
}

bool MyReg::Create(HKEY root, const std::string& path, REGSAM access) {
  DebugTrace trace("Create", __FILE__);
  Close();
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                            &disposition);
  if (rc != ERROR_SUCCESS) {
    platform::SetLastError(static_cast<DWORD>(rc));
    trace.SystemError("m_RegKey.Create() failed");
    return false;
  }
  m_hKey = key;
  return true;
}

bool MyReg::EnumKeys(std::vector<std::string>& names) {
  DebugTrace trace("EnumKeys", __FILE__);
  if (m_hKey == nullptr) return true;
  for (DWORD index = 0;; ++index) {
    char name[260];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(m_hKey, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length < sizeof name ? length : sizeof name - 1);
  }
  return true;
}

bool MyReg::Query(DWORD& out, const std::string& name) {
  DebugTrace trace("Query(DWORD)", __FILE__);
  if (m_hKey == nullptr) {
    trace.Error("Key not open");
    return false;
  }
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  LONG rc = RegQueryValueExA(m_hKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  // A short value of another type would leave part of the DWORD undefined: refuse it.
  if (rc == ERROR_SUCCESS && type != REG_DWORD) rc = ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) {
    platform::SetLastError(static_cast<DWORD>(rc));
    trace.SystemError("Trouble quering value");
    return false;
  }
  out = value;
  return true;
}

bool MyReg::Query(std::string& out, const std::string& name) {
  DebugTrace trace("Query(CString)", __FILE__);
  if (m_hKey == nullptr) {
    trace.Error("Key not open");
    return false;
  }
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(m_hKey, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  if (rc != ERROR_SUCCESS) {
    platform::SetLastError(static_cast<DWORD>(rc));
    trace.SystemError("Query failed");
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    platform::SetLastError(ERROR_INVALID_DATA);
    trace.SystemError("Query type not correct");
    return false;
  }
  std::string buffer(static_cast<size_t>(size) + 1, '\0');
  DWORD got = size;
  rc = RegQueryValueExA(m_hKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
  if (rc != ERROR_SUCCESS) {
    // The value changed between the two calls (another process): report it like the first failure.
    platform::SetLastError(static_cast<DWORD>(rc));
    trace.SystemError("Query failed");
    return false;
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  out = type == REG_EXPAND_SZ ? Expand(buffer) : buffer;
  return true;
}

std::string MyReg::Expand(const std::string& text) {
  DebugTrace trace("Expand", __FILE__);
  std::string buffer(100, '\0');
  for (;;) {
    DWORD needed = ExpandEnvironmentStringsA(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (needed == 0) {
      trace.SystemError("ExpandEnvironmentStrings() failed");
      return std::string();
    }
    if (needed <= buffer.size()) break;
    buffer.resize(buffer.size() + 100, '\0');
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

bool MyReg::Set(const std::string& value, const std::string& name) {
  DebugTrace trace("Set(string)", __FILE__);
  if (m_hKey == nullptr) {
    trace.Error("Key not open");
    return false;
  }
  LONG rc = RegSetValueExA(m_hKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
  if (rc != ERROR_SUCCESS) {
    platform::SetLastError(static_cast<DWORD>(rc));
    trace.SystemError("m_RegKey.SetValue() failed");
    return false;
  }
  return true;
}

bool MyReg::Set(DWORD value, const std::string& name) {
  DebugTrace trace("Set(DWORD)", __FILE__);
  if (m_hKey == nullptr) {
    trace.Error("Key not open");
    return false;
  }
  LONG rc =
      RegSetValueExA(m_hKey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  if (rc != ERROR_SUCCESS) {
    platform::SetLastError(static_cast<DWORD>(rc));
    trace.SystemError("m_RegKey.SetValue() failed");
    return false;
  }
  return true;
}

bool MyReg::DeleteSubKey(const std::string& name) {
  DebugTrace trace("DeleteSubKey", __FILE__);
  if (m_hKey == nullptr) {
    trace.Error("Key not open");
    return false;
  }
  if (RegDeleteKeyA(m_hKey, name.c_str()) != ERROR_SUCCESS) {
    trace.Error("m_RegKey.DeleteSubKey() failed");
    return false;
  }
  return true;
}

bool MyReg::DeleteValue(const std::string& name) {
  DebugTrace trace("DeleteValue", __FILE__);
  if (m_hKey == nullptr) {
    trace.Error("Key not open");
    return false;
  }
  if (RegDeleteValueA(m_hKey, name.c_str()) != ERROR_SUCCESS) {
    trace.Error("m_RegKey.DeleteValue() failed");
    return false;
  }
  return true;
}
