// The transport half of DeviceTalk: connection choice, the network and USB exchanges, the raw request
// texts, the clean-up of raw USB responses (RFC 9112 7.1 chunked coding, stripped the device's way)
// and the form-value encoder.
#include "device/DeviceTalk.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <thread>

#include "log/DebugTrace.h"
#include "platform/inet/HttpText.h"
#include "platform/module/Module.h"
#include "platform/text/Text.h"
#include "settings/SettingsSchema.h"

namespace {

constexpr const char* kStars = "**************************************************";
constexpr DWORD kOpenRetryWaitMs = 500;
constexpr int kOpenRetries = 20;
constexpr int kUsbChunk = 2048;
constexpr std::size_t kUsbBuffer = 2050;

// The channel library's entry points (C calling convention, 32-bit counts).
using OpenBulkFn = int (*)(const char* port);
using WriteBulkFn = int (*)(const char* bytes, std::int32_t* length);
using BytesAvailableFn = std::uint32_t (*)();
using ReadBulkFn = int (*)(char* buffer, std::int32_t* count);
using CloseBulkFn = int (*)();

// Appends bytes as text: like the zero-terminated buffers they arrive in, a NUL ends them.
void AppendText(std::string& to, const char* bytes, std::size_t count) {
  to.append(bytes, strnlen(bytes, count));
}

}  // namespace

DeviceTalk::DeviceTalk()
    : m_bInitialized(false),
      m_nConnection(0),
      m_hInternet(nullptr),
      m_hConnect(nullptr),
      m_hPortBridge(nullptr),
      m_nBodyEntries(0),
      m_nMaxDest(0),
      m_nAvailDest(0),
      m_nCurrentDest(-1) {}

DeviceTalk::~DeviceTalk() {
  Close();
}

void DeviceTalk::Close() {
  if (m_hConnect != nullptr) InternetCloseHandle(m_hConnect);
  m_hConnect = nullptr;
  if (m_hInternet != nullptr) InternetCloseHandle(m_hInternet);
  m_hInternet = nullptr;
  if (m_hPortBridge != nullptr) FreeLibrary(m_hPortBridge);
  m_hPortBridge = nullptr;
}

void DeviceTalk::Pause(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const DestRecord* DeviceTalk::GetRecord(int id) const {
  if (id < 0 || id >= kMaxDestinations) return nullptr;
  return m_Records[static_cast<std::size_t>(id)].get();
}

bool DeviceTalk::Initialize() {
  DebugTrace trace("Initialize", __FILE__);
  if (m_ValueGetter.IsNetworked()) {
    trace.Write("In deviceTalk, determined on network");
    m_nConnection = 1;
    try {
      m_strIpAddress = m_ValueGetter.GetProductPortStr(settings::kPortIpAddress);
      // A failed earlier attempt may have left the connection of another address open.
      if (m_hConnect != nullptr) InternetCloseHandle(m_hConnect);
      m_hConnect = nullptr;
      if (m_hInternet != nullptr) InternetCloseHandle(m_hInternet);
      m_hInternet = InternetOpenA("VideZeraZazir", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
      if (m_hInternet == nullptr) {
        trace.SystemError("InternetOpen failed");
        return false;
      }
      m_hConnect = InternetConnectA(m_hInternet, m_strIpAddress.c_str(), INTERNET_DEFAULT_HTTP_PORT, nullptr,
                                    nullptr, INTERNET_SERVICE_HTTP, 0, 0);
      if (m_hConnect == nullptr) {
        trace.SystemError("InternetConnect failed");
        if (const std::string& failure = platform::inet::InetLibraryFailure(); !failure.empty())
          trace.Error(failure);
        InternetCloseHandle(m_hInternet);
        m_hInternet = nullptr;
        return false;
      }
    } catch (const std::exception&) {
      trace.Error("Caught exception initializing MS network connection");
      if (m_hInternet != nullptr) InternetCloseHandle(m_hInternet);
      m_hInternet = nullptr;
      return false;
    }
  } else {
    trace.Write("In deviceTalk, determined direct connect");
    m_nConnection = 0;
    try {
      m_strPort = m_ValueGetter.GetProductPortStr(settings::kPortPort);
      if (m_hPortBridge == nullptr) m_hPortBridge = LoadLibraryA("DvPortBridge.dll");
      if (m_hPortBridge == nullptr) {
        trace.SystemError("Load library failed on DvPortBridge");
        return false;
      }
    } catch (const std::exception&) {
      trace.Error("Caught exception loading port bridge");
      return false;
    }
  }
  m_ValueGetter.DetermineUniquePcName(m_strHostId);
  m_bInitialized = true;
  return true;
}

bool DeviceTalk::SendHttpViaNetwork(const std::string& verb, const std::string& path) {
  DebugTrace trace("SendHttpViaNetwork", __FILE__);
  if (!m_bInitialized) Initialize();  // a failed set-up shows as the next step's failure

  HINTERNET request = HttpOpenRequestA(m_hConnect, verb.c_str(), path.c_str(), "Http/1.1", nullptr, nullptr,
                                       INTERNET_FLAG_KEEP_CONNECTION, 0);
  if (request == nullptr) {
    trace.SystemError("HttpOpenRequests failed");
    return false;
  }
  // The body goes with every request, GET included.
  if (HttpSendRequestA(request, nullptr, 0, m_strBody.data(), static_cast<DWORD>(m_strBody.size())) != TRUE) {
    trace.SystemError("HttpSendRequest failed");
    InternetCloseHandle(request);
    return false;
  }
  // An error page is no answer to the request: the device did not do what was asked.
  DWORD status = 0;
  DWORD length = sizeof status;
  if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr) !=
          TRUE ||
      status < 200 || status > 299) {
    trace.ErrorFormat("Device answered with HTTP status %d", static_cast<long long>(status));
    InternetCloseHandle(request);
    return false;
  }

  if (verb == "GET") {
    m_strResponse.clear();
    for (;;) {
      DWORD available = 0;
      if (InternetQueryDataAvailable(request, &available, 0, 0) != TRUE) {
        trace.Error("InternetQueryDataAvailable failed");
        InternetCloseHandle(request);
        return false;
      }
      if (available == 0) break;
      std::unique_ptr<char[]> buffer(new (std::nothrow) char[std::size_t{available} + 1]());
      if (buffer == nullptr) {
        trace.Error("Couldn't get memory for lpszBuffer");
        InternetCloseHandle(request);
        return false;
      }
      DWORD read = 0;
      while (InternetReadFile(request, buffer.get(), available, &read) == TRUE && read > 0) {
        buffer[read] = '\0';
        AppendText(m_strResponse, buffer.get(), read);
      }
    }
    trace.Detail("Response from direct device **********************");
    trace.Detail(m_strResponse);
    trace.Detail(kStars);
  } else {
    trace.Detail("Post Request to networked device *****************");
    trace.Detail(m_strBody);
    trace.Detail(kStars);
  }
  InternetCloseHandle(request);
  return true;
}

