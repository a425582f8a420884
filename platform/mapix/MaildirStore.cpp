#include "platform/mapix/MaildirStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace mapix {

namespace {

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p for the root (its parents may not exist yet).
bool MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    if (!MakeFolder(path.substr(0, slash))) return false;
  return MakeFolder(path);
}

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

const char* StoreErrorText(StoreError error) {
  switch (error) {
    case StoreError::None:
      return "no error";
    case StoreError::CannotCreate:
      return "the message store folder could not be created";
    case StoreError::CannotWrite:
      return "the message could not be stored";
    case StoreError::NotFound:
      return "the message is not in the store";
  }
  return "unknown error";
}

MaildirStore::MaildirStore(std::string root) : m_strRoot(std::move(root)) {
  while (m_strRoot.size() > 1 && m_strRoot.back() == '/') m_strRoot.pop_back();
}

std::string MaildirStore::FolderPath(Folder folder) const {
  return m_strRoot + (folder == Folder::Outbox ? "/.Outbox/" : "/.Sent Items/");
}

StoreError MaildirStore::Open() {
  if (m_strRoot.empty() || m_strRoot[0] != '/') return StoreError::CannotCreate;
  if (!MakeFolders(m_strRoot)) return StoreError::CannotCreate;
  for (const std::string& base :
       {m_strRoot + "/", FolderPath(Folder::Outbox), FolderPath(Folder::SentItems)}) {
    if (!MakeFolder(base.substr(0, base.size() - 1))) return StoreError::CannotCreate;
    for (const char* sub : {"tmp", "new", "cur"})
      if (!MakeFolder(base + sub)) return StoreError::CannotCreate;
  }
  // Maildir++ marks a subfolder with this file so mail programs list it.
  for (Folder folder : {Folder::Outbox, Folder::SentItems}) {
    const int fd = open((FolderPath(folder) + "maildirfolder").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
  }
  return StoreError::None;
}

std::string MaildirStore::UniqueName() const {
  // time.M<microseconds>P<pid>Q<counter>.host, the usual unique Maildir name.
  static std::atomic<unsigned> counter{0};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  for (char* c = host; *c != '\0'; ++c)
    if (*c == '/' || *c == ':') *c = '_';
  char name[400];
  std::snprintf(name, sizeof name, "%lld.M%ldP%dQ%u.%s", static_cast<long long>(now.tv_sec),
                now.tv_nsec / 1000, static_cast<int>(getpid()), ++counter, host);
  return name;
}

StoreError MaildirStore::CreateTemp(Folder folder, std::string& path, int& fd) const {
  for (int attempt = 0; attempt < 8; ++attempt) {
    path = FolderPath(folder) + "tmp/" + UniqueName();
    fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return StoreError::None;
    if (errno != EEXIST) break;
  }
  fd = -1;
  return StoreError::CannotWrite;
}

StoreError MaildirStore::Deliver(Folder folder, const std::string& tempPath, std::string& placedPath) const {
  const std::string target = FolderPath(folder) + "new/" + BaseName(tempPath);
  if (rename(tempPath.c_str(), target.c_str()) != 0)
    return errno == ENOENT ? StoreError::NotFound : StoreError::CannotWrite;
  placedPath = target;
  return StoreError::None;
}

StoreError MaildirStore::Move(const std::string& placedPath, Folder to, std::string& movedPath) const {
  std::string base = BaseName(placedPath);
  const std::size_t info = base.find(":2,");
  if (info != std::string::npos) base.resize(info);
  const std::string target = FolderPath(to) + "cur/" + base + ":2,S";
  if (rename(placedPath.c_str(), target.c_str()) != 0)
    return errno == ENOENT ? StoreError::NotFound : StoreError::CannotWrite;
  movedPath = target;
  return StoreError::None;
}

}  // namespace mapix
