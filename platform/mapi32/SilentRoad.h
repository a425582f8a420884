// MAPISendMail without MAPI_DIALOG: the message is built as MIME in the profile's message store (or the
// temporary folder when the profile keeps none) and sent by SMTP. A sent message is filed in Sent Items;
// a failed one is removed and its reason reported as the published result code, never as success.
#pragma once

#include "platform/mapi32/ProviderSession.h"

namespace mapi32 {

simplemapi::ULONG SendSilently(const ProviderSession& session, const CheckedMessage& message);

}  // namespace mapi32
