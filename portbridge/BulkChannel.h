// BulkChannel: the byte channel behind libDvPortBridge.so (DvPortBridge.dll's entry points, see
// DvPortBridge.cpp). It reaches the device's web server as a USB tunnel exposes it on this computer (an
// IPP-over-USB daemon's local port, or the device simulator's endpoint) and carries raw HTTP bytes.
// "Port" forms: "PORT" (127.0.0.1:PORT), "HOST:PORT" with HOST a loopback address (127.0.0.0/8,
// "localhost", "::1" or "[::1]"), and "unix:/path" for a Unix stream socket; anything else is refused.
// After a request is written, Available() waits (bounded) until the whole response is in: a complete
// Content-Length body, the last chunk of a chunked body, the peer closing, or no new byte within the
// idle time-out. A response above kMaxResponseBytes is dropped whole, so the caller sees nothing and
// fails rather than reading an endless body 2048 bytes at a time; so is one whose chunked framing
// declares more than that or never ends a chunk-size line. LastError() names why. One channel per
// process, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace portbridge {

enum class BridgeError {
  kNone,
  kBadEndpoint,    // the "Port" text is none of the accepted forms, or not a loopback address
  kConnectFailed,  // nothing listens there, or it closed the connection at once (a refusal)
  kNotOpen,        // a call that needs an open channel
  kWriteFailed,
  kReadFailed,
  kTooLarge,          // the response passed kMaxResponseBytes and was dropped
  kTimedOut,          // the device stopped sending before the response was complete
  kChunkTooLarge,     // a chunk-size line declared more than kMaxResponseBytes; the response was dropped
  kChunkLineTooLong,  // a chunk-size line ran past kMaxChunkLine bytes; the response was dropped
};

const char* BridgeErrorText(BridgeError error);

struct Endpoint {
  bool unixSocket = false;
  std::string host;  // numeric address for TCP
  int port = 0;
  std::string path;  // Unix socket path
};

class BulkChannel {
 public:
  static constexpr std::size_t kMaxResponseBytes = 1u << 20;
  static constexpr std::size_t kMaxRead = 2048;
  static constexpr int kDefaultTimeoutMs = 5000;
  // A chunk-size line is a hex number and perhaps extensions (RFC 9112 7.1.1): far below this.
  static constexpr std::size_t kMaxChunkLine = 4096;

  ~BulkChannel() { Close(); }

  // Parses a "Port" text; false for anything but the forms above.
  static bool ParseEndpoint(const std::string& text, Endpoint& endpoint);

  bool Open(const std::string& port);
  bool Write(const char* bytes, std::size_t length);
  // Bytes of the response ready to read (waits for the response first; see above).
  std::uint32_t Available();
  // Copies at most min(wanted, kMaxRead) bytes; returns the count.
  std::size_t Read(char* buffer, std::size_t wanted);
  void Close();

  BridgeError LastError() const { return m_error; }

 private:
  bool Fail(BridgeError error);
  void Receive();
  bool ResponseComplete();

  int m_fd = -1;
  std::string m_response;
  std::size_t m_readAt = 0;
  std::size_t m_chunkAt = 0;  // start of the first chunk not yet known to be whole
  std::size_t m_headerEnd = std::string::npos;
  std::size_t m_headerSearched = 0;
  bool m_received = false;
  BridgeError m_error = BridgeError::kNone;
};

}  // namespace portbridge
