// A private session bus and a notification server for tests: dbus-daemon started with a config of the
// test's own (never the machine's bus), and a stand-in for the desktop's notification server on
// libdbus that records every Notify call and answers it as the test asks: the action invoked, the
// notification closed, or nothing. It is a mock of the desktop shell, the one peer a test has no
// real copy of; the bus, the protocol and the helper under test are real.
#pragma once

#include <dbus/dbus.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace notify_test {

namespace fs = std::filesystem;

struct NotifyCall {
  std::string app, icon, summary, body;
  std::vector<std::string> actions;
  int expire = 0;
};

class PrivateBus {
 public:
  explicit PrivateBus(const fs::path& dir) {
    fs::create_directories(dir);
    const fs::path config = dir / "bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:dir="
        << dir.string()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy></busconfig>\n";
    int out[2];
    if (pipe(out) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(out[1], 1);
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 2);
      close(out[0]);
      close(out[1]);
      const std::string arg = "--config-file=" + config.string();
      execlp("dbus-daemon", "dbus-daemon", arg.c_str(), "--nofork", "--print-address=1", nullptr);
      _exit(127);
    }
    close(out[1]);
    char buf[512];
    std::string line;
    ssize_t n;
    while (line.find('\n') == std::string::npos && (n = read(out[0], buf, sizeof buf)) > 0)
      line.append(buf, n);
    close(out[0]);
    if (line.find('\n') != std::string::npos) m_address = line.substr(0, line.find('\n'));
  }
  ~PrivateBus() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
  }
  const std::string& Address() const { return m_address; }

 private:
  pid_t m_pid = -1;
  std::string m_address;
};

class NotificationServer {
 public:
  enum class Answer { kInvoke, kClose, kNothing };

  NotificationServer(const std::string& address, Answer answer, bool actions = true)
      : m_answer(answer), m_bActions(actions) {
    DBusError error;
    dbus_error_init(&error);
    m_conn = dbus_connection_open_private(address.c_str(), &error);
    if (m_conn != nullptr && dbus_bus_register(m_conn, &error) &&
        dbus_bus_request_name(m_conn, "org.freedesktop.Notifications", DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) ==
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
      m_bReady = true;
    dbus_error_free(&error);
    if (m_bReady) m_thread = std::thread([this] { Serve(); });
  }
  ~NotificationServer() {
    m_bStop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_conn != nullptr) {
      dbus_connection_close(m_conn);
      dbus_connection_unref(m_conn);
    }
  }
  bool Ready() const { return m_bReady; }

  // The calls so far, after waiting up to ms for the count to reach n.
  std::vector<NotifyCall> Calls(size_t n = 1, int ms = 10000) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_calls.size() >= n; });
    return m_calls;
  }

 private:
  void Serve() {
    while (!m_bStop && dbus_connection_read_write(m_conn, 50)) {
      while (DBusMessage* msg = dbus_connection_pop_message(m_conn)) {
        if (dbus_message_is_method_call(msg, "org.freedesktop.Notifications", "GetCapabilities")) {
          DBusMessage* reply = dbus_message_new_method_return(msg);
          DBusMessageIter it, sub;
          dbus_message_iter_init_append(reply, &it);
          dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "s", &sub);
          // A server with actions here also reads body markup (as the usual desktop servers do).
          for (const char* cap :
               {"body", m_bActions ? "actions" : "persistence", m_bActions ? "body-markup" : "x"})
            dbus_message_iter_append_basic(&sub, DBUS_TYPE_STRING, &cap);
          dbus_message_iter_close_container(&it, &sub);
          dbus_connection_send(m_conn, reply, nullptr);
          dbus_message_unref(reply);
        } else if (dbus_message_is_method_call(msg, "org.freedesktop.Notifications", "Notify")) {
          Record(msg);
        }
        dbus_message_unref(msg);
      }
    }
  }

  static std::string Str(DBusMessageIter& it) {
    const char* s = "";
    if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_STRING) dbus_message_iter_get_basic(&it, &s);
    dbus_message_iter_next(&it);
    return s;
  }

  void Record(DBusMessage* msg) {
    NotifyCall call;
    DBusMessageIter it, sub;
    dbus_message_iter_init(msg, &it);
    call.app = Str(it);
    dbus_message_iter_next(&it);  // replaces_id
    call.icon = Str(it);
    call.summary = Str(it);
    call.body = Str(it);
    dbus_message_iter_recurse(&it, &sub);
    while (dbus_message_iter_get_arg_type(&sub) == DBUS_TYPE_STRING) call.actions.push_back(Str(sub));
    dbus_message_iter_next(&it);
    dbus_message_iter_next(&it);  // hints
    dbus_int32_t expire = 0;
    if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_INT32) dbus_message_iter_get_basic(&it, &expire);
    call.expire = expire;
    const dbus_uint32_t id = ++m_nextId;
    DBusMessage* reply = dbus_message_new_method_return(msg);
    dbus_message_append_args(reply, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID);
    dbus_connection_send(m_conn, reply, nullptr);
    dbus_message_unref(reply);
    // A signal for another notification first: the helper must wait for its own.
    Signal(msg, id + 100, "open");
    if (m_answer == Answer::kInvoke) Signal(msg, id, "open");
    if (m_answer == Answer::kClose) Signal(msg, id, nullptr);
    dbus_connection_flush(m_conn);
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back(call);
    m_changed.notify_all();
  }

  void Signal(DBusMessage* call, dbus_uint32_t id, const char* action) {
    DBusMessage* sig =
        dbus_message_new_signal("/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                action != nullptr ? "ActionInvoked" : "NotificationClosed");
    dbus_message_set_destination(sig, dbus_message_get_sender(call));
    const dbus_uint32_t reason = 2;  // dismissed by the user
    if (action != nullptr)
      dbus_message_append_args(sig, DBUS_TYPE_UINT32, &id, DBUS_TYPE_STRING, &action, DBUS_TYPE_INVALID);
    else
      dbus_message_append_args(sig, DBUS_TYPE_UINT32, &id, DBUS_TYPE_UINT32, &reason, DBUS_TYPE_INVALID);
    dbus_connection_send(m_conn, sig, nullptr);
    dbus_message_unref(sig);
  }

  Answer m_answer;
  bool m_bActions;
  DBusConnection* m_conn = nullptr;
  bool m_bReady = false;
  std::atomic<bool> m_bStop{false};
  std::thread m_thread;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<NotifyCall> m_calls;
  dbus_uint32_t m_nextId = 0;
};

// A stand-in xdg-open in bin/ that appends its arguments to record.
inline void WriteOpenRecorder(const fs::path& bin, const fs::path& record) {
  fs::create_directories(bin);
  const fs::path script = bin / "xdg-open";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << record.string() << "'\n";
  fs::permissions(script, fs::perms::owner_all);
}

// The file's text once it exists and is not empty, waiting up to ms.
inline std::string WaitForText(const fs::path& file, int ms) {
  for (int waited = 0; waited <= ms; waited += 20) {
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!text.empty()) return text;
    usleep(20000);
  }
  return std::string();
}

}  // namespace notify_test
