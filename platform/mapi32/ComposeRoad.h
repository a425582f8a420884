// MAPISendMail with MAPI_DIALOG: the message opens in the user's mail program through xdg-email
// (recipients, subject, body, attachments). The attachments are copied first into a private folder,
// ${XDG_CACHE_HOME:-~/.cache}/marlin3/mail-attachments/<call>/<n>/<name> (folders 0700), that is NOT
// removed on return: the mail program reads the files whenever the user sends, maybe much later.
// Call folders older than seven days are removed at the next compose call. xdg-email is waited for a
// short while: a quick non-zero exit (no mail program, bad arguments) fails the call; one still running
// after that is taken as an open compose window and reaped in the background.
#pragma once

#include <string>

#include "platform/mapi32/ProviderSession.h"

namespace mapi32 {

simplemapi::ULONG ComposeInMailProgram(const CheckedMessage& message);

// The private folder of the copies (created as needed, 0700); empty when it cannot be made.
std::string AttachmentCopyRoot();

}  // namespace mapi32
