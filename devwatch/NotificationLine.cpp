#include "NotificationLine.h"

#include <strings.h>

#include <algorithm>
#include <array>

namespace devwatch {

namespace {

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Position of key at the start of rest or after a blank, or npos.
std::size_t FindKey(const std::string& rest, const std::string& key) {
  for (std::size_t at = rest.find(key); at != std::string::npos; at = rest.find(key, at + 1)) {
    if (at == 0 || rest[at - 1] == ' ' || rest[at - 1] == '\t') return at;
  }
  return std::string::npos;
}

}  // namespace

NotificationLine::Result NotificationLine::Parse(const std::string& text, Notification& notification,
                                                 std::string& why) {
  static const std::string kSwitch = "/notifications:";
  std::size_t start = std::string::npos;
  for (std::size_t i = 0; i + kSwitch.size() <= text.size(); ++i) {
    if (strncasecmp(text.c_str() + i, kSwitch.c_str(), kSwitch.size()) == 0) {
      start = i + kSwitch.size();
      break;
    }
  }
  if (start == std::string::npos) return Result::NoNotification;
  const std::string rest = text.substr(start);
  const std::array<std::string, 3> keys = {"DevAddr=", "DevMon=", "DevHostId="};
  std::array<std::size_t, 3> at{};
  for (std::size_t k = 0; k < keys.size(); ++k) {
    at[k] = FindKey(rest, keys[k]);
    if (at[k] == std::string::npos) {
      why = "the notification has no " + keys[k] + " field";
      return Result::Bad;
    }
  }
  std::array<std::string, 3> values;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const std::size_t from = at[k] + keys[k].size();
    std::size_t to = rest.size();
    for (const std::size_t other : at) {
      if (other >= from && other < to) to = other;
    }
    values[k] = Trim(rest.substr(from, to - from));
    if (values[k].size() > kMaxValueBytes) {
      why = "the notification's " + keys[k] + " value is too long";
      return Result::Bad;
    }
  }
  if (strcasecmp(values[1].c_str(), "On") == 0) {
    notification.bPollingOn = true;
  } else if (strcasecmp(values[1].c_str(), "Off") == 0) {
    notification.bPollingOn = false;
  } else {
    why = "DevMon is \"" + values[1] + "\", neither On nor Off";
    return Result::Bad;
  }
  notification.strDevAddr = values[0];
  notification.strHostId = values[2];
  return Result::Notification;
}

std::string NotificationLine::Format(const Notification& notification) {
  return "/notifications:DevAddr=" + notification.strDevAddr +
         "  DevMon=" + (notification.bPollingOn ? "On" : "Off") + "  DevHostId=" + notification.strHostId;
}

}  // namespace devwatch
