#include "NotificationLine.h"

#include <strings.h>

#include <array>
#include <cstdio>

namespace devwatch {

namespace {

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    if (IsControl(c) || c == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool NotificationLine::CheckValue(const char* key, const std::string& value, std::string& why) {
  const std::string field = std::string("the notification's ") + key + " value";
  if (value.size() > kMaxValueBytes) {
    why = field + " is too long";
    return false;
  }
  for (const unsigned char c : value) {
    if (IsControl(c)) {
      why = field + " \"" + Printable(value) + "\" holds a control character";
      return false;
    }
    if (c == ' ') {
      why = field + " \"" + Printable(value) + "\" holds a blank";
      return false;
    }
    if (c == '"' || c == '\'') {
      why = field + " \"" + Printable(value) + "\" holds a quote";
      return false;
    }
  }
  if (!value.empty() && value[0] == '/') {
    why = field + " \"" + Printable(value) + "\" starts with \"/\"";
    return false;
  }
  return true;
}

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
  const std::array<const char*, 3> keys = {"DevAddr=", "DevMon=", "DevHostId="};
  std::array<std::string, 3> values;
  std::array<bool, 3> seen{};
  // Words are separated by blanks and tabs only: a CR, LF or any other control character stays inside
  // its word and is refused there.
  std::size_t at = start;
  for (;;) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at >= text.size()) break;
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    const std::string word = text.substr(at, end - at);
    at = end;
    std::size_t k = 0;
    while (k < keys.size() && word.compare(0, std::char_traits<char>::length(keys[k]), keys[k]) != 0) ++k;
    if (k == keys.size()) {
      why = "the notification has an unexpected field \"" + Printable(word.substr(0, 64)) + "\"";
      return Result::Bad;
    }
    if (seen[k]) {
      why = std::string("the notification has its ") + keys[k] + " field twice";
      return Result::Bad;
    }
    seen[k] = true;
    values[k] = word.substr(std::char_traits<char>::length(keys[k]));
  }
  for (std::size_t k = 0; k < keys.size(); ++k) {
    if (!seen[k]) {
      why = std::string("the notification has no ") + keys[k] + " field";
      return Result::Bad;
    }
  }
  if (!CheckValue(keys[0], values[0], why) || !CheckValue(keys[2], values[2], why)) return Result::Bad;
  if (strcasecmp(values[1].c_str(), "On") == 0) {
    notification.bPollingOn = true;
  } else if (strcasecmp(values[1].c_str(), "Off") == 0) {
    notification.bPollingOn = false;
  } else {
    why = "DevMon is \"" + Printable(values[1].substr(0, 64)) + "\", neither On nor Off";
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
