#include "SimServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <sstream>

#include "FormCodec.h"
#include "HttpRequestReader.h"
#include "ResponseStream.h"

namespace devsim {

namespace {

constexpr const char* kListPath = "/nx/device/info_scanto_destinations.xml";
constexpr const char* kUpdatePath = "/nx/device/set_config.html";
constexpr const char* kRequestPath = "/nx/device/info_scanto_request.xml";
constexpr std::size_t kMaxConnections = 64;
constexpr std::size_t kMaxQueued = 16;
constexpr std::size_t kOutHighWater = 64 * 1024;
constexpr std::size_t kMaxBodyFile = 256 * 1024 * 1024;

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
  g_stopSignal = signal;
}

const char* KindName(EndpointKind kind) {
  switch (kind) {
    case EndpointKind::Http:
      return "http";
    case EndpointKind::Usb:
      return "usb";
    case EndpointKind::Control:
      return "control";
  }
  return "?";
}

}  // namespace

struct SimServer::Listener {
  EndpointAddress spec;
  int fd = -1;
};

struct SimServer::Connection {
  int fd = -1;
  EndpointKind kind = EndpointKind::Http;
  std::string in;
  HttpRequestReader reader;
  std::deque<HttpRequest> queued;
  std::unique_ptr<ResponseStream> response;
  std::string out;
  std::int64_t nSent = 0;
  std::int64_t nStallAfter = -1;
  std::int64_t nDropAfter = -1;
  int nChunkDelayMs = 0;
  Clock::time_point notBefore;
  bool bCloseAfter = false;  // close once the current response is out
  bool bReadClosed = false;
  bool bDead = false;
  bool bQuitAfter = false;
};

SimServer::SimServer(SimOptions options, DestinationList list, std::FILE* log)
    : m_options(std::move(options)), m_list(std::move(list)), m_log(log) {
  for (const FaultPlan& plan : m_options.faults) m_faults.push_back(plan);
}

SimServer::~SimServer() {
  for (auto& conn : m_connections) close(conn->fd);
  for (auto& listener : m_listeners) {
    if (listener->fd >= 0) {
      close(listener->fd);
      if (listener->spec.bUnix) unlink(listener->spec.strPath.c_str());
    }
  }
}

void SimServer::Log(const char* format, ...) {
  if (m_log == nullptr) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
  std::fprintf(m_log, "[%8.3f] devsim: ", seconds);
  va_list args;
  va_start(args, format);
  std::vfprintf(m_log, format, args);
  va_end(args);
  std::fputc('\n', m_log);
  std::fflush(m_log);
}

int SimServer::MsLeft(Clock::time_point when) const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 250));
}

bool SimServer::OpenListener(const EndpointAddress& spec) {
  auto listener = std::make_unique<Listener>();
  listener->spec = spec;
  int fd = -1;
  if (spec.bUnix) {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, spec.strPath.c_str(), spec.strPath.size() + 1);
    struct stat st {};
    if (lstat(spec.strPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(spec.strPath.c_str());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
      Log("cannot listen on %s: %s", spec.Describe().c_str(), std::strerror(errno));
      if (fd >= 0) close(fd);
      return false;
    }
  } else {
    const bool v6 = spec.strHost.find(':') != std::string::npos;
    fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (v6) {
      auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
      addr->sin6_family = AF_INET6;
      addr->sin6_port = htons(static_cast<uint16_t>(spec.nPort));
      inet_pton(AF_INET6, spec.strHost.c_str(), &addr->sin6_addr);
      length = sizeof *addr;
    } else {
      auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
      addr->sin_family = AF_INET;
      addr->sin_port = htons(static_cast<uint16_t>(spec.nPort));
      inet_pton(AF_INET, spec.strHost.c_str(), &addr->sin_addr);
      length = sizeof *addr;
    }
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd, 64) != 0) {
      Log("cannot listen on %s: %s", spec.Describe().c_str(), std::strerror(errno));
      if (fd >= 0) close(fd);
      return false;
    }
    // Port 0 picks a free port; report the real one.
    length = sizeof storage;
    getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
    listener->spec.nPort = v6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port)
                              : ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  }
  listener->fd = fd;
  Log("listening %s %s", KindName(spec.kind), listener->spec.Describe().c_str());
  std::printf("%s=%s\n", KindName(spec.kind), listener->spec.Describe().c_str());
  std::fflush(stdout);
  m_listeners.push_back(std::move(listener));
  return true;
}

