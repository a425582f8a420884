// One Simple MAPI session of the provider libMapi32.so, and what both roads of MAPISendMail share:
// turning the published message record into checked recipients and attachments. A session has the
// default mail profile when one exists; without one (and with MAPI_LOGON_UI) it can still open the
// user's mail program, but cannot send silently (MAPI_E_LOGON_FAILURE).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/mapi32/SimpleMapiTypes.h"
#include "platform/mapix/MailProfile.h"
#include "platform/mapix/MimeWriter.h"

namespace mapi32 {

struct ProviderSession {
  bool hasProfile = false;
  mapix::MailProfile profile;
};

// The message record as checked lists. Result: SUCCESS_SUCCESS or the published code of the first
// problem (bad class, unknown or ambiguous recipient, too many recipients or files, text too large).
struct CheckedMessage {
  std::vector<mapix::Mailbox> to;
  std::vector<mapix::Mailbox> cc;
  std::vector<mapix::Mailbox> bcc;
  std::string subject;
  std::string body;
  std::vector<mapix::AttachmentFile> attachments;
};

simplemapi::ULONG CheckMessage(const ProviderSession& session, const simplemapi::MapiMessage& message,
                               bool dialog, CheckedMessage& checked);

// Reasons to the debugger output ("***" is not added: these are provider lines, not log lines). Each
// is also kept as the call's failure cause, which M3MAPILastFailure hands to the caller's log.
void Trace(const std::string& text);

// Kinds of failure cause (M3MAPILastFailure's result).
enum FailureKind : unsigned long { kNoFailure = 0, kNoMailProgram = 1, kOtherFailure = 2 };
// Records the cause of the current call's failure (Trace records kOtherFailure); ClearFailure at the
// start of each call.
void SetFailure(FailureKind kind, const std::string& text);
void ClearFailure();
FailureKind LastFailure(std::string& text);

}  // namespace mapi32
