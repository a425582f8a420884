// Desktop notifications: the message a Windows program would show in the tray's balloon, sent here as
// org.freedesktop.Notifications.Notify on the user's session D-Bus (docs/platform.md "Notifications").
// Caller: the scan job, when a job ends (where its files went, or why it failed).
// libdbus-1 is loaded on the first use (platform/module/LazyLibrary.h), so a task that never notifies
// never maps it. The bus is only ever found, never started: DBUS_SESSION_BUS_ADDRESS, else the user's
// $XDG_RUNTIME_DIR/bus socket; without one nothing is sent and nothing is shown.
// A notification with an action needs someone to hear the server's ActionInvoked signal after the
// program has ended: Show hands the notification to the helper marlin3-notify (found beside the
// program), which sends it, waits at most kActionWaitMs for the action or NotificationClosed, and opens
// the folder with xdg-open (platform/process, no shell) when the action is invoked.
#pragma once

#include <string>

namespace platform::notify {

struct Notification {
  std::string strSummary;
  std::string strBody;
  std::string strIcon;        // a freedesktop icon name, or ""
  std::string strActionText;  // the label of the "open" action; "" for none
  std::string strFolder;      // what the action opens
};

// The helper's bound: a scan started at the device's panel is looked at when the user walks back.
constexpr int kActionWaitMs = 60 * 60 * 1000;

enum class ShowResult {
  kHandedOver,    // the helper is started and sends it
  kNoSessionBus,  // nothing sent: no session bus to send to
  kNoHelper,      // marlin3-notify could not be started
};
const char* ShowResultText(ShowResult result);

// The address of the user's session bus, or "" when there is none. Never starts one.
std::string SessionBusAddress();

// Sends the notification through the helper and returns at once.
ShowResult Show(const Notification& notification);

// What SendAndWait saw.
enum class SendResult {
  kActionInvoked,  // the user chose the action
  kClosed,         // closed (or expired) without it, or a server without actions
  kTimedOut,       // neither within the wait
  kNoLibrary,      // libdbus-1.so.3 could not be loaded
  kNoBus,          // no session bus, or it refused the connection
  kRefused,        // no notification server answered Notify
  kBusGone,        // the bus went away while waiting
};
const char* SendResultText(SendResult result);

// Sends Notify on the bus at address. With an action, waits up to waitMs for this notification's
// ActionInvoked or NotificationClosed; detail receives the bus's own reason for a failure.
SendResult SendAndWait(const Notification& notification, const std::string& address, int waitMs,
                       std::string& detail);

// The helper's work: SendAndWait on the session bus, then the folder opened when the action came.
// Returns the helper's exit code (0 when it was sent).
int RunHelper(const Notification& notification, int waitMs);

}  // namespace platform::notify