void SimServer::Accept(Listener& listener) {
  const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  const bool device = listener.spec.kind != EndpointKind::Control;
  if (m_connections.size() >= kMaxConnections || (device && m_nRefused < m_options.nRefuse)) {
    if (device && m_nRefused < m_options.nRefuse) ++m_nRefused;
    // A reset rather than an orderly close, so the client sees the refusal at once.
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
    Log("%s connection refused (%d of %d)", KindName(listener.spec.kind), m_nRefused, m_options.nRefuse);
    return;
  }
  auto conn = std::make_unique<Connection>();
  conn->fd = fd;
  conn->kind = listener.spec.kind;
  m_connections.push_back(std::move(conn));
}

void SimServer::ReadFrom(Connection& conn) {
  char buffer[16384];
  const ssize_t n = recv(conn.fd, buffer, sizeof buffer, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    conn.bReadClosed = true;
    if (!conn.response || conn.nStallAfter >= 0) conn.bDead = true;
    return;
  }
  if (n < 0) return;
  if (conn.bCloseAfter) return;  // a bad request ended this connection; what follows is ignored
  conn.in.append(buffer, static_cast<std::size_t>(n));
  HttpRequest request;
  for (;;) {
    const auto status = conn.reader.Feed(conn.in, request);
    if (status == HttpRequestReader::Status::NeedMore) break;
    if (status == HttpRequestReader::Status::Bad) {
      Log("bad request on %s connection: answering %d", KindName(conn.kind), conn.reader.ErrorStatus());
      conn.queued.clear();
      conn.in.clear();
      conn.bCloseAfter = true;
      if (!conn.response) {
        Respond(conn, conn.reader.ErrorStatus(), "text/html", "<html><body>bad request</body></html>",
                FaultPlan());
      }
      break;
    }
    if (conn.queued.size() >= kMaxQueued) {
      conn.bDead = true;
      Log("too many pipelined requests; connection closed");
      break;
    }
    conn.queued.push_back(std::move(request));
  }
}

FaultPlan SimServer::TakeFault(Target target) {
  for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
    if (!it->Matches(target)) continue;
    FaultPlan plan = *it;
    if (it->nTimes > 0 && --it->nTimes == 0) m_faults.erase(it);
    return plan;
  }
  return FaultPlan();
}

void SimServer::Respond(Connection& conn, int status, const std::string& type, const std::string& body,
                        const FaultPlan& plan) {
  std::string head = body;
  std::string tail;
  std::int64_t filler = 0;
  if (plan.nPad != 0) {
    // The filler goes into a comment after the root element's start, so the body stays well-formed.
    const std::size_t root = body.find('>', body.find("?>") == std::string::npos ? 0 : body.find("?>") + 2);
    const std::size_t at = root == std::string::npos ? body.size() : root + 1;
    head = body.substr(0, at) + "<!--";
    tail = "-->" + body.substr(at);
    filler = plan.nPad;
  }
  conn.response = std::make_unique<ResponseStream>(status, type, std::move(head), filler, std::move(tail),
                                                   plan, m_options.nChunk, !conn.bCloseAfter);
  conn.nSent = 0;
  conn.nStallAfter = plan.nStallAfter;
  conn.nDropAfter = plan.nDropAfter;
  conn.nChunkDelayMs = plan.nChunkDelayMs;
  conn.notBefore = Clock::now() + std::chrono::milliseconds(plan.nDelayMs);
}

