// marlin3-notify: the helper that outlives marlin3 to hear what the user does with a notification
// (platform/notify/Notify.h). Arguments, each one text: SUMMARY BODY ICON [ACTION-TEXT FOLDER].
// They come from marlin3 only as data: no option is read from them.
#include <cstdio>

#include "platform/notify/Notify.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) {
    std::fprintf(stderr, "usage: marlin3-notify SUMMARY BODY ICON [ACTION-TEXT FOLDER]\n");
    return 2;
  }
  platform::notify::Notification notification;
  notification.strSummary = argv[1];
  notification.strBody = argv[2];
  notification.strIcon = argv[3];
  if (argc == 6) {
    notification.strActionText = argv[4];
    notification.strFolder = argv[5];
  }
  return platform::notify::RunHelper(notification, platform::notify::kActionWaitMs);
}
