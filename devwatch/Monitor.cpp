#include "Monitor.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "DeviceStatus.h"
#include "MonitorState.h"
#include "ProductDevice.h"

extern char** environ;

namespace devwatch {

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stopSignal = 0;
void OnStopSignal(int signal) {
  g_stopSignal = signal;
}

int EnvInt(const char* name, int fallback, int low, int high) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < low || value > high) return fallback;
  return static_cast<int>(value);
}

std::string DefaultMarlin3() {
  const char* configured = std::getenv("DEVWATCH_MARLIN3");
  if (configured != nullptr && *configured != '\0') return configured;
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = self.parent_path() / "marlin3";
    if (access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return "marlin3";
}

}  // namespace

Monitor::Monitor(std::filesystem::path stateFile, std::FILE* log)
    : m_stateFile(std::move(stateFile)),
      m_log(log),
      m_strMarlin3(DefaultMarlin3()),
      m_nPollMs(EnvInt("DEVWATCH_POLL_MS", 2000, 20, 600000)),
      m_nTimeoutMs(EnvInt("DEVWATCH_TIMEOUT_MS", 5000, 100, 60000)),
      m_nLifetimeSec(EnvInt("DEVWATCH_LIFETIME", 0, 0, 365 * 86400)) {}

void Monitor::Log(const char* format, ...) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char message[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  for (std::FILE* out : {m_log, stderr}) {
    if (out == nullptr) continue;
    std::fprintf(out, "%s DEVWATCH[%d]: %s\n", stamp, static_cast<int>(getpid()), message);
    std::fflush(out);
  }
}

bool Monitor::CheckDestination(const std::string& dest, std::string& why) {
  // marlin3 rebuilds one Windows command line from its arguments (double quotes around a value with a
  // blank, \" for a quote inside, doubled backslashes before the closing quote) and reads an option's
  // value up to the blank, or inside quotes up to the next quote of the same kind. The name must read
  // back as exactly itself there, and as nothing else.
  if (dest.empty()) {
    why = "it is empty";
    return false;
  }
  for (const unsigned char c : dest) {
    if (c < 0x20 || c == 0x7F) {
      why = "it holds a control character";
      return false;
    }
  }
  if (dest.find('"') != std::string::npos) {
    why = "it holds a double quote, which would end its value early";
    return false;
  }
  if (dest.find(' ') != std::string::npos) {
    if (dest.back() == '\\') {
      why = "it ends with a backslash, which would double before its closing quote";
      return false;
    }
    return true;
  }
  if (dest[0] == '/' || dest[0] == '\'') {
    why = dest[0] == '/' ? "it starts with \"/\", so it would read as an option"
                         : "it starts with a quote, so it would read as a quoted value";
    return false;
  }
  return true;
}

int Monitor::StartScan(const std::string& devAddr, const std::string& dest) {
  std::string why;
  if (!CheckDestination(dest, why)) {
    Log("scan request for \"%s\" refused: %s", Printable(dest).c_str(), why.c_str());
    return -1;
  }
  if (!NotificationLine::CheckValue("DevAddr=", devAddr, why)) {
    Log("scan request refused: %s", why.c_str());
    return -1;
  }
  std::vector<std::string> args = {m_strMarlin3, "/Task", "13", "/DevAddr", devAddr, "/DevDest", dest};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const bool searchPath = m_strMarlin3.find('/') == std::string::npos;
  const int error = searchPath
                        ? posix_spawnp(&pid, m_strMarlin3.c_str(), nullptr, nullptr, argv.data(), environ)
                        : posix_spawn(&pid, m_strMarlin3.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) {
    Log("cannot start %s: %s", m_strMarlin3.c_str(), std::strerror(error));
    return -1;
  }
  Log("started %s (pid %d): /Task 13 /DevAddr %s /DevDest %s", m_strMarlin3.c_str(), static_cast<int>(pid),
      devAddr.c_str(), dest.c_str());
  return pid;
}

void Monitor::Reap() {
  int status = 0;
  for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG)) > 0;) {
    if (WIFEXITED(status)) {
      Log("marlin3 (pid %d) ended with code %d", static_cast<int>(pid), WEXITSTATUS(status));
    } else {
      Log("marlin3 (pid %d) ended by signal %d", static_cast<int>(pid), WTERMSIG(status));
    }
  }
}

bool Monitor::Apply(const Notification& notification) {
  Log("notification: DevAddr=%s DevMon=%s DevHostId=%s", notification.strDevAddr.c_str(),
      notification.bPollingOn ? "On" : "Off", notification.strHostId.c_str());
  // An empty value keeps what was known: marlin3 has no device address until the monitor gave it one.
  if (!notification.strDevAddr.empty()) m_state.strDevAddr = notification.strDevAddr;
  if (!notification.strHostId.empty()) m_state.strHostId = notification.strHostId;
  m_state.bPollingOn = notification.bPollingOn;
  if (m_state.bPollingOn && m_state.strDevAddr.empty()) {
    const std::string product = ProductDevice::Address();
    std::string why;
    if (!NotificationLine::CheckValue("DevAddr=", product, why))
      Log("the product's device address is not used: %s", why.c_str());
    else
      m_state.strDevAddr = product;
    if (!m_state.strDevAddr.empty())
      Log("no device address known; using the product's: %s", m_state.strDevAddr.c_str());
  }
  m_strLastProblem.clear();
  std::string why;
  if (!MonitorState::Save(m_stateFile, m_state, why)) Log("cannot keep the polling state: %s", why.c_str());
  if (m_state.bPollingOn && (m_state.strDevAddr.empty() || m_state.strHostId.empty())) {
    Log("polling is on, but no device address or host ID is known yet; nothing to watch");
    return false;
  }
  return m_state.bPollingOn;
}