void DeviceTalk::ComposeHttpRequest(int kind) {
  DebugTrace trace("ComposeHttpRequest", __FILE__);
  if (kind == kRequestList) {
    m_strRequest = std::string("GET ") + kListPath +
                   " HTTP/1.1\r\nHost: localhost:5225\r\nContent-Length:0\r\n\r\n\r\n\r\n";
  } else if (kind == kRequestUpdate) {
    m_strRequest = std::string("POST ") + kUpdatePath +
                   " HTTP/1.1\r\nHost: localhost:5225\r\nContent-Length:" + std::to_string(m_strBody.size()) +
                   "\r\n\r\n" + m_strBody + "\r\n\r\n";
  }
}

void* DeviceTalk::BridgeEntry(const char* name) {
  void* entry = GetProcAddress(m_hPortBridge, name);
  if (entry == nullptr) throw std::runtime_error(std::string("no entry point ") + name);
  return entry;
}

std::string DeviceTalk::BridgeError() {
  using LastErrorFn = const char* (*)();
  auto lastError = reinterpret_cast<LastErrorFn>(GetProcAddress(m_hPortBridge, "BridgeLastError"));
  const char* text = lastError == nullptr ? nullptr : lastError();
  return text == nullptr ? std::string() : std::string(text);
}

bool DeviceTalk::PastDeadline(const char* step) {
  if (m_nOperationDepth == 0 || std::chrono::steady_clock::now() < m_tDeadline) return false;
  DebugTrace trace("PastDeadline", __FILE__);
  trace.Error(std::string("Device work took longer than ") + std::to_string(OperationDeadlineMs()) + " ms; " +
              step + " given up");
  return true;
}

bool DeviceTalk::CheckUsbStatus(const std::string& response) {
  DebugTrace trace("CheckUsbStatus", __FILE__);
  int status = 0;
  if (response.empty()) {
    // Nothing came: the channel library knows why (a response it dropped as too large, a time-out).
    std::string why = BridgeError();
    trace.Error("USB response is empty" + (why.empty() ? std::string() : ": " + why));
    return false;
  }
  if (response.compare(0, 5, "HTTP/") != 0 || response.size() < 12 ||
      std::sscanf(response.c_str() + 5, "%*d.%*d %3d", &status) != 1) {
    trace.Error("USB response has no HTTP status line");
    return false;
  }
  if (status < 200 || status > 299) {
    trace.ErrorFormat("Device answered with HTTP status %d", status);
    return false;
  }
  return true;
}

