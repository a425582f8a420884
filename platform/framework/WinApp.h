// The application-framework base class the program derives its application object from: the
// application name, the registry key of the per-user profile, the command line and InitInstance.
// Callers: ScanApp (app/halyard) and everything that reads Quick Set values through the profile calls.
// The profile lives under HKEY_CURRENT_USER\SOFTWARE\<registry key>\<application name>\<section>; an
// empty section is the application key itself. Reading never creates keys; writing creates them.
// Until SetRegistryKey has been called there is no profile: reads give the default, writes fail.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"
#include "platform/ui/UiTypes.h"

class CWinApp {
 public:
  // appName null: the executable's base name, as the framework's default application name.
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();

  // Everything after the program name, as one text (see platform/process BuildCommandLine).
  void SetCommandLine(const std::string& commandLine);

  void SetAppName(const std::string& name);
  const char* GetAppName() const { return m_strAppName.c_str(); }

  void SetRegistryKey(const char* key);
  const char* GetRegistryKey() const { return m_strRegistryKey.c_str(); }

  // The stored string, or the default when the key, the value or the profile is missing or the value
  // is not a string.
  std::string GetProfileString(const char* section, const char* entry, const char* defaultValue = nullptr);
  // Writes a REG_SZ, creating the keys on the way. False when there is no profile or the write fails.
  BOOL WriteProfileString(const char* section, const char* entry, const char* value);

  // An icon of the resource library (the program's is 128), or a stock IDI_ icon; null when missing.
  HICON LoadIcon(UINT id) const;
  // One level of the wait cursor more or less (CWaitCursor does both).
  void BeginWaitCursor();
  void EndWaitCursor();

  // Three-dimensional controls are the only look the ui layer has; kept for the call's shape.
  void Enable3dControls() {}

  // Points into the application's own copy; never null.
  const char* m_lpCmdLine;

 private:
  std::string ProfileKeyPath(const char* section) const;

  std::string m_strCmdLine;
  std::string m_strAppName;
  std::string m_strRegistryKey;
};

// The one application object of the process, or null before it is constructed.
CWinApp* AfxGetApp();
// The application name, or "" when there is no application object.
const char* AfxGetAppName();