void Monitor::LookAtDevice() {
  ScanRequestStatus status;
  std::string why;
  if (!DeviceStatus::Fetch(m_state.strDevAddr, m_state.strHostId, status, why,
                           std::chrono::milliseconds(m_nTimeoutMs))) {
    if (why != m_strLastProblem)
      Log("cannot look at the device %s: %s", m_state.strDevAddr.c_str(), why.c_str());
    m_strLastProblem = why;
    return;
  }
  if (!m_strLastProblem.empty()) Log("the device %s answers again", m_state.strDevAddr.c_str());
  m_strLastProblem.clear();
  if (!status.bPending) return;
  if (status.strHostId != m_state.strHostId) {
    Log("scan request for \"%s\" belongs to host \"%s\", not to this PC; ignored",
        Printable(status.strDisplay).c_str(), Printable(status.strHostId).c_str());
    return;
  }
  Log("scan request at the device for \"%s\" (destination %d)", Printable(status.strDisplay).c_str(),
      status.nDestinationId);
  StartScan(m_state.strDevAddr, status.strDisplay);
}

int Monitor::Run(SingleInstance& instance) {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // The instance outlives the marlin3 that started it: out of its session, so a terminal's signals to
  // that program's group do not end the watch.
  setsid();
  Log("watching %s for host %s every %d ms", m_state.strDevAddr.c_str(), m_state.strHostId.c_str(),
      m_nPollMs);
  const auto start = Clock::now();
  auto nextLook = start;
  for (;;) {
    if (g_stopSignal != 0) {
      Log("stopping on signal %d", static_cast<int>(g_stopSignal));
      break;
    }
    if (m_nLifetimeSec > 0 && Clock::now() - start >= std::chrono::seconds(m_nLifetimeSec)) {
      Log("lifetime of %d s over; stopping", m_nLifetimeSec);
      break;
    }
    Reap();
    if (Clock::now() >= nextLook) {
      LookAtDevice();
      nextLook = Clock::now() + std::chrono::milliseconds(m_nPollMs);
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextLook - Clock::now()).count();
    pollfd pfd{instance.ListenFd(), POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(std::clamp<long long>(wait, 0, 250))) <= 0) continue;
    const int fd = accept4(instance.ListenFd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string text;
    bool keepGoing = true;
    if (!SingleInstance::ReadMessage(fd, text)) {
      Log("a hand-over connection sent nothing usable");
    } else {
      Notification notification;
      std::string why;
      switch (NotificationLine::Parse(text, notification, why)) {
        case NotificationLine::Result::Notification:
          keepGoing = Apply(notification);
          SingleInstance::Answer(fd, m_state.bPollingOn ? "OK polling on" : "OK polling off");
          break;
        case NotificationLine::Result::NoNotification:
          SingleInstance::Answer(fd, "OK running");
          break;
        case NotificationLine::Result::Bad:
          Log("handed-over notification ignored: %s", why.c_str());
          SingleInstance::Answer(fd, "ERROR " + why);
          break;
      }
    }
    close(fd);
    if (!keepGoing) {
      Log(m_state.bPollingOn ? "nothing to watch; stopping" : "polling is off; stopping");
      break;
    }
    if (m_state.bPollingOn) nextLook = std::min(nextLook, Clock::now());
  }
  Reap();
  return 0;
}

int Monitor::Main(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& arg : args) text += (text.empty() ? "" : " ") + arg;
  Notification notification;
  std::string why;
  const auto kind = NotificationLine::Parse(text, notification, why);
  if (kind == NotificationLine::Result::Bad) {
    Log("notification ignored: %s (command line: %s)", why.c_str(), Printable(text).c_str());
    return 2;
  }
  const auto folder = MonitorState::RuntimeFolder(why);
  if (folder.empty()) {
    Log("%s", why.c_str());
    return 1;
  }
  SingleInstance instance(folder);
  // Two rounds: an instance that was ending (polling turned off) when we looked has let go of the lock
  // by the time the hand-over fails, and this start becomes the instance.
  for (int round = 0; !instance.Claim(why); ++round) {
    if (kind == NotificationLine::Result::NoNotification) {
      Log("%s; nothing to hand over", why.c_str());
      return 0;
    }
    std::string answer;
    if (instance.HandOver(NotificationLine::Format(notification), answer, why)) {
      Log("notification handed to the running DEVWATCH: %s", answer.c_str());
      return answer.starts_with("OK") ? 0 : 1;
    }
    if (round == 1) {
      Log("notification not delivered: %s", why.c_str());
      return 1;
    }
  }
  if (!MonitorState::Load(m_stateFile, m_state)) m_state = Notification();
  const bool watch = kind == NotificationLine::Result::Notification
                         ? Apply(notification)
                         : m_state.bPollingOn && !m_state.strDevAddr.empty() && !m_state.strHostId.empty();
  if (!watch) {
    if (!m_state.bPollingOn) Log("polling is off; nothing to watch");
    return 0;
  }
  return Run(instance);
}

}  // namespace devwatch
