#include "MonitorState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/folders/XdgFolders.h"

namespace devwatch {

namespace fs = std::filesystem;

namespace {

bool MakePrivateFolder(const fs::path& folder, std::string& why) {
  std::error_code ec;
  fs::create_directories(folder.parent_path(), ec);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    why = "cannot make " + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    why = folder.string() + " is not a private folder of this user";
    return false;
  }
  // A folder of our own that an older version left open is narrowed, through the folder itself.
  if ((st.st_mode & 077) != 0) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool narrowed = fd >= 0 && fchmod(fd, 0700) == 0;
    if (fd >= 0) close(fd);
    if (!narrowed) {
      why = folder.string() + " is open to other users and cannot be made private";
      return false;
    }
  }
  return true;
}

std::string FallbackFolderName() {
  return "marlin3-devwatch-" + std::to_string(geteuid());
}

}  // namespace

fs::path MonitorState::StateFolder() {
  const std::string state = platform::folders::XdgBaseFolder(platform::folders::XdgBase::State);
  // No home folder at all: the private runtime fallback, never a fixed name in a shared folder.
  if (state.empty()) return fs::path("/tmp") / FallbackFolderName() / "state";
  return fs::path(state) / "marlin3";
}

fs::path MonitorState::RuntimeFolder(std::string& why) {
  const std::string runtime = platform::folders::XdgRuntimeFolder();
  fs::path folder =
      !runtime.empty() ? fs::path(runtime) / "marlin3" : fs::path("/tmp") / FallbackFolderName();
  if (!MakePrivateFolder(folder, why)) return fs::path();
  return folder;
}

bool MonitorState::Load(const fs::path& file, Notification& state) {
  std::ifstream in(file);
  if (!in) return false;
  Notification loaded;
  int seen = 0;
  for (std::string line; std::getline(in, line) && seen < 16;) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    std::string why;
    if ((key == "DevAddr" || key == "DevHostId") && !NotificationLine::CheckValue(key.c_str(), value, why))
      return false;
    if (key == "DevAddr")
      loaded.strDevAddr = value;
    else if (key == "DevHostId")
      loaded.strHostId = value;
    else if (key == "DevMon")
      loaded.bPollingOn = value == "On";
    else
      return false;
    ++seen;
  }
  state = loaded;
  return true;
}

bool MonitorState::Save(const fs::path& file, const Notification& state, std::string& why) {
  // Each value is one line of the file: a value that is no field (a CR or LF in it) is never written.
  if (!NotificationLine::CheckValue("DevAddr=", state.strDevAddr, why) ||
      !NotificationLine::CheckValue("DevHostId=", state.strHostId, why))
    return false;
  const fs::path folder = file.parent_path();
  if (folder.parent_path().filename() == FallbackFolderName() &&
      !MakePrivateFolder(folder.parent_path(), why))
    return false;
  if (!MakePrivateFolder(folder, why)) return false;
  // A new file of our own beside the state (never a name someone may have put a link at), then renamed.
  std::string temp = file.string() + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    why = "cannot create a file in " + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  const std::string text = "DevAddr=" + state.strDevAddr + "\nDevMon=" + (state.bPollingOn ? "On" : "Off") +
                           "\nDevHostId=" + state.strHostId + "\n";
  const bool written =
      write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  const int writeErrno = errno;
  close(fd);
  if (!written) {
    unlink(temp.c_str());
    why = "cannot write " + temp + ": " + std::strerror(writeErrno);
    return false;
  }
  if (std::rename(temp.c_str(), file.c_str()) != 0) {
    why = "cannot replace " + file.string() + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace devwatch
