// DeviceTalk: the conversation with the device's embedded web server about its scan-to destinations.
// Transport (DeviceTalk.cpp): over the network through the inet layer (WinINet's shape) to port 80 of
// the product's "IP Address", or over USB as raw HTTP texts through the channel library
// DvPortBridge.dll, whose responses are stripped of their HTTP framing here. Destination list
// (DeviceList.cpp): GetList reads the destination document and sorts its names into this PC's and other
// PCs'; Update adds or removes names in one form POST. Callers: tasks 10, 11, 14, the device setup
// dialog and the main dialog, each with an object of its own on the user-interface thread.
// Every failure is a false result and a log line. Responses are bounded (kMaxResponseBytes), a silent
// device ends the exchange through the transports' time-outs, and a DestinationID outside 0 to 29 is
// skipped with an error line, so a hostile reply never writes outside the record table.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/XMLParser.h"
#include "platform/inet/Inet.h"
#include "settings/ValueGetter.h"

// One destination as the device reports it.
struct DestRecord {
  std::string HostID;
  std::string DeviceDisplay;
  std::string ScanToType;
};

class DeviceTalk : public XMLParser {
 public:
  enum RequestKind : int { kRequestList = 0, kRequestUpdate = 1 };
  static constexpr int kMaxDestinations = 30;
  // A USB response above this is a failed exchange (the network layer keeps the same bound).
  static constexpr std::size_t kMaxResponseBytes = 1u << 20;
  static constexpr const char* kListPath = "/nx/device/info_scanto_destinations.xml";
  static constexpr const char* kUpdatePath = "/nx/device/set_config.html";
  // "UsbWait" above this (0xFFFFFFFF would wait for ever) waits this long, with a log line.
  static constexpr DWORD kMaxUsbWaitMs = 5000;
  // One operation's device work (GetList, or Update with the read that confirms it) starts no new
  // exchange, and the USB read loop reads no further, once this has passed since it began.
  static constexpr int kOperationDeadlineMs = 60000;

  DeviceTalk();
  ~DeviceTalk() override;

  // --- Transport ---
  bool Initialize();
  bool SendHttpViaNetwork(const std::string& verb, const std::string& path);
  void ComposeHttpRequest(int kind);
  bool SendHttpViaUsb();
  bool RemoveHttpHeader(std::string& text);
  bool RemoveHttpFooter(std::string& text);
  void RemoveHttpChunkData(std::string& text);
  std::string UrlAndUtf8Encode(const std::string& text);

  // --- Destination list ---
  bool GetList(std::vector<std::string>& thisPc, std::vector<std::string>& otherPcs);
  // True only when the device's own list, read again afterwards, holds every added name (and none of
  // the removed ones) for this PC; the names that did not take are in GetNotTaken().
  bool Update(const std::vector<std::string>* names, bool add);
  const std::vector<std::string>& GetNotTaken() const { return m_saNotTaken; }
  void AddToHttpBody(const std::string& name, bool add);
  void ParseXMLDocument() override;

  // Whether the device address and host ID can be fields of the device monitor's notification line:
  // no blank (which could start a field of its own), no control character, no quote, no leading "/".
  // False with the error logged, naming the value; the monitor is then not started.
  static bool CheckNotificationFields(const std::string& address, const std::string& hostId);

  // Read access for callers and tests.
  bool IsInitialized() const { return m_bInitialized; }
  int GetConnection() const { return m_nConnection; }
  const std::string& GetHostId() const { return m_strHostId; }
  const std::string& GetRequest() const { return m_strRequest; }
  const std::string& GetBody() const { return m_strBody; }
  const std::string& GetResponse() const { return m_strResponse; }
  const std::vector<int>& GetIndexes() const { return m_saIndexes; }
  int GetMaxDest() const { return m_nMaxDest; }
  int GetAvailDest() const { return m_nAvailDest; }
  const DestRecord* GetRecord(int id) const;
  void SetResponseForTest(const std::string& response) { m_strResponse = response; }

 protected:
  // The waits of the USB exchange (the 500 ms retry waits and the "UsbWait" waits). Tests override it
  // to count the waits instead of sleeping through them.
  virtual void Pause(DWORD milliseconds);
  // kOperationDeadlineMs; tests shorten it.
  virtual int OperationDeadlineMs() const { return kOperationDeadlineMs; }

 private:
  void Close();
  // Checks the status line of a raw USB response: false (logged) unless it is a 2xx answer.
  bool CheckUsbStatus(const std::string& response);
  void* BridgeEntry(const char* name);
  // The channel library's reason for its last failure, when it tells one (empty otherwise).
  std::string BridgeError();
  bool ConfirmUpdate(const std::vector<std::string>& names, bool add);
  // Starts the operation's clock unless an operation is already running; see kOperationDeadlineMs.
  class Operation {
   public:
    explicit Operation(DeviceTalk& talk) : m_talk(talk) {
      if (m_talk.m_nOperationDepth++ == 0)
        m_talk.m_tDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(m_talk.OperationDeadlineMs());
    }
    ~Operation() { --m_talk.m_nOperationDepth; }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

   private:
    DeviceTalk& m_talk;
  };
  // True (logged) when the running operation's deadline has passed; step names what is not done.
  bool PastDeadline(const char* step);

  ValueGetter m_ValueGetter;
  bool m_bInitialized;
  int m_nConnection;
  HINTERNET m_hInternet;
  HINTERNET m_hConnect;
  HMODULE m_hPortBridge;
  std::string m_strIpAddress;
  std::string m_strPort;
  std::string m_strHostId;
  std::string m_strRequest;
  std::string m_strBody;
  std::string m_strResponse;
  int m_nBodyEntries;

  std::array<std::unique_ptr<DestRecord>, kMaxDestinations> m_Records;
  std::vector<int> m_saIndexes;
  int m_nMaxDest;
  int m_nAvailDest;
  int m_nCurrentDest;
  std::vector<std::string> m_saNotTaken;
  int m_nOperationDepth = 0;
  std::chrono::steady_clock::time_point m_tDeadline;
};
