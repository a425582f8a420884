#include "platform/framework/WinApp.h"

#include <cerrno>
#include <vector>

#include "platform/registry/Registry.h"
#include "platform/ui/UiHost.h"

namespace {

CWinApp* g_pApp = nullptr;

std::string DefaultAppName() {
  // The framework names the application after its executable when nothing else is said.
  const char* name = program_invocation_short_name;
  return name != nullptr ? std::string(name) : std::string();
}

}  // namespace

CWinApp::CWinApp(const char* appName)
    : m_lpCmdLine(""), m_strAppName(appName != nullptr ? appName : DefaultAppName()) {
  m_lpCmdLine = m_strCmdLine.c_str();
  g_pApp = this;
  platform::ui::SetAppName(m_strAppName);
  // A script's lines left over fail the run even when the task shows no box or dialog.
  platform::ui::StartScriptedHost();
}

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() {
  return TRUE;
}

void CWinApp::SetCommandLine(const std::string& commandLine) {
  m_strCmdLine = commandLine;
  m_lpCmdLine = m_strCmdLine.c_str();
}

void CWinApp::SetAppName(const std::string& name) {
  m_strAppName = name;
  platform::ui::SetAppName(m_strAppName);
}

HICON CWinApp::LoadIcon(UINT id) const {
  return platform::ui::LoadIcon(id);
}

void CWinApp::BeginWaitCursor() {
  platform::ui::Host().SetWaitCursor(true);
}

void CWinApp::EndWaitCursor() {
  platform::ui::Host().SetWaitCursor(false);
}

void CWinApp::SetRegistryKey(const char* key) {
  m_strRegistryKey = key != nullptr ? key : "";
}

std::string CWinApp::ProfileKeyPath(const char* section) const {
  std::string path = "SOFTWARE\\" + m_strRegistryKey + "\\" + m_strAppName;
  if (section != nullptr && *section != '\0') {
    path += '\\';
    path += section;
  }
  return path;
}

std::string CWinApp::GetProfileString(const char* section, const char* entry, const char* defaultValue) {
  std::string result = defaultValue != nullptr ? defaultValue : "";
  if (m_strRegistryKey.empty() || entry == nullptr) return result;

  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, ProfileKeyPath(section).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return result;

  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key, entry, nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    DWORD got = size;
    rc = RegQueryValueExA(key, entry, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (rc == ERROR_SUCCESS) result.assign(buffer.data());  // stops at the stored terminating zero
  }
  RegCloseKey(key);
  return result;
}

BOOL CWinApp::WriteProfileString(const char* section, const char* entry, const char* value) {
  if (m_strRegistryKey.empty() || entry == nullptr) return FALSE;

  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, ProfileKeyPath(section).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE | KEY_READ, nullptr, &key, &disposition) != ERROR_SUCCESS)
    return FALSE;

  LONG rc;
  if (value == nullptr) {
    rc = RegDeleteValueA(key, entry);
  } else {
    std::string text = value;
    rc = RegSetValueExA(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? TRUE : FALSE;
}

CWinApp* AfxGetApp() {
  return g_pApp;
}

const char* AfxGetAppName() {
  return g_pApp != nullptr ? g_pApp->GetAppName() : "";
}
