// Windows folder, current folder and private profile files (see Profile.h).
#include "platform/folders/Profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/folders/Folders.h"
#include "platform/text/Text.h"

namespace {

constexpr off_t kMaxProfileSize = 1024 * 1024;

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

DWORD CopyOut(const std::string& value, char* out, DWORD size) {
  if (!out || size == 0) return 0;
  const size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(out, value.data(), n);
  out[n] = '\0';
  return static_cast<DWORD>(n);
}

bool ReadValue(const std::string& path, const std::string& section, const std::string& key,
               std::string& value) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxProfileSize) return false;
  std::ifstream in(path);
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    const std::string text = Trim(line);
    if (text.empty() || text[0] == ';') continue;
    if (text[0] == '[') {
      const size_t close = text.find(']');
      inSection = close != std::string::npos &&
                  platform::text::EqualsNoCase(Trim(text.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const size_t eq = text.find('=');
    if (eq == std::string::npos || !platform::text::EqualsNoCase(Trim(text.substr(0, eq)), key)) continue;
    value = Trim(text.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    return true;
  }
  return false;
}

}  // namespace

UINT GetWindowsDirectoryA(char* buf, UINT size) {
  const std::string folder = platform::folders::WindowsFolder();
  const UINT length = static_cast<UINT>(folder.size());
  if (!buf || size <= length) return length + 1;
  std::memcpy(buf, folder.c_str(), length + 1);
  return length;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buf) {
  char path[4096];
  if (!getcwd(path, sizeof path)) {
    platform::SetLastError(platform::ErrorFromErrno(errno));
    return 0;
  }
  const DWORD length = static_cast<DWORD>(std::strlen(path));
  if (!buf || size <= length) return length + 1;
  std::memcpy(buf, path, length + 1);
  return length;
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file) {
  std::string value = defaultValue ? defaultValue : "";
  if (section && key && file && *file) {
    std::string path = file;
    if (path.find('/') == std::string::npos) path = platform::folders::WindowsFolder() + "/" + path;
    std::string found;
    if (ReadValue(path, section, key, found)) value = found;
  }
  return CopyOut(value, out, size);
}
