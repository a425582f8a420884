// Temporary and special folders, computer name and locale information (see Folders.h).
#include "platform/folders/Folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/text/Text.h"

namespace platform::folders {

namespace {

std::string Home() {
  const std::string home = HomeFolder();
  return home.empty() ? "/" : home;
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos == dir.size() || dir[pos] == '/') {
      const std::string part = dir.substr(0, pos);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return IsDirectory(dir);
}

// One value of user-dirs.dirs: XDG_DOCUMENTS_DIR="$HOME/Documents" (shell syntax: a double-quoted
// text in which "$HOME" may start the value and backslash escapes the next character).
bool ParseUserDir(const std::string& line, const std::string& key, std::string& value) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line.compare(i, key.size(), key) != 0) return false;
  i += key.size();
  if (i >= line.size() || line[i] != '=') return false;
  ++i;
  std::string raw;
  if (i < line.size() && line[i] == '"') {
    for (++i; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      raw += line[i];
    }
  } else {
    raw = line.substr(i);
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\r')) raw.pop_back();
  }
  if (raw.compare(0, 5, "$HOME") == 0 && (raw.size() == 5 || raw[5] == '/')) {
    raw = Home() + raw.substr(5);
  } else if (raw.empty() || raw[0] != '/') {
    return false;  // xdg-user-dirs accepts only $HOME-relative or absolute paths
  }
  value = WithoutSlash(raw);
  return true;
}

}  // namespace

std::string WindowsFolder() {
  const char* dir = std::getenv("MARLIN3_WINDOWS_DIR");
  std::string folder = dir && *dir == '/' ? dir : "/etc";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string DocumentsFolder(const char* userDirsFile) {
  std::string file;
  if (userDirsFile) {
    file = userDirsFile;
  } else {
    const std::string config = XdgBaseFolder(XdgBase::Config);
    if (config.empty()) return WithoutSlash(Home()) + "/Documents";
    file = (config == "/" ? "" : config) + "/user-dirs.dirs";
  }
  std::ifstream in(file);
  std::string line, value, result;
  while (std::getline(in, line)) {
    if (ParseUserDir(line, "XDG_DOCUMENTS_DIR", value)) result = value;  // the last one counts, as in sh
  }
  return result.empty() ? WithoutSlash(Home()) + "/Documents" : result;
}

WORD LangIdOfLocale(const std::string& locale) {
  if (locale.size() < 2) return 1033;
  std::string lang, rest;
  const size_t end = locale.find_first_of("_.@");
  lang = locale.substr(0, end);
  rest = end == std::string::npos ? std::string() : locale.substr(end);
  for (char& c : lang) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  struct Entry {
    const char* lang;
    WORD id;
  };
  static const Entry kLanguages[] = {{"cs", 1029}, {"da", 1030}, {"de", 1031}, {"en", 1033}, {"es", 3082},
                                     {"fi", 1035}, {"fr", 1036}, {"hu", 1038}, {"it", 1040}, {"ko", 1042},
                                     {"nl", 1043}, {"nb", 1044}, {"nn", 1044}, {"no", 1044}, {"pl", 1045},
                                     {"pt", 1046}, {"ru", 1049}, {"sv", 1053}, {"th", 1054}, {"tr", 1055}};
  if (lang == "zh") {
    const bool traditional = rest.find("_TW") == 0 || rest.find("_HK") == 0 || rest.find("_MO") == 0 ||
                             rest.find("Hant") != std::string::npos;
    return traditional ? 1028 : 2052;
  }
  for (const Entry& e : kLanguages) {
    if (lang == e.lang) return e.id;
  }
  return 1033;
}

bool MakePrivateFolder(const std::string& folder, std::string* why) {
  auto refuse = [&](const std::string& cause) {
    if (why) *why = "'" + folder + "' " + cause;
    return false;
  };
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return refuse(std::strerror(errno));
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) return refuse(std::strerror(errno));
  if (S_ISLNK(st.st_mode)) return refuse("is a symbolic link");
  if (!S_ISDIR(st.st_mode)) return refuse("is not a folder");
  if (st.st_uid != geteuid())
    return refuse("belongs to another user (uid " + std::to_string(st.st_uid) + ")");
  if ((st.st_mode & 07777) != 0700) {
    // Narrowed through a descriptor of that very folder, so a swap after the check changes nothing.
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat now {};
    const bool same = fd >= 0 && fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
    const bool narrowed = same && fchmod(fd, 0700) == 0;
    if (fd >= 0) close(fd);
    if (!narrowed) return refuse("is open to other users and cannot be closed");
  }
  return true;
}

