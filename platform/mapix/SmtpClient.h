// Hands one finished message file to the profile's SMTP server (libcurl): implicit TLS, STARTTLS
// (required, never silently dropped) or plain on loopback; AUTH with the profile's user and password.
// Callers: the Simple MAPI provider's silent road, the Extended MAPI message's SubmitMessage.
// The message is streamed from its file, so its size is never in memory. A server that stops answering
// is given up after the profile's timeout. Every refused recipient fails the whole send (nothing is
// reported as sent that the server did not take). The password goes to libcurl and nowhere else.
#pragma once

#include <string>
#include <vector>

#include "platform/mapix/MailProfile.h"

namespace mapix {

enum class SmtpError {
  None,
  NoPassword,         // the profile's password source gave nothing
  ConnectFailed,      // no connection (refused, unreachable, name unknown)
  TlsFailed,          // TLS handshake, certificate check or STARTTLS refused
  AuthFailed,         // the server refused the login
  SenderRefused,      // MAIL FROM refused
  RecipientRefused,   // a RCPT TO refused
  DataRefused,        // the message was refused after DATA
  ConnectionLost,     // the server dropped the connection before taking the message
  TimedOut,           // the server stopped answering
  MessageUnreadable,  // the message file could not be read
  NoRecipients,       // nothing to send to
  Failed,             // any other transfer failure
};

const char* SmtpErrorText(SmtpError error);

// Test seam: when set, Send fails with this error without connecting (a fault in submission).
void SetSmtpFaultForTest(SmtpError error);

// Sends the message file to the recipients. detail receives libcurl's text for the log (no secrets).
SmtpError SendMessageFile(const MailProfile& profile, const std::string& from,
                          const std::vector<std::string>& recipients, const std::string& messagePath,
                          std::string* detail = nullptr);

}  // namespace mapix
