// The notification command line that marlin3 starts DEVWATCH with:
//   DEVWATCH /notifications:DevAddr=ADDR  DevMon=On|Off  DevHostId=HOSTID
// with one or two blanks between the fields (marlin3 writes three spacings). The text is the program's
// arguments joined by blanks, so it reads the same whether the fields come as one argument or several.
// Each value runs to the next field's key (blanks around it dropped), so a value may hold blanks.
#pragma once

#include <string>

namespace devwatch {

struct Notification {
  std::string strDevAddr;
  bool bPollingOn = false;
  std::string strHostId;
};

class NotificationLine {
 public:
  static constexpr std::size_t kMaxValueBytes = 1024;
  enum class Result { Notification, NoNotification, Bad };

  // NoNotification when the text holds no "/notifications:" (a plain start); Bad with the reason when a
  // field is missing, too long, or DevMon is neither On nor Off. An empty value is not an error: marlin3
  // sends an empty DevAddr until it has been started by the monitor once (the monitor keeps what it knows).
  static Result Parse(const std::string& text, Notification& notification, std::string& why);
  // The text again, in the form marlin3's InitializePolling writes.
  static std::string Format(const Notification& notification);
};

}  // namespace devwatch