void SimServer::AnswerControl(Connection& conn, const HttpRequest& request) {
  const std::string path = request.Path();
  const FaultPlan none;
  const std::string form = request.strBody.empty() ? request.Query() : request.strBody;
  if (path == "/sim/state") {
    Respond(conn, 200, "text/plain", m_list.Dump(), none);
  } else if (path == "/sim/panel") {
    const std::string dest = FormCodec::Field(form, "dest");
    const bool raised = m_list.RaiseScanRequest(dest);
    Log("panel: scan request for \"%s\" %s", dest.c_str(),
        raised ? "raised" : "refused (no such destination)");
    if (raised) SaveState();
    Respond(conn, raised ? 200 : 404, "text/plain", raised ? "raised\n" : "no such destination\n", none);
  } else if (path == "/sim/fault") {
    if (request.strBody == "clear") {
      m_faults.clear();
      Log("faults cleared");
      Respond(conn, 200, "text/plain", "cleared\n", none);
      return;
    }
    FaultPlan plan;
    std::string why;
    if (!FaultPlan::Parse(request.strBody, plan, why)) {
      Log("fault refused: %s", why.c_str());
      Respond(conn, 400, "text/plain", why + "\n", none);
      return;
    }
    m_faults.push_back(plan);
    Log("fault added: %s", request.strBody.c_str());
    Respond(conn, 200, "text/plain", "added\n", none);
  } else if (path == "/sim/quit") {
    conn.bQuitAfter = true;
    conn.bCloseAfter = true;
    Respond(conn, 200, "text/plain", "bye\n", none);
  } else {
    Respond(conn, 404, "text/plain", "unknown control request\n", none);
  }
}

void SimServer::Answer(Connection& conn, const HttpRequest& request) {
  const std::string path = request.Path();
  Log("%s %s %s (%zu body bytes)", KindName(conn.kind), request.strMethod.c_str(), request.strTarget.c_str(),
      request.strBody.size());
  if (request.Header("Connection") == "close") conn.bCloseAfter = true;
  if (path.starts_with("/sim/")) {
    AnswerControl(conn, request);
    return;
  }
  if (conn.kind == EndpointKind::Control) {
    Respond(conn, 404, "text/plain", "control endpoint: /sim/ requests only\n", FaultPlan());
    return;
  }
  Target target = Target::Any;
  if (path == kListPath)
    target = Target::List;
  else if (path == kUpdatePath)
    target = Target::Update;
  else if (path == kRequestPath)
    target = Target::Request;
  if (target == Target::Any) {
    Respond(conn, 404, "text/html", "<html><body><h1>404 Not Found</h1></body></html>", FaultPlan());
    return;
  }
  const bool post = request.strMethod == "POST";
  if ((target == Target::Update) != post || (request.strMethod != "GET" && !post)) {
    Respond(conn, 405, "text/html", "<html><body><h1>405 Method Not Allowed</h1></body></html>", FaultPlan());
    return;
  }
  const FaultPlan plan = TakeFault(target);
  if (!plan.strBodyFile.empty()) {
    // Read as it comes, up to the limit: a buffer of the limit's size would clear 256 MB for every
    // answer (seconds on a busy machine, so clients timed out).
    std::ifstream file(plan.strBodyFile, std::ios::binary);
    std::string body;
    char chunk[65536];
    while (body.size() < kMaxBodyFile) {
      file.read(chunk, sizeof chunk);
      const auto n = static_cast<std::size_t>(file.gcount());
      if (n == 0) break;
      body.append(chunk, std::min(n, kMaxBodyFile - body.size()));
    }
    Log("answering with the bytes of %s (%zu bytes)", plan.strBodyFile.c_str(), body.size());
    Respond(conn, plan.nStatus != 0 ? plan.nStatus : 200, "text/xml", body, plan);
    return;
  }
  if (plan.nStatus != 0) {
    const std::string code = std::to_string(plan.nStatus) + " " + ResponseStream::Reason(plan.nStatus);
    Log("answering with error page %s", code.c_str());
    Respond(conn, plan.nStatus, "text/html",
            "<html><head><title>" + code + "</title></head><body><h1>" + code + "</h1></body></html>", plan);
    return;
  }
  if (target == Target::List) {
    Respond(conn, 200, "text/xml", m_list.Document(), plan);
  } else if (target == Target::Update) {
    const UpdateResult result = m_list.ApplyForm(request.strBody);
    Log("update: %d added, %d removed, %d refused", result.nAdded, result.nRemoved, result.nRefused);
    SaveState();
    Respond(conn, 200, "text/html",
            "<html><body><p>Added " + std::to_string(result.nAdded) + ", removed " +
                std::to_string(result.nRemoved) + ", refused " + std::to_string(result.nRefused) +
                ".</p></body></html>",
            plan);
  } else {
    const std::string host = FormCodec::Field(request.Query(), "HostID");
    const auto taken = m_list.TakeScanRequest(host);
    if (taken) {
      Log("scan request for \"%s\" handed to host \"%s\"", taken->strDisplay.c_str(), host.c_str());
      SaveState();
    }
    Respond(conn, 200, "text/xml", DestinationList::RequestDocument(taken), plan);
  }
}

