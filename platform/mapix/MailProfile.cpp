#include "platform/mapix/MailProfile.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/folders/XdgFolders.h"

extern char** environ;

namespace mapix {

namespace {

constexpr std::size_t kMaxProfileBytes = 256 * 1024;
constexpr std::size_t kMaxAddressEntries = 10000;
constexpr std::size_t kMaxPasswordBytes = 4096;
constexpr int kSecretToolTimeoutMs = 20000;

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
  return text.substr(begin, end - begin);
}

std::string HomeFolder() {
  return platform::folders::HomeFolder();
}

// "~/x" is the home folder's x; everything else stays.
std::string ExpandHome(const std::string& path) {
  if (path == "~") return HomeFolder();
  if (path.rfind("~/", 0) == 0) return HomeFolder() + path.substr(1);
  return path;
}

bool ParseInt(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  long result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  if (result < low || result > high) return false;
  value = static_cast<int>(result);
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::vector<std::string> SplitBlanks(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

ProfileError ReadPasswordFile(const std::string& path, std::string& password) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return ProfileError::PasswordUnavailable;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0) {
    close(fd);
    return ProfileError::PasswordFileUnsafe;
  }
  std::string text;
  char buffer[512];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxPasswordBytes) break;
  }
  close(fd);
  if (text.size() > kMaxPasswordBytes) return ProfileError::PasswordUnavailable;
  // One line: the first line break ends the password (editors add one).
  const std::size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  if (text.empty()) return ProfileError::PasswordUnavailable;
  password = std::move(text);
  return ProfileError::None;
}

// secret-tool lookup ATTR VALUE ...: the desktop's secret store, when one runs. Bounded in time so a
// locked store that never answers cannot hang the send.
ProfileError ReadSecretStore(const std::vector<std::string>& attributes, std::string& password) {
  if (attributes.empty() || attributes.size() % 2 != 0) return ProfileError::BadPasswordSource;
  std::vector<std::string> args = {"secret-tool", "lookup"};
  args.insert(args.end(), attributes.begin(), attributes.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return ProfileError::PasswordUnavailable;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "secret-tool", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    return ProfileError::PasswordUnavailable;
  }
  std::string text;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  bool timedOut = false;
  for (;;) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= kSecretToolTimeoutMs) {
      timedOut = true;
      break;
    }
    pollfd entry{pipeFds[0], POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(kSecretToolTimeoutMs - elapsed));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[512];
    const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (text.size() < kMaxPasswordBytes) text.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return ProfileError::PasswordUnavailable;
  const std::size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  if (text.empty() || text.size() > kMaxPasswordBytes) return ProfileError::PasswordUnavailable;
  password = std::move(text);
  return ProfileError::None;
}

}  // namespace

const char* ProfileErrorText(ProfileError error) {
  switch (error) {
    case ProfileError::None:
      return "no error";
    case ProfileError::NotFound:
      return "no mail profile";
    case ProfileError::Unreadable:
      return "the mail profile cannot be read";
    case ProfileError::Syntax:
      return "a line is not \"key = value\", a [section] or a comment";
    case ProfileError::UnknownKey:
      return "unknown key";
    case ProfileError::MissingSender:
      return "[sender] address is missing or not an address";
    case ProfileError::MissingServer:
      return "[smtp] host is missing";
    case ProfileError::BadPort:
      return "[smtp] port must be 1 to 65535";
    case ProfileError::BadSecurity:
      return "[smtp] security must be tls, starttls or none";
    case ProfileError::InsecureRemote:
      return "[smtp] security none is allowed only for a loopback host";
    case ProfileError::BadPasswordSource:
      return "[smtp] password must be file:PATH or secret:ATTRIBUTE VALUE..., and is needed with a user";
    case ProfileError::PasswordFileUnsafe:
      return "the password file must be a regular file of this user, readable by nobody else (chmod 600)";
    case ProfileError::PasswordUnavailable:
      return "the password source gave no password";
    case ProfileError::BadTimeout:
      return "[smtp] timeout must be 1 to 3600 seconds";
    case ProfileError::BadAddressEntry:
      return "an [addresses] entry is not \"Name = address\"";
    case ProfileError::MissingStore:
      return "[store] folder is missing or not an absolute path";
    case ProfileError::ProfileUnsafe:
      return "the mail profile must be this user's file that nobody else may change, and with a password "
             "readable by nobody else (chmod 600)";
  }
  return "unknown error";
}

// "" without any absolute home or XDG folder: no profile rather than one at the file system's root.
std::string DefaultProfilePath() {
  const std::string config = platform::folders::XdgBaseFolder(platform::folders::XdgBase::Config);
  return config.empty() ? std::string() : config + "/marlin3/mail-profile.conf";
}

std::string DefaultStoreFolder() {
  const std::string data = platform::folders::XdgBaseFolder(platform::folders::XdgBase::Data);
  return data.empty() ? std::string() : data + "/marlin3/Mail";
}

