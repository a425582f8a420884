// FindFirstFileA / FindNextFileA / FindClose (see Files.h).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/files/FileObject.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"

namespace platform::files {

namespace {

class FindObject : public HandleObject {
 public:
  FindObject() : HandleObject(Kind::Find) {}
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

bool HasWildcards(const std::string& s) {
  return s.find_first_of("*?") != std::string::npos;
}

bool Describe(const std::string& path, const std::string& name, WIN32_FIND_DATAA& data) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) return false;  // dangling link: itself
  if (name.size() >= MAX_PATH) return false;
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = AttributesOf(st, name);
  ToFileTime(st.st_ctim, data.ftCreationTime.dwLowDateTime, data.ftCreationTime.dwHighDateTime);
  ToFileTime(st.st_atim, data.ftLastAccessTime.dwLowDateTime, data.ftLastAccessTime.dwHighDateTime);
  ToFileTime(st.st_mtim, data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime);
  if (!S_ISDIR(st.st_mode)) {
    const auto size = static_cast<uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
  }
  platform::text::CopyTruncated(data.cFileName, sizeof data.cFileName, name);
  return true;
}

// The root of a volume: "/" or a mount point (its parent lies on another device).
bool IsVolumeRoot(const std::string& dir) {
  struct stat self {
  }, parent{};
  if (stat(dir.c_str(), &self) != 0 || stat((dir + "/..").c_str(), &parent) != 0) return false;
  return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

}  // namespace

}  // namespace platform::files

using platform::files::FindObject;

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  if (!pattern || !*pattern || !data) {
    platform::SetLastError(pattern && *pattern ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string text = pattern;
  const size_t slash = text.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : text.substr(0, slash));
  const std::string mask = slash == std::string::npos ? text : text.substr(slash + 1);
  if (mask.empty()) {
    // "folder/" names no entry: Windows fails such a search.
    platform::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    platform::SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto* find = new FindObject();
  const std::string prefix = dir == "/" ? "/" : dir + "/";
  if (!platform::files::HasWildcards(mask)) {
    WIN32_FIND_DATAA entry;
    if (platform::files::Describe(prefix + mask, mask, entry)) find->entries.push_back(entry);
  } else {
    DIR* d = opendir(dir.c_str());
    if (!d) {
      delete find;
      platform::SetLastError(platform::ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) names.emplace_back(e->d_name);
    closedir(d);
    const bool root = platform::files::IsVolumeRoot(dir);
    std::vector<std::string> dots, others;
    for (const std::string& name : names) {
      if (name == "." || name == "..") {
        if (!root) dots.push_back(name);
      } else {
        others.push_back(name);
      }
    }
    std::sort(dots.begin(), dots.end());
    std::sort(others.begin(), others.end(), [](const std::string& a, const std::string& b) {
      const int c = platform::text::CompareNoCase(a, b);
      return c != 0 ? c < 0 : a < b;
    });
    dots.insert(dots.end(), others.begin(), others.end());
    for (const std::string& name : dots) {
      if (!platform::text::WildcardMatch(mask, name)) continue;
      WIN32_FIND_DATAA entry;
      if (platform::files::Describe(prefix + name, name, entry)) find->entries.push_back(entry);
    }
  }
  if (find->entries.empty()) {
    delete find;
    platform::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *data = find->entries[0];
  find->next = 1;
  platform::SetLastError(ERROR_SUCCESS);
  return platform::RegisterHandle(find);
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data) {
  auto* find = static_cast<FindObject*>(platform::LookupHandle(handle, platform::HandleObject::Kind::Find));
  if (!find || !data) {
    platform::SetLastError(find ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (find->next >= find->entries.size()) {
    platform::SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = find->entries[find->next++];
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  if (!platform::LookupHandle(handle, platform::HandleObject::Kind::Find)) {
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(handle);
}