void SimServer::Pump(Connection& conn) {
  if (!conn.response && !conn.queued.empty()) {
    HttpRequest request = std::move(conn.queued.front());
    conn.queued.pop_front();
    Answer(conn, request);
  }
  if (!conn.response) {
    if (conn.bReadClosed) conn.bDead = true;
    return;
  }
  const auto now = Clock::now();
  if (now < conn.notBefore) return;
  if (conn.nDropAfter == 0) {
    Log("dropping the connection before answering");
    conn.bDead = true;
    return;
  }
  while (conn.out.size() < kOutHighWater && !conn.response->Done() && Clock::now() >= conn.notBefore) {
    conn.out += conn.response->Next();
    if (conn.nChunkDelayMs > 0) conn.notBefore = Clock::now() + std::chrono::milliseconds(conn.nChunkDelayMs);
  }
  if (conn.response->Done() && conn.out.empty()) {
    if (conn.bQuitAfter) m_bQuit = true;
    if (conn.bCloseAfter || conn.response->CloseAfter()) {
      conn.bDead = true;
    } else {
      conn.response.reset();
      if (!conn.queued.empty()) Pump(conn);
    }
  }
}

void SimServer::SaveState() {
  if (m_options.strStateOut.empty()) return;
  const std::string temp = m_options.strStateOut + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << m_list.Dump();
    if (!out) {
      Log("cannot write state to %s", temp.c_str());
      return;
    }
  }
  if (std::rename(temp.c_str(), m_options.strStateOut.c_str()) != 0) {
    Log("cannot write state to %s: %s", m_options.strStateOut.c_str(), std::strerror(errno));
  }
}

