// A small scripted HTTP server on a loopback address or a Unix socket, standing in for the device's web
// server in the device tests: it records each request and answers it with the reply the test scripted
// (raw bytes in pieces with delays, then close, stall or keep the connection), and can refuse the
// first N connections by resetting them at once.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace device_test {

struct Reply {
  struct Piece {
    std::string bytes;
    int delayMs = 0;  // before this piece
  };
  std::vector<Piece> pieces;
  bool close = true;            // close after the last piece (else keep the connection for the next request)
  int stallMs = 0;              // hold the connection silent this long before closing
  bool reset = false;           // end with a reset instead of a close
  std::size_t repeatBytes = 0;  // then send this many filler bytes ('x') in 64 KiB writes
};

class LoopbackServer {
 public:
  using Handler = std::function<Reply(const std::string& request)>;

  ~LoopbackServer() { Stop(); }

  // Binds 127.x.y.z:port (tries the given address, then its neighbours when taken); false when none.
  bool StartTcp(const std::string& address, int port, Handler handler);
  bool StartUnix(const std::string& path, Handler handler);
  void Stop();

  const std::string& Address() const { return m_address; }
  int Port() const { return m_port; }
  std::vector<std::string> Requests();
  int Connections() const { return m_connections.load(); }
  void RefuseFirst(int count) { m_refuse.store(count); }

  // An HTTP/1.1 200 reply with a Content-Length body, or with the body in chunks of chunkSize.
  static Reply Ok(const std::string& body, std::size_t chunkSize = 0, bool close = true);

 private:
  void Run();
  void Serve(int fd);

  int m_listen = -1;
  std::string m_address;
  int m_port = 0;
  std::string m_unixPath;
  Handler m_handler;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_connections{0};
  std::atomic<int> m_refuse{0};
  std::mutex m_mutex;
  std::vector<std::string> m_requests;
};

}  // namespace device_test