bool DeviceTalk::SendHttpViaUsb() {
  DebugTrace trace("SendHttpViaUsb", __FILE__);
  trace.Detail("***** Request to USB *****");
  trace.Detail(m_strRequest);
  trace.Detail(kStars);
  m_strResponse.clear();
  if (m_hPortBridge == nullptr) {
    trace.Error("Load library failed on DvPortBridge");
    return false;
  }

  bool opened = false;
  bool ok = false;
  try {
    auto openBulk = reinterpret_cast<OpenBulkFn>(BridgeEntry("OpenBulk"));
    int failures = 0;
    while (!(opened = openBulk(m_strPort.c_str()) != 0) && failures < kOpenRetries) {
      if (PastDeadline("opening the USB channel")) break;
      trace.Write("Couldn't OpenBulk, re-trying (%d)", failures);
      ++failures;
      Pause(kOpenRetryWaitMs);
    }
    if (!opened) {
      std::string why = BridgeError();
      trace.Error("Couldn't OpenBulk for USB after several retries" +
                  (why.empty() ? std::string() : ": " + why));
      return false;
    }
    if (failures == 0) trace.Write("OpenBulk worked on first try");

    auto writeBulk = reinterpret_cast<WriteBulkFn>(BridgeEntry("WriteBulk"));
    std::int32_t length = static_cast<std::int32_t>(m_strRequest.size());
    if (writeBulk(m_strRequest.data(), &length) == 0) {
      std::string why = BridgeError();
      trace.Error("Couldn't write out request (WriteBulk for USB)" +
                  (why.empty() ? std::string() : ": " + why));
    } else {
      std::unique_ptr<char[]> buffer(new (std::nothrow) char[kUsbBuffer]);
      if (buffer == nullptr) {
        trace.Error("failed to get memory for device data");
      } else {
        // Reading stops at the first read that is not a full 2048 bytes, or at the response bound
        // (counted in bytes reported, so a channel that reports full reads of nothing still ends).
        std::size_t received = 0;
        bool tooLarge = false;
        bool late = false;
        bool waitLogged = false;
        std::int32_t count = 0;
        do {
          if (PastDeadline("reading the USB response")) {
            late = true;
            break;
          }
          // Read afresh on every pass, as the device's own code does, but never longer than the bound.
          DWORD wait = static_cast<DWORD>(
              m_ValueGetter.GetMainInt(settings::kMainUsbWait.pszName, settings::kMainUsbWait.nDefault));
          if (wait > kMaxUsbWaitMs) {
            if (!waitLogged)
              trace.ErrorFormat("UsbWait of %u ms is above the bound; 5000 ms used",
                                static_cast<long long>(wait));
            waitLogged = true;
            wait = kMaxUsbWaitMs;
          }
          Pause(wait);
          auto bytesAvailable = reinterpret_cast<BytesAvailableFn>(BridgeEntry("BytesAvailable"));
          std::uint32_t available = bytesAvailable();
          count = available > static_cast<std::uint32_t>(INT32_MAX) ? INT32_MAX
                                                                    : static_cast<std::int32_t>(available);
          if (count > 0) {
            std::memset(buffer.get(), 0, kUsbBuffer);
            auto readBulk = reinterpret_cast<ReadBulkFn>(BridgeEntry("ReadBulk"));
            if (readBulk(buffer.get(), &count) != 0) {
              AppendText(m_strResponse, buffer.get(), kUsbChunk);
              received += count > 0 ? static_cast<std::size_t>(count) : 0;
            } else {
              std::string why = BridgeError();
              trace.Error("ReadBulk failed" + (why.empty() ? std::string() : ": " + why));
            }
          }
          if (received > kMaxResponseBytes || m_strResponse.size() > kMaxResponseBytes) {
            tooLarge = true;
            break;
          }
        } while (count == kUsbChunk);
        if (tooLarge) {
          trace.ErrorFormat("USB response larger than %d bytes", static_cast<long long>(kMaxResponseBytes));
          m_strResponse.clear();
        } else if (late) {
          m_strResponse.clear();
        } else {
          ok = true;
        }
      }
    }
  } catch (const std::exception&) {
    trace.Error("Caught exception talking USB");
    ok = false;
  }

  if (ok) {
    ok = CheckUsbStatus(m_strResponse) && RemoveHttpHeader(m_strResponse) && RemoveHttpFooter(m_strResponse);
    if (ok) {
      RemoveHttpChunkData(m_strResponse);
    } else if (!m_strResponse.empty()) {
      // A response cut short shows here as framing not found; the channel library may know why.
      std::string why = BridgeError();
      if (!why.empty()) trace.Error("USB channel: " + why);
    }
  }
  // The channel is closed on every path once it was opened, so a failed exchange leaves none behind.
  try {
    auto closeBulk = reinterpret_cast<CloseBulkFn>(BridgeEntry("CloseBulk"));
    closeBulk();
  } catch (const std::exception&) {
    trace.Error("Caught exception closing USB");
    return false;
  }
  if (!ok) return false;
  trace.Detail("***** Response from USB *****");
  trace.Detail(m_strResponse);
  trace.Detail(kStars);
  return true;
}

