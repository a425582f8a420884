// The notification command line that marlin3 starts DEVWATCH with:
//   DEVWATCH /notifications:DevAddr=ADDR  DevMon=On|Off  DevHostId=HOSTID
// with one or two blanks between the fields (marlin3 writes three spacings). The text is the program's
// arguments joined by blanks, so it reads the same whether the fields come as one argument or several.
// The three fields come once each and nothing else follows the switch. A value holds no blank and no
// control character: one that did could start a field of its own (a host name "q  DevMon=Off" turned
// polling off) or reach the state file as a line of its own, so such a line is refused whole.
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
  // field is missing, repeated, unknown, too long or holds a control character, or DevMon is neither On
  // nor Off. An empty value is not an error: marlin3 sends an empty DevAddr until it has been started by
  // the monitor once (the monitor keeps what it knows).
  static Result Parse(const std::string& text, Notification& notification, std::string& why);
  // The text again, in the form marlin3's InitializePolling writes.
  static std::string Format(const Notification& notification);
  // Whether a device address or host ID can be a field (and a marlin3 argument): no blank, no control
  // character, no quote, no leading "/" (marlin3 would read that as an option). False with the reason.
  static bool CheckValue(const char* key, const std::string& value, std::string& why);
};

// Text from outside as a log line may show it: control characters and non-ASCII bytes as \xNN.
std::string Printable(const std::string& text);

}  // namespace devwatch
