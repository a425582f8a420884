// DEVWATCH's look at the device: one GET of the scan-request status document for this PC's host ID,
// on a fresh connection, bounded in time (connect 2 s, whole exchange 5 s) and size (64 KB).
// The device address is the "DevAddr" marlin3 passes: "unix:/PATH", "PORT" (127.0.0.1:PORT),
// "HOST:PORT", "[V6]:PORT" or "HOST" (port 80), as the USB tunnel or the network reaches the device.
#pragma once

#include <chrono>
#include <string>

namespace devwatch {

struct DeviceAddress {
  bool bUnix = false;
  std::string strHost;
  int nPort = 80;
  std::string strPath;
  static bool Parse(const std::string& text, DeviceAddress& address);
};

struct ScanRequestStatus {
  bool bPending = false;
  int nDestinationId = -1;
  std::string strHostId;
  std::string strDisplay;
};

class DeviceStatus {
 public:
  static constexpr std::size_t kMaxBody = 64 * 1024;
  static constexpr const char* kPath = "/nx/device/info_scanto_request.xml";

  // False with the reason when the device cannot be reached or its answer is not a status document.
  static bool Fetch(const std::string& devAddr, const std::string& hostId, ScanRequestStatus& status,
                    std::string& why, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
  // The status document (root ScanToRequest with Pending, DestinationID, HostID, DeviceDisplay).
  static bool ParseDocument(const std::string& xml, ScanRequestStatus& status, std::string& why);
};

}  // namespace devwatch