bool IsLoopbackHost(const std::string& host) {
  const std::string lower = Lower(host);
  if (lower == "localhost" || lower == "::1" || lower == "[::1]") return true;
  if (lower.rfind("127.", 0) != 0) return false;
  int dots = 0;
  for (char c : lower) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3;
}

bool IsPlainAddress(const std::string& address) {
  if (address.empty() || address.size() > 254) return false;
  const std::size_t at = address.rfind('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size()) return false;
  if (address.find('@') != at) return false;
  for (unsigned char c : address) {
    if (c <= 0x20 || c == 0x7F) return false;
    if (std::strchr("<>()[]\\,;:\"", c) != nullptr) return false;
  }
  const std::string domain = address.substr(at + 1);
  return domain.front() != '.' && domain.back() != '.' && domain.find("..") == std::string::npos;
}

bool ParseMailbox(const std::string& input, std::string& name, std::string& address) {
  const std::string text = Trim(input);
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  if (IsPlainAddress(text)) {
    name.clear();
    address = text;
    return true;
  }
  if (text.empty() || text.back() != '>') return false;
  const std::size_t open = text.rfind('<');
  if (open == std::string::npos) return false;
  const std::string inner = text.substr(open + 1, text.size() - open - 2);
  if (!IsPlainAddress(inner)) return false;
  std::string display = Trim(text.substr(0, open));
  if (display.size() >= 2 && display.front() == '"' && display.back() == '"')
    display = display.substr(1, display.size() - 2);
  if (display.find('"') != std::string::npos) return false;
  name = display;
  address = inner;
  return true;
}

ProfileError LoadProfile(const std::string& path, MailProfile& profile, int* errorLine) {
  if (errorLine != nullptr) *errorLine = 0;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0)
    return errno == ENOENT ? ProfileError::NotFound : ProfileError::Unreadable;
  if (!S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > kMaxProfileBytes)
    return ProfileError::Unreadable;
  std::ifstream file(path, std::ios::binary);
  if (!file) return ProfileError::Unreadable;
  std::stringstream text;
  text << file.rdbuf();
  const ProfileError error = ParseProfile(text.str(), profile, errorLine);
  if (error != ProfileError::None) return error;
  // Whoever may change the profile can send the user's mail (and password) to a server of theirs;
  // whoever may read it learns where the password is kept.
  if (info.st_uid != geteuid() || (info.st_mode & 022) != 0 ||
      (!profile.passwordSource.empty() && (info.st_mode & 044) != 0)) {
    profile = MailProfile();
    return ProfileError::ProfileUnsafe;
  }
  return error;
}

ProfileError ParseProfile(const std::string& content, MailProfile& profile, int* errorLine) {
  if (errorLine != nullptr) *errorLine = 0;
  if (content.size() > kMaxProfileBytes) return ProfileError::Unreadable;
  std::istringstream in(content);
  MailProfile result;
  result.storeFolder.clear();
  std::string section;
  std::string line;
  bool portGiven = false;
  std::string security = "starttls";
  int number = 0;
  auto fail = [&](ProfileError error) {
    if (errorLine != nullptr) *errorLine = number;
    return error;
  };
  while (std::getline(in, line)) {
    ++number;
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#' || text[0] == ';') continue;
    if (text.front() == '[') {
      if (text.back() != ']') return fail(ProfileError::Syntax);
      section = Lower(Trim(text.substr(1, text.size() - 2)));
      if (section != "sender" && section != "smtp" && section != "store" && section != "addresses")
        return fail(ProfileError::UnknownKey);
      continue;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || section.empty()) return fail(ProfileError::Syntax);
    const std::string key = Trim(text.substr(0, equals));
    const std::string value = Trim(text.substr(equals + 1));
    if (key.empty()) return fail(ProfileError::Syntax);
    const std::string lowerKey = Lower(key);
    if (section == "addresses") {
      if (!IsPlainAddress(value)) return fail(ProfileError::BadAddressEntry);
      if (result.addresses.size() < kMaxAddressEntries) result.addresses.push_back({key, value});
      continue;
    }
    if (section == "sender" && lowerKey == "name") {
      result.senderName = value;
    } else if (section == "sender" && lowerKey == "address") {
      result.senderAddress = value;
    } else if (section == "smtp" && lowerKey == "host") {
      result.host = value;
    } else if (section == "smtp" && lowerKey == "port") {
      if (!ParseInt(value, 1, 65535, result.port)) return fail(ProfileError::BadPort);
      portGiven = true;
    } else if (section == "smtp" && lowerKey == "security") {
      security = Lower(value);
    } else if (section == "smtp" && lowerKey == "user") {
      result.user = value;
    } else if (section == "smtp" && lowerKey == "password") {
      result.passwordSource = value;
    } else if (section == "smtp" && lowerKey == "ca-file") {
      result.caFile = ExpandHome(value);
    } else if (section == "smtp" && lowerKey == "timeout") {
      if (!ParseInt(value, 1, 3600, result.timeoutSeconds)) return fail(ProfileError::BadTimeout);
    } else if (section == "store" && lowerKey == "folder") {
      result.storeFolder = ExpandHome(value);
    } else {
      return fail(ProfileError::UnknownKey);
    }
  }
  if (!IsPlainAddress(result.senderAddress)) return ProfileError::MissingSender;
  for (unsigned char c : result.senderName)
    if (c < 0x20 || c == 0x7F) return ProfileError::MissingSender;
  if (result.host.empty() || result.host.find_first_of(" \t/?#@") != std::string::npos)
    return ProfileError::MissingServer;
  if (security == "tls") {
    result.security = Security::Tls;
    if (!portGiven) result.port = 465;
  } else if (security == "starttls") {
    result.security = Security::StartTls;
  } else if (security == "none") {
    result.security = Security::None;
    if (!IsLoopbackHost(result.host)) return ProfileError::InsecureRemote;
  } else {
    return ProfileError::BadSecurity;
  }
  if (!result.passwordSource.empty()) {
    const bool file = result.passwordSource.rfind("file:", 0) == 0 && result.passwordSource.size() > 5;
    const bool secret = result.passwordSource.rfind("secret:", 0) == 0 &&
                        !SplitBlanks(result.passwordSource.substr(7)).empty() &&
                        SplitBlanks(result.passwordSource.substr(7)).size() % 2 == 0;
    if (!file && !secret) return ProfileError::BadPasswordSource;
    if (file) result.passwordSource = "file:" + ExpandHome(Trim(result.passwordSource.substr(5)));
  }
  if (!result.user.empty() && result.passwordSource.empty()) return ProfileError::BadPasswordSource;
  if (result.storeFolder == "none") {
    result.hasStore = false;
    result.storeFolder.clear();
  } else {
    if (result.storeFolder.empty()) result.storeFolder = DefaultStoreFolder();
    if (result.storeFolder.empty() || result.storeFolder[0] != '/') return ProfileError::MissingStore;
  }
  profile = std::move(result);
  return ProfileError::None;
}