int SimServer::Run() {
  m_start = Clock::now();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::vector<EndpointAddress> delayed;
  for (const EndpointAddress& spec : m_options.endpoints) {
    if (m_options.nListenDelayMs > 0 && spec.kind != EndpointKind::Control) {
      delayed.push_back(spec);
    } else if (!OpenListener(spec)) {
      return 2;
    }
  }
  if (m_listeners.empty() && delayed.empty()) {
    Log("nothing to serve: give --http, --usb or --control");
    return 2;
  }
  SaveState();
  if (!m_options.strReadyFile.empty()) {
    std::ofstream ready(m_options.strReadyFile + ".tmp");
    for (const auto& listener : m_listeners)
      ready << KindName(listener->spec.kind) << "=" << listener->spec.Describe() << "\n";
    ready.close();
    std::rename((m_options.strReadyFile + ".tmp").c_str(), m_options.strReadyFile.c_str());
  }
  const auto listenAt = m_start + std::chrono::milliseconds(m_options.nListenDelayMs);
  const auto endAt = m_start + std::chrono::seconds(m_options.nLifetimeSec);
  auto panel = m_options.panel;

  while (!m_bQuit) {
    const auto now = Clock::now();
    if (g_stopSignal != 0) {
      Log("stopping on signal %d", static_cast<int>(g_stopSignal));
      break;
    }
    if (now >= endAt) {
      Log("lifetime of %d s over; stopping", m_options.nLifetimeSec);
      break;
    }
    int timeout = MsLeft(endAt);
    if (!delayed.empty()) {
      if (now >= listenAt) {
        for (const EndpointAddress& spec : delayed) {
          if (!OpenListener(spec)) return 2;
        }
        delayed.clear();
      } else {
        timeout = std::min(timeout, MsLeft(listenAt));
      }
    }
    for (auto it = panel.begin(); it != panel.end();) {
      const auto at = m_start + std::chrono::milliseconds(it->first);
      if (now >= at) {
        const bool raised = m_list.RaiseScanRequest(it->second);
        Log("panel: scan request for \"%s\" %s", it->second.c_str(),
            raised ? "raised" : "refused (no such destination)");
        if (raised) SaveState();
        it = panel.erase(it);
      } else {
        timeout = std::min(timeout, MsLeft(at));
        ++it;
      }
    }
    for (auto& conn : m_connections) Pump(*conn);
    std::erase_if(m_connections, [](const std::unique_ptr<Connection>& conn) {
      if (conn->bDead) close(conn->fd);
      return conn->bDead;
    });

    std::vector<pollfd> fds;
    for (const auto& listener : m_listeners) fds.push_back({listener->fd, POLLIN, 0});
    for (const auto& conn : m_connections) {
      short events = 0;
      if (!conn->bReadClosed &&
          conn->in.size() < HttpRequestReader::kMaxHeaderBytes + HttpRequestReader::kMaxBodyBytes) {
        events |= POLLIN;
      }
      const bool stalled = conn->nStallAfter >= 0 && conn->nSent >= conn->nStallAfter;
      if (!conn->out.empty() && !stalled) events |= POLLOUT;
      if (conn->response && !conn->response->Done() && conn->out.empty())
        timeout = std::min(timeout, MsLeft(conn->notBefore));
      fds.push_back({conn->fd, events, 0});
    }
    const int ready = poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) {
      Log("poll failed: %s", std::strerror(errno));
      return 1;
    }
    if (ready <= 0) continue;
    std::size_t index = 0;
    const std::size_t listenerCount = m_listeners.size();
    for (; index < listenerCount; ++index) {
      if (fds[index].revents & POLLIN) Accept(*m_listeners[index]);
    }
    for (std::size_t c = 0; c + listenerCount < fds.size() && c < m_connections.size(); ++c) {
      Connection& conn = *m_connections[c];
      const short revents = fds[c + listenerCount].revents;
      if (revents & (POLLIN | POLLHUP | POLLERR)) ReadFrom(conn);
      if ((revents & POLLOUT) && !conn.bDead) {
        std::size_t allowed = conn.out.size();
        if (conn.nStallAfter >= 0)
          allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>(conn.nStallAfter - conn.nSent));
        if (conn.nDropAfter >= 0)
          allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>(conn.nDropAfter - conn.nSent));
        const ssize_t n = send(conn.fd, conn.out.data(), allowed, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
          conn.bDead = true;
        } else if (n > 0) {
          conn.out.erase(0, static_cast<std::size_t>(n));
          conn.nSent += n;
          if (conn.nDropAfter >= 0 && conn.nSent >= conn.nDropAfter) {
            Log("dropping the connection after %lld bytes", static_cast<long long>(conn.nSent));
            conn.bDead = true;
          } else if (conn.nStallAfter >= 0 && conn.nSent >= conn.nStallAfter) {
            Log("stalling after %lld bytes", static_cast<long long>(conn.nSent));
          }
        }
      }
    }
  }
  SaveState();
  return 0;
}

}  // namespace devsim
