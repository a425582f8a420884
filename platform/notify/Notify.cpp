// Desktop notifications over the session D-Bus (see Notify.h). libdbus-1 is resolved on first use;
// only its headers are needed to build. The call on the wire is org.freedesktop.Notifications 1.2:
// Notify(app_name s, replaces_id u, app_icon s, summary s, body s, actions as, hints a{sv},
// expire_timeout i) -> u, with the signals ActionInvoked(u, s) and NotificationClosed(u, u).
#include "platform/notify/Notify.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/debugout/DebugOut.h"
#include "platform/module/LazyLibrary.h"
#include "platform/process/Process.h"

namespace platform::notify {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 5000;

// The libdbus functions this layer calls, resolved once from libdbus-1.so.3 (soname 3 since 1.0).
struct DBusApi {
#define M3_DBUS_FN(name) decltype(&::name) name = nullptr;
  M3_DBUS_FN(dbus_error_init)
  M3_DBUS_FN(dbus_error_free)
  M3_DBUS_FN(dbus_error_is_set)
  M3_DBUS_FN(dbus_connection_open_private)
  M3_DBUS_FN(dbus_bus_register)
  M3_DBUS_FN(dbus_bus_add_match)
  M3_DBUS_FN(dbus_connection_close)
  M3_DBUS_FN(dbus_connection_unref)
  M3_DBUS_FN(dbus_connection_flush)
  M3_DBUS_FN(dbus_connection_read_write)
  M3_DBUS_FN(dbus_connection_pop_message)
  M3_DBUS_FN(dbus_connection_send_with_reply_and_block)
  M3_DBUS_FN(dbus_connection_set_exit_on_disconnect)
  M3_DBUS_FN(dbus_message_new_method_call)
  M3_DBUS_FN(dbus_message_unref)
  M3_DBUS_FN(dbus_message_is_signal)
  M3_DBUS_FN(dbus_message_iter_init)
  M3_DBUS_FN(dbus_message_iter_init_append)
  M3_DBUS_FN(dbus_message_iter_append_basic)
  M3_DBUS_FN(dbus_message_iter_open_container)
  M3_DBUS_FN(dbus_message_iter_close_container)
  M3_DBUS_FN(dbus_message_iter_get_arg_type)
  M3_DBUS_FN(dbus_message_iter_get_basic)
  M3_DBUS_FN(dbus_message_iter_next)
  M3_DBUS_FN(dbus_message_iter_recurse)
#undef M3_DBUS_FN
  bool bLoaded = false;
};

const DBusApi& Api() {
  static const DBusApi api = [] {
    static auto* library = new platform::module::LazyLibrary("libdbus-1.so.3");
    DBusApi a;
    bool all = true;
#define M3_DBUS_RESOLVE(name)                                        \
  a.name = reinterpret_cast<decltype(a.name)>(library->Find(#name)); \
  all = all && a.name != nullptr;
    M3_DBUS_RESOLVE(dbus_error_init)
    M3_DBUS_RESOLVE(dbus_error_free)
    M3_DBUS_RESOLVE(dbus_error_is_set)
    M3_DBUS_RESOLVE(dbus_connection_open_private)
    M3_DBUS_RESOLVE(dbus_bus_register)
    M3_DBUS_RESOLVE(dbus_bus_add_match)
    M3_DBUS_RESOLVE(dbus_connection_close)
    M3_DBUS_RESOLVE(dbus_connection_unref)
    M3_DBUS_RESOLVE(dbus_connection_flush)
    M3_DBUS_RESOLVE(dbus_connection_read_write)
    M3_DBUS_RESOLVE(dbus_connection_pop_message)
    M3_DBUS_RESOLVE(dbus_connection_send_with_reply_and_block)
    M3_DBUS_RESOLVE(dbus_connection_set_exit_on_disconnect)
    M3_DBUS_RESOLVE(dbus_message_new_method_call)
    M3_DBUS_RESOLVE(dbus_message_unref)
    M3_DBUS_RESOLVE(dbus_message_is_signal)
    M3_DBUS_RESOLVE(dbus_message_iter_init)
    M3_DBUS_RESOLVE(dbus_message_iter_init_append)
    M3_DBUS_RESOLVE(dbus_message_iter_append_basic)
    M3_DBUS_RESOLVE(dbus_message_iter_open_container)
    M3_DBUS_RESOLVE(dbus_message_iter_close_container)
    M3_DBUS_RESOLVE(dbus_message_iter_get_arg_type)
    M3_DBUS_RESOLVE(dbus_message_iter_get_basic)
    M3_DBUS_RESOLVE(dbus_message_iter_next)
    M3_DBUS_RESOLVE(dbus_message_iter_recurse)
#undef M3_DBUS_RESOLVE
    a.bLoaded = all;
    return a;
  }();
  return api;
}

// One private connection, closed and released on every way out.
class Connection {
 public:
  Connection(const DBusApi& api, const std::string& address, std::string& detail) : m_api(api) {
    DBusError error;
    api.dbus_error_init(&error);
    m_conn = api.dbus_connection_open_private(address.c_str(), &error);
    if (m_conn != nullptr) {
      // A bus that goes away must end the wait, not the process.
      api.dbus_connection_set_exit_on_disconnect(m_conn, FALSE);
      if (!api.dbus_bus_register(m_conn, &error)) Close();
    }
    if (api.dbus_error_is_set(&error)) detail = error.message != nullptr ? error.message : "";
    api.dbus_error_free(&error);
  }
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  DBusConnection* Get() const { return m_conn; }

 private:
  void Close() {
    if (m_conn == nullptr) return;
    m_api.dbus_connection_close(m_conn);
    m_api.dbus_connection_unref(m_conn);
    m_conn = nullptr;
  }
  const DBusApi& m_api;
  DBusConnection* m_conn = nullptr;
};

struct MessageRef {
  const DBusApi& api;
  DBusMessage* msg;
  ~MessageRef() {
    if (msg != nullptr) api.dbus_message_unref(msg);
  }
};

// D-Bus strings must be valid UTF-8 (libdbus aborts the process on anything else): a malformed byte
// becomes U+FFFD, controls other than line breaks and tabs become blanks.
std::string ValidUtf8(const std::string& text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      out += (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F ? ' ' : static_cast<char>(c);
      ++i;
      continue;
    }
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool good = len != 0 && i + len <= n;
    for (size_t k = 1; good && k < len; ++k) good = (p[i + k] & 0xC0) == 0x80;
    if (good && len == 3) {
      const unsigned cp = ((c & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6);
      good = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (good && len == 4) {
      const unsigned cp = ((c & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12);
      good = cp >= 0x10000 && cp <= 0x10FFFF;
    }
    if (!good) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(text, i, len);
    i += len;
  }
  return out;
}

bool AppendString(const DBusApi& api, DBusMessageIter* iter, const std::string& text) {
  const std::string valid = ValidUtf8(text);
  const char* value = valid.c_str();
  return api.dbus_message_iter_append_basic(iter, DBUS_TYPE_STRING, &value) != 0;
}

struct Capabilities {
  bool bActions = false;
  bool bBodyMarkup = false;
};

Capabilities ServerCapabilities(const DBusApi& api, DBusConnection* conn) {
  Capabilities caps;
  MessageRef call{api, api.dbus_message_new_method_call(kService, kPath, kInterface, "GetCapabilities")};
  if (call.msg == nullptr) return caps;
  DBusError error;
  api.dbus_error_init(&error);
  MessageRef reply{api,
                   api.dbus_connection_send_with_reply_and_block(conn, call.msg, kCallTimeoutMs, &error)};
  api.dbus_error_free(&error);
  DBusMessageIter iter, item;
  if (reply.msg == nullptr || !api.dbus_message_iter_init(reply.msg, &iter) ||
      api.dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY)
    return caps;
  api.dbus_message_iter_recurse(&iter, &item);
  while (api.dbus_message_iter_get_arg_type(&item) == DBUS_TYPE_STRING) {
    const char* capability = nullptr;
    api.dbus_message_iter_get_basic(&item, &capability);
    if (capability != nullptr && std::strcmp(capability, "actions") == 0) caps.bActions = true;
    if (capability != nullptr && std::strcmp(capability, "body-markup") == 0) caps.bBodyMarkup = true;
    api.dbus_message_iter_next(&item);
  }
  return caps;
}

// A server with body markup reads "&", "<" and ">" as markup; a file name holding them stays text.
std::string EscapeMarkup(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

// The (u, ...) arguments of a signal: its notification id, and the action key of ActionInvoked.
bool SignalArgs(const DBusApi& api, DBusMessage* msg, dbus_uint32_t& id, std::string& key) {
  DBusMessageIter iter;
  if (!api.dbus_message_iter_init(msg, &iter) ||
      api.dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_UINT32)
    return false;
  api.dbus_message_iter_get_basic(&iter, &id);
  key.clear();
  if (api.dbus_message_iter_next(&iter) && api.dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_STRING) {
    const char* text = nullptr;
    api.dbus_message_iter_get_basic(&iter, &text);
    if (text != nullptr) key = text;
  }
  return true;
}

void Say(const std::string& text) {
  OutputDebugStringA(("marlin3-notify: " + text + "\n").c_str());
}

}  // namespace

const char* ShowResultText(ShowResult result) {
  switch (result) {
    case ShowResult::kHandedOver:
      return "handed to marlin3-notify";
    case ShowResult::kNoSessionBus:
      return "no session bus";
    case ShowResult::kNoHelper:
      return "marlin3-notify could not be started";
  }
  return "unknown";
}

const char* SendResultText(SendResult result) {
  switch (result) {
    case SendResult::kActionInvoked:
      return "action invoked";
    case SendResult::kClosed:
      return "closed";
    case SendResult::kTimedOut:
      return "timed out";
    case SendResult::kNoLibrary:
      return "libdbus-1.so.3 could not be loaded";
    case SendResult::kNoBus:
      return "no session bus";
    case SendResult::kRefused:
      return "no notification server answered";
    case SendResult::kBusGone:
      return "the session bus went away";
  }
  return "unknown";
}

std::string SessionBusAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return address;
  // The user bus of a systemd session: a socket of the user's own in the runtime folder.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime != '/') return std::string();
  const std::string socket = std::string(runtime) + "/bus";
  struct stat st {};
  if (lstat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != geteuid())
    return std::string();
  // libdbus's own escaping: every byte outside [-0-9A-Za-z_/.\*] as %XX.
  std::string escaped;
  static const char hex[] = "0123456789abcdef";
  for (unsigned char c : socket) {
    if (std::isalnum(c) || std::strchr("-_/.\\*", c) != nullptr) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += hex[c >> 4];
      escaped += hex[c & 15];
    }
  }
  return "unix:path=" + escaped;
}

SendResult SendAndWait(const Notification& notification, const std::string& address, int waitMs,
                       std::string& detail) {
  detail.clear();
  if (address.empty()) return SendResult::kNoBus;
  const DBusApi& api = Api();
  if (!api.bLoaded) return SendResult::kNoLibrary;
  Connection conn(api, address, detail);
  if (conn.Get() == nullptr) return SendResult::kNoBus;

  const Capabilities caps = ServerCapabilities(api, conn.Get());
  const bool withAction =
      !notification.strActionText.empty() && !notification.strFolder.empty() && caps.bActions;
  if (withAction) {
    // Before Notify, so a server that answers at once is not missed.
    for (const char* member : {"ActionInvoked", "NotificationClosed"}) {
      const std::string rule =
          std::string("type='signal',interface='") + kInterface + "',member='" + member + "'";
      api.dbus_bus_add_match(conn.Get(), rule.c_str(), nullptr);
    }
  }

  MessageRef call{api, api.dbus_message_new_method_call(kService, kPath, kInterface, "Notify")};
  if (call.msg == nullptr) return SendResult::kRefused;
  DBusMessageIter args, sub;
  api.dbus_message_iter_init_append(call.msg, &args);
  const dbus_uint32_t replaces = 0;
  const dbus_int32_t expire = -1;  // the server's own time
  bool built =
      AppendString(api, &args, "marlin3") &&
      api.dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &replaces) &&
      AppendString(api, &args, notification.strIcon) && AppendString(api, &args, notification.strSummary) &&
      AppendString(api, &args, caps.bBodyMarkup ? EscapeMarkup(notification.strBody) : notification.strBody);
  built = built && api.dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &sub);
  if (built && withAction) {
    // "default" is the click on the notification itself; "open" the button servers show.
    built = AppendString(api, &sub, "default") && AppendString(api, &sub, notification.strActionText) &&
            AppendString(api, &sub, "open") && AppendString(api, &sub, notification.strActionText);
  }
  built = built && api.dbus_message_iter_close_container(&args, &sub);
  built = built && api.dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &sub) &&
          api.dbus_message_iter_close_container(&args, &sub);
  built = built && api.dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &expire);
  if (!built) return SendResult::kRefused;

  DBusError error;
  api.dbus_error_init(&error);
  MessageRef reply{
      api, api.dbus_connection_send_with_reply_and_block(conn.Get(), call.msg, kCallTimeoutMs, &error)};
  if (api.dbus_error_is_set(&error)) detail = error.message != nullptr ? error.message : "";
  api.dbus_error_free(&error);
  DBusMessageIter iter;
  dbus_uint32_t id = 0;
  if (reply.msg == nullptr || !api.dbus_message_iter_init(reply.msg, &iter) ||
      api.dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_UINT32)
    return SendResult::kRefused;
  api.dbus_message_iter_get_basic(&iter, &id);
  if (!withAction) return SendResult::kClosed;

  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return SendResult::kTimedOut;
    if (!api.dbus_connection_read_write(conn.Get(), static_cast<int>(left < 1000 ? left : 1000)))
      return SendResult::kBusGone;
    while (DBusMessage* raw = api.dbus_connection_pop_message(conn.Get())) {
      MessageRef msg{api, raw};
      dbus_uint32_t signalId = 0;
      std::string key;
      const bool invoked = api.dbus_message_is_signal(raw, kInterface, "ActionInvoked") != 0;
      const bool closed = api.dbus_message_is_signal(raw, kInterface, "NotificationClosed") != 0;
      if ((invoked || closed) && SignalArgs(api, raw, signalId, key) && signalId == id) {
        if (closed) return SendResult::kClosed;
        if (key == "default" || key == "open") return SendResult::kActionInvoked;
      }
    }
  }
}

