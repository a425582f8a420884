// Feeds arbitrary bytes to DEVWATCH's reading of a device answer (HTTP framing, then the status
// document) and of a notification command line; a notification taken in holds only values that are
// fields and reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DeviceStatus.h"
#include "HttpResponseParser.h"
#include "NotificationLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  devwatch::HttpResponse response;
  for (const bool closed : {false, true}) {
    if (devwatch::HttpResponseParser::Parse(input, closed, 4096, response) ==
        devwatch::ResponseStatus::Complete) {
      if (response.strBody.size() > 4096 && input.find("Content-Length") == std::string::npos)
        __builtin_trap();
      devwatch::ScanRequestStatus status;
      std::string why;
      devwatch::DeviceStatus::ParseDocument(response.strBody, status, why);
    }
  }
  devwatch::ScanRequestStatus status;
  std::string why;
  devwatch::DeviceStatus::ParseDocument(input, status, why);
  devwatch::Notification notification;
  if (devwatch::NotificationLine::Parse(input, notification, why) ==
      devwatch::NotificationLine::Result::Notification) {
    // What is taken in is a field: it passes the value check and reads back the same.
    if (!devwatch::NotificationLine::CheckValue("DevAddr=", notification.strDevAddr, why) ||
        !devwatch::NotificationLine::CheckValue("DevHostId=", notification.strHostId, why))
      __builtin_trap();
    devwatch::Notification again;
    if (devwatch::NotificationLine::Parse(devwatch::NotificationLine::Format(notification), again, why) !=
            devwatch::NotificationLine::Result::Notification ||
        again.strDevAddr != notification.strDevAddr || again.strHostId != notification.strHostId ||
        again.bPollingOn != notification.bPollingOn)
      __builtin_trap();
  }
  devwatch::DeviceAddress address;
  devwatch::DeviceAddress::Parse(input, address);
  return 0;
}