int RemoveOldFiles(const std::string& folder, const std::string& prefix, long maxAgeSeconds) {
  const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* dir = fdopendir(dirFd);
  if (dir == nullptr) {
    close(dirFd);
    return 0;
  }
  const time_t now = time(nullptr);
  int removed = 0;
  while (dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    struct stat st {};
    if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) || st.st_uid != geteuid()) continue;
    if (now - st.st_mtime <= maxAgeSeconds) continue;
    if (unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}

std::string NewPrivateFolder(const std::string& prefix) {
  std::string pattern = prefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  return pattern + "/";
}

std::string PrivateTempFolder(std::string* refusal) {
  char buffer[PATH_MAX];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  // A temporary folder whose name does not fit falls back to "/tmp/", as the callers' own fallback does.
  const std::string base =
      length == 0 || length >= sizeof buffer ? std::string("/tmp/") : std::string(buffer, length);
  // $TMPDIR is the user's choice, so a link there is followed; only who may write in it counts.
  struct stat st {};
  if (stat(WithoutSlash(base).c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
      (st.st_mode & 022) == 0)
    return base;

  const std::string own = base + "marlin3-" + std::to_string(geteuid());
  std::string why;
  if (MakePrivateFolder(own, &why)) return own + "/";

  static std::mutex mutex;
  static std::map<std::string, std::string> made;  // base -> the folder used in its place
  std::lock_guard<std::mutex> lock(mutex);
  std::string& folder = made[base];
  if (folder.empty() || !MakePrivateFolder(WithoutSlash(folder))) folder = NewPrivateFolder(own + "-");
  if (refusal)
    *refusal = folder.empty() ? why + ", and no private folder could be made in its place"
                              : why + ", using '" + folder + "' instead";
  return folder;
}

}  // namespace platform::folders

DWORD GetTempPathA(DWORD size, char* buf) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = (tmp && *tmp) ? tmp : "/tmp/";
  if (path.back() != '/') path += '/';
  const auto length = static_cast<DWORD>(path.size());
  if (!buf || size < length + 1) return length + 1;
  std::memcpy(buf, path.c_str(), path.size() + 1);
  return length;
}

bool GetSpecialFolder(SpecialFolder which, std::string& path, bool create) {
  std::string folder;
  switch (which) {
    case SpecialFolder::Personal:
      folder = platform::folders::DocumentsFolder();
      break;
    case SpecialFolder::Windows:
      folder = platform::folders::WindowsFolder();
      break;
    default:
      platform::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
  }
  if (!platform::folders::IsDirectory(folder)) {
    if (!create || !platform::folders::MakeDirectories(folder)) {
      platform::SetLastError(create ? platform::ErrorFromErrno(errno)
                                    : static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
      return false;
    }
  }
  path = folder;
  return true;
}

BOOL GetComputerNameA(char* buf, DWORD* size) {
  if (!size) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    platform::SetLastError(platform::ErrorFromErrno(errno));
    return FALSE;
  }
  const auto length = static_cast<DWORD>(std::strlen(name));
  if (!buf || *size < length + 1) {
    *size = length + 1;
    platform::SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(buf, name, length + 1);
  *size = length;
  return TRUE;
}

int GetLocaleCountryCode() {
  // A locale object of its own (from the environment, as setlocale(LC_TELEPHONE, "") would pick),
  // so the process's global locale stays as the caller set it.
  locale_t loc = newlocale(LC_TELEPHONE_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) return 1;
  const char* prefix = nl_langinfo_l(_NL_TELEPHONE_INT_PREFIX, loc);
  int code = 0;
  if (prefix) {
    for (const char* p = prefix; *p >= '0' && *p <= '9' && code < 100000; ++p) code = code * 10 + (*p - '0');
  }
  freelocale(loc);
  return code > 0 ? code : 1;
}

WORD GetUserDefaultLangID() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return platform::folders::LangIdOfLocale(value);
  }
  return 1033;
}