ShowResult Show(const Notification& notification) {
  if (SessionBusAddress().empty()) return ShowResult::kNoSessionBus;
  Notification sent = notification;
  // The helper runs in another folder's context later: a relative folder is made whole now.
  if (!sent.strFolder.empty() && sent.strFolder.front() != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr)
      sent.strFolder = std::string(cwd) + "/" + sent.strFolder;
    else
      sent.strFolder.clear();
  }
  std::string commandLine = BuildCommandLine(
      {"marlin3-notify", sent.strSummary, sent.strBody, sent.strIcon, sent.strActionText, sent.strFolder});
  PROCESS_INFORMATION pi{};
  STARTUPINFOA si{};
  si.cb = sizeof si;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return ShowResult::kNoHelper;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return ShowResult::kHandedOver;
}

int RunHelper(const Notification& notification, int waitMs) {
  // The helper outlives the program that started it: it must not hold that program's pipes open.
  const bool debugOut = std::getenv("MARLIN3_DEBUGOUT") != nullptr;
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    if (!debugOut) dup2(null, 2);
    if (null > 2) close(null);
  }
  std::string detail;
  const SendResult result = SendAndWait(notification, SessionBusAddress(), waitMs, detail);
  if (result == SendResult::kActionInvoked) {
    if (!ShellExecuteOpen(notification.strFolder.c_str())) {
      Say("xdg-open could not be started for '" + notification.strFolder + "'");
      return 1;
    }
    return 0;
  }
  if (result == SendResult::kClosed || result == SendResult::kTimedOut) return 0;
  Say(std::string(SendResultText(result)) + (detail.empty() ? "" : ": " + detail));
  return 1;
}

}  // namespace platform::notify
