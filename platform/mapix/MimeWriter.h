// Builds one outgoing Internet message (RFC 5322 with MIME, RFC 2045-2047, 2231) and streams it into a
// file descriptor. Callers: the Simple MAPI provider's silent road, the Extended MAPI message store.
// Attachments are read in small chunks and base64-encoded on the way out, so an attachment of any size
// is never held in memory at all. Header texts are hostile: CR, LF and other controls in a subject or a
// name become blanks, addresses must pass IsPlainAddress, so no text can add a header or a recipient.
// Non-ASCII subjects and names become RFC 2047 encoded words; file names use RFC 2231 parameters.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace mapix {

struct Mailbox {
  std::string name;
  std::string address;
};

struct AttachmentFile {
  std::string path;  // read from here, and only here
  std::string name;  // shown to the recipient
};

struct OutgoingMessage {
  Mailbox from;
  std::vector<Mailbox> to;
  std::vector<Mailbox> cc;
  std::vector<Mailbox> bcc;  // envelope only, never a header
  std::string subject;
  std::string body;
  std::vector<AttachmentFile> attachments;
  bool highImportance = false;
  std::time_t date = 0;   // 0: now
  std::string messageId;  // empty: made up from the time, random bytes and the sender's domain
};

enum class MimeError {
  None,
  BadAddress,            // a sender or recipient address that IsPlainAddress refuses
  AttachmentNotFound,    // the path does not exist
  AttachmentUnreadable,  // exists but cannot be opened or read, or is not a regular file
  WriteFailed,           // the output descriptor refused bytes (disk full, closed pipe)
};

const char* MimeErrorText(MimeError error);

// Writes the whole message. failedPath names the attachment of an attachment error.
MimeError WriteMessage(const OutgoingMessage& message, int fd, std::string* failedPath = nullptr);

// Header pieces, exposed for tests and for the compose road.
// Unstructured text (RFC 2047 5(1)): as it is when printable ASCII, else encoded words; controls blanked.
std::string EncodeHeaderText(const std::string& text);
// A display name for an address header (RFC 2047 5(3)): atom, quoted string or encoded words.
std::string EncodeDisplayName(const std::string& name);
// "name <address>" or "address"; the address is not checked here.
std::string FormatMailbox(const Mailbox& mailbox);
// The filename parameter(s) of Content-Disposition: filename="x" or RFC 2231 filename*0*=UTF-8''...
std::string EncodeFilenameParameter(const std::string& name);
// RFC 5322 3.3 date-time in local time with its offset, English names whatever the locale.
std::string FormatDate(std::time_t when);
// A MIME type from the file name's extension; application/octet-stream when unknown.
std::string MimeTypeOf(const std::string& name);

}  // namespace mapix