bool DeviceTalk::RemoveHttpHeader(std::string& text) {
  DebugTrace trace("RemoveHttpHeader", __FILE__);
  std::size_t at = text.find("\r\n\r\n");
  if (at == std::string::npos) {
    trace.Error("Didn't find any header info to remove");
    return false;
  }
  text.erase(0, at + 2);
  return true;
}

bool DeviceTalk::RemoveHttpFooter(std::string& text) {
  DebugTrace trace("RemoveHttpFooter", __FILE__);
  if (text.find("\r\n\r\n") == std::string::npos) {
    trace.Error("Didn't find any footer info to remove");
    return false;
  }
  std::size_t last = text.rfind('>');
  if (last != std::string::npos) text.erase(last + 1);
  return true;
}

void DeviceTalk::RemoveHttpChunkData(std::string& text) {
  DebugTrace trace("RemoveHttpChunkData", __FILE__);
  // The device's rule, applied in one pass: take the first CR LF away, then delete from there through
  // the next CR LF; repeat. Deleting in place would cost quadratic time on a hostile body of CR LFs, so
  // the kept text is built in out and the rest read from text at pos. out never holds a CR LF, so the
  // first one is either where out's last CR meets a LF at pos, or the first one from pos on.
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    if (!out.empty() && out.back() == '\r' && pos < text.size() && text[pos] == '\n') {
      out.pop_back();
      ++pos;
    } else {
      std::size_t first = text.find("\r\n", pos);
      if (first == std::string::npos) {
        out.append(text, pos, std::string::npos);
        break;
      }
      out.append(text, pos, first - pos);
      pos = first + 2;
    }
    std::size_t next = text.find("\r\n", pos);
    if (next == std::string::npos) {
      out += "\r\n";
      out.append(text, pos, std::string::npos);
      trace.Error("didn't find end of chuck data");
      break;
    }
    pos = next + 2;
  }
  text.swap(out);
}

bool DeviceTalk::CheckNotificationFields(const std::string& address, const std::string& hostId) {
  DebugTrace trace("CheckNotificationFields", __FILE__);
  const std::pair<const char*, const std::string*> fields[] = {{"device address", &address},
                                                               {"host ID", &hostId}};
  for (const auto& [what, value] : fields) {
    bool bad = !value->empty() && (*value)[0] == '/';
    std::string shown;
    for (const unsigned char c : *value) {
      if (c < 0x20 || c == 0x7F) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", c);
        shown += escape;
        bad = true;
      } else {
        bad = bad || c == ' ' || c == '"' || c == '\'';
        shown += static_cast<char>(c);
      }
    }
    if (bad) {
      trace.Error(std::string("The ") + what + " \"" + shown +
                  "\" holds a blank, a quote or a control character, or starts with \"/\"; the device "
                  "monitor is not told");
      return false;
    }
  }
  return true;
}

std::string DeviceTalk::UrlAndUtf8Encode(const std::string& text) {
  DebugTrace trace("UrlAndUtf8Encode", __FILE__);
  // The digit 0 is escaped too, and ASCII escapes are in lower case: form values have always gone to
  // the device in exactly this form.
  static constexpr platform::inet::PercentStyle kFormValue{
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz123456789._-!*()", platform::inet::Blank::Plus,
      platform::inet::AsciiHex::LowerCase};
  // Each character on its own: a byte that does not convert is dropped, the others keep their UTF-8
  // bytes (a character past U+FFFF, which no single ANSI byte reaches, its four).
  std::string characters;
  characters.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::uint32_t c = 0;
    const int used = platform::text::DecodeUtf8Char(text.data() + i, text.size() - i, &c);
    if (used <= 0) {
      ++i;
      continue;
    }
    characters.append(text, i, static_cast<std::size_t>(used));
    i += static_cast<std::size_t>(used);
  }
  return platform::inet::PercentEncode(characters, kFormValue);
}
