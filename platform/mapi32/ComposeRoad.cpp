#include "platform/mapi32/ComposeRoad.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/folders/XdgFolders.h"

extern char** environ;

namespace mapi32 {

using namespace simplemapi;

namespace {

constexpr int kComposeWaitMs = 5000;
constexpr time_t kKeepCopiesSeconds = 7 * 24 * 3600;

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  struct stat info {};
  return errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void RemoveTree(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir != nullptr) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = path + "/" + name;
      struct stat info {};
      if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        RemoveTree(child);
      else
        unlink(child.c_str());
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

void RemoveOldCopies(const std::string& root) {
  DIR* dir = opendir(root.c_str());
  if (dir == nullptr) return;
  const time_t now = time(nullptr);
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    const std::string child = root + "/" + name;
    if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && now - info.st_mtime > kKeepCopiesSeconds)
      RemoveTree(child);
  }
  closedir(dir);
}

// A name the mail program shows: no folder part, no controls, not hidden.
std::string SafeFileName(const std::string& name) {
  std::string out;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    out += (c == '/' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  while (!out.empty() && out.front() == '.') out.erase(0, 1);
  if (out.empty()) out = "attachment";
  if (out.size() > 200) out = out.substr(out.size() - 200);
  return out;
}

ULONG CopyFile(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return errno == ENOENT ? MAPI_E_ATTACHMENT_NOT_FOUND : MAPI_E_ATTACHMENT_OPEN_FAILURE;
  struct stat info {};
  if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(in);
    return MAPI_E_ATTACHMENT_OPEN_FAILURE;
  }
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return MAPI_E_ATTACHMENT_WRITE_FAILURE;
  }
  char buffer[64 * 1024];
  ULONG result = SUCCESS_SUCCESS;
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result = MAPI_E_ATTACHMENT_OPEN_FAILURE;
      break;
    }
    if (got == 0) break;
    ssize_t done = 0;
    while (done < got) {
      const ssize_t put = write(out, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      done += put;
    }
    if (done < got) {
      result = MAPI_E_ATTACHMENT_WRITE_FAILURE;
      break;
    }
  }
  close(in);
  if (close(out) != 0 && result == SUCCESS_SUCCESS) result = MAPI_E_ATTACHMENT_WRITE_FAILURE;
  if (result != SUCCESS_SUCCESS) unlink(to.c_str());
  return result;
}

// RFC 6068 2: addresses in a mailto: URI, percent-encoded except the unreserved characters and "@".
std::string MailtoEncode(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        std::strchr("-._~@", c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Blanks instead of controls other than line breaks (xdg-email encodes the line breaks itself).
std::string CleanText(const std::string& text, bool keepLineBreaks) {
  std::string out = text;
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && !(keepLineBreaks && (c == '\n' || c == '\t'))) || u == 0x7F) c = ' ';
  }
  return out;
}

}  // namespace

std::string AttachmentCopyRoot() {
  const std::string base = platform::folders::XdgBaseFolder(platform::folders::XdgBase::Cache);
  if (base.empty()) return std::string();
  if (!MakeFolder(base) || !MakeFolder(base + "/marlin3") || !MakeFolder(base + "/marlin3/mail-attachments"))
    return std::string();
  return base + "/marlin3/mail-attachments";
}

ULONG ComposeInMailProgram(const CheckedMessage& message) {
  std::vector<std::string> args = {"xdg-email", "--utf8"};
  for (const auto& box : message.cc) args.insert(args.end(), {"--cc", box.address});
  for (const auto& box : message.bcc) args.insert(args.end(), {"--bcc", box.address});
  const std::string subject = CleanText(message.subject, false);
  if (!subject.empty()) args.insert(args.end(), {"--subject", subject});
  std::string body;
  for (char c : message.body)
    if (c != '\r') body += c;
  body = CleanText(body, true);
  if (!body.empty()) args.insert(args.end(), {"--body", body});

  if (!message.attachments.empty()) {
    const std::string root = AttachmentCopyRoot();
    if (root.empty()) {
      Trace("no private folder for attachment copies");
      return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    }
    RemoveOldCopies(root);
    static std::atomic<unsigned> calls{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string callFolder = root + "/" + std::to_string(now.tv_sec) + "-" + std::to_string(getpid()) +
                                   "-" + std::to_string(++calls);
    if (!MakeFolder(callFolder)) return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    for (std::size_t i = 0; i < message.attachments.size(); ++i) {
      // One folder per file keeps every shown name as it is, even when two are the same.
      const std::string folder = callFolder + "/" + std::to_string(i + 1);
      const std::string copy = folder + "/" + SafeFileName(message.attachments[i].name);
      ULONG result = MakeFolder(folder) ? SUCCESS_SUCCESS : MAPI_E_ATTACHMENT_WRITE_FAILURE;
      if (result == SUCCESS_SUCCESS) result = CopyFile(message.attachments[i].path, copy);
      if (result != SUCCESS_SUCCESS) {
        RemoveTree(callFolder);
        return result;
      }
      args.insert(args.end(), {"--attach", copy});
    }
  }
  std::string mailto = "mailto:";
  for (std::size_t i = 0; i < message.to.size(); ++i)
    mailto += (i > 0 ? "," : "") + MailtoEncode(message.to[i].address);
  if (!message.to.empty()) args.push_back(mailto);

  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "xdg-email", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    Trace("xdg-email could not be started");
    SetFailure(kNoMailProgram, "xdg-email could not be started (is xdg-utils installed?)");
    return MAPI_E_FAILURE;
  }
  int status = 0;
  for (int waited = 0; waited < kComposeWaitMs; waited += 20) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return SUCCESS_SUCCESS;
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      Trace("xdg-email failed with status " + std::to_string(code));
      // xdg-email's status 3: a required tool was not found, here the desktop's mail program.
      if (code == 3) SetFailure(kNoMailProgram, "xdg-email failed with status 3: no mail program is set up");
      return MAPI_E_FAILURE;
    }
    if (done < 0 && errno != EINTR) return MAPI_E_FAILURE;
    usleep(20 * 1000);
  }
  // Still running: the mail program holds the compose window. Reap it when it ends.
  std::thread([pid] {
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return SUCCESS_SUCCESS;
}

}  // namespace mapi32