ProfileError ReadPassword(const MailProfile& profile, std::string& password) {
  password.clear();
  const std::string& source = profile.passwordSource;
  if (source.empty()) return ProfileError::None;
  if (source.rfind("file:", 0) == 0) return ReadPasswordFile(source.substr(5), password);
  if (source.rfind("secret:", 0) == 0) return ReadSecretStore(SplitBlanks(source.substr(7)), password);
  return ProfileError::BadPasswordSource;
}

std::string FormatProfile(const MailProfile& profile) {
  std::ostringstream out;
  out << "# marlin3 default mail profile (see docs/mail.md). Check it with: marlin3-mail check\n";
  out << "[sender]\n";
  out << "name = " << profile.senderName << "\n";
  out << "address = " << profile.senderAddress << "\n\n";
  out << "[smtp]\n";
  out << "host = " << profile.host << "\n";
  out << "port = " << profile.port << "\n";
  out << "security = "
      << (profile.security == Security::Tls        ? "tls"
          : profile.security == Security::StartTls ? "starttls"
                                                   : "none")
      << "\n";
  if (!profile.user.empty()) out << "user = " << profile.user << "\n";
  if (!profile.passwordSource.empty()) out << "password = " << profile.passwordSource << "\n";
  if (!profile.caFile.empty()) out << "ca-file = " << profile.caFile << "\n";
  out << "timeout = " << profile.timeoutSeconds << "\n\n";
  out << "[store]\n";
  out << "folder = " << (profile.hasStore ? profile.storeFolder : std::string("none")) << "\n";
  if (!profile.addresses.empty()) {
    out << "\n[addresses]\n";
    for (const auto& entry : profile.addresses) out << entry.name << " = " << entry.address << "\n";
  }
  return out.str();
}

Resolution ResolveRecipient(const MailProfile* profile, const std::string& text, bool prefixMatch,
                            std::string& name, std::string& address) {
  if (ParseMailbox(text, name, address)) return Resolution::Resolved;
  const std::string wanted = Lower(Trim(text));
  if (profile == nullptr || wanted.empty()) return Resolution::Unknown;
  for (unsigned char c : wanted)
    if (c < 0x20 || c == 0x7F) return Resolution::Unknown;
  const AddressEntry* found = nullptr;
  int matches = 0;
  for (const auto& entry : profile->addresses) {
    if (Lower(entry.name) == wanted) {
      found = &entry;
      ++matches;
    }
  }
  if (matches == 0 && prefixMatch) {
    for (const auto& entry : profile->addresses) {
      if (Lower(entry.name).rfind(wanted, 0) == 0) {
        found = &entry;
        ++matches;
      }
    }
  }
  if (matches > 1) return Resolution::Ambiguous;
  if (matches == 0) return Resolution::Unknown;
  name = found->name;
  address = found->address;
  return Resolution::Resolved;
}

}  // namespace mapix
