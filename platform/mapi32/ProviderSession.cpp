#include "platform/mapi32/ProviderSession.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace mapi32 {

using namespace simplemapi;

namespace {

// What the provider accepts in one message; beyond it the published "too many" codes.
constexpr ULONG kMaxRecipients = 500;
constexpr ULONG kMaxFiles = 500;
constexpr std::size_t kMaxSubjectBytes = 16 * 1024;
constexpr std::size_t kMaxNoteBytes = 16 * 1024 * 1024;

// "SMTP:address" (any case of the prefix) or "address".
std::string StripAddressType(const char* text) {
  std::string address = text;
  if (address.size() > 5 && strncasecmp(address.c_str(), "SMTP:", 5) == 0) address = address.substr(5);
  return address;
}

ULONG CheckRecipient(const ProviderSession& session, const MapiRecipDesc& recip, bool dialog,
                     CheckedMessage& checked) {
  if (recip.ulRecipClass < MAPI_TO || recip.ulRecipClass > MAPI_BCC) {
    // An entry left all zero (a name that did not resolve) has class MAPI_ORIG. The compose window
    // lets the user fill in what is missing, so it is skipped there; a silent send refuses it.
    if (dialog && recip.lpszName == nullptr && recip.lpszAddress == nullptr) return SUCCESS_SUCCESS;
    return MAPI_E_BAD_RECIPTYPE;
  }
  mapix::Mailbox box;
  if (recip.lpszAddress != nullptr && recip.lpszAddress[0] != '\0') {
    box.address = StripAddressType(recip.lpszAddress);
    if (!mapix::IsPlainAddress(box.address)) return MAPI_E_INVALID_RECIPS;
    if (recip.lpszName != nullptr) box.name = recip.lpszName;
  } else if (recip.lpszName != nullptr && recip.lpszName[0] != '\0') {
    const mapix::Resolution result = mapix::ResolveRecipient(session.hasProfile ? &session.profile : nullptr,
                                                             recip.lpszName, false, box.name, box.address);
    if (result == mapix::Resolution::Ambiguous) return MAPI_E_AMBIGUOUS_RECIPIENT;
    if (result != mapix::Resolution::Resolved) return MAPI_E_UNKNOWN_RECIPIENT;
  } else {
    return MAPI_E_UNKNOWN_RECIPIENT;
  }
  if (box.name == box.address) box.name.clear();
  auto& list = recip.ulRecipClass == MAPI_TO   ? checked.to
               : recip.ulRecipClass == MAPI_CC ? checked.cc
                                               : checked.bcc;
  list.push_back(box);
  return SUCCESS_SUCCESS;
}

}  // namespace

namespace {
// Per thread: a caller reads the cause of its own last call.
thread_local FailureKind t_failureKind = kNoFailure;
thread_local std::string t_failureText;
}  // namespace

void SetFailure(FailureKind kind, const std::string& text) {
  t_failureKind = kind;
  t_failureText = text;
}

void ClearFailure() {
  SetFailure(kNoFailure, std::string());
}

FailureKind LastFailure(std::string& text) {
  text = t_failureText;
  return t_failureKind;
}

void Trace(const std::string& text) {
  if (t_failureKind != kNoMailProgram) SetFailure(kOtherFailure, text);
  if (std::getenv("MARLIN3_DEBUGOUT") == nullptr) return;
  const std::string line = "Mapi32: " + text + "\n";
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

ULONG CheckMessage(const ProviderSession& session, const MapiMessage& message, bool dialog,
                   CheckedMessage& checked) {
  checked = CheckedMessage();
  if (message.nRecipCount > kMaxRecipients) return MAPI_E_TOO_MANY_RECIPIENTS;
  if (message.nFileCount > kMaxFiles) return MAPI_E_TOO_MANY_FILES;
  if ((message.nRecipCount > 0 && message.lpRecips == nullptr) ||
      (message.nFileCount > 0 && message.lpFiles == nullptr))
    return MAPI_E_FAILURE;
  if (message.lpszSubject != nullptr) {
    if (std::strlen(message.lpszSubject) > kMaxSubjectBytes) return MAPI_E_TEXT_TOO_LARGE;
    checked.subject = message.lpszSubject;
  }
  if (message.lpszNoteText != nullptr) {
    if (std::strlen(message.lpszNoteText) > kMaxNoteBytes) return MAPI_E_TEXT_TOO_LARGE;
    checked.body = message.lpszNoteText;
  }
  for (ULONG i = 0; i < message.nRecipCount; ++i) {
    const ULONG result = CheckRecipient(session, message.lpRecips[i], dialog, checked);
    if (result != SUCCESS_SUCCESS) {
      Trace("recipient " + std::to_string(i) + " refused with code " + std::to_string(result));
      return result;
    }
  }
  for (ULONG i = 0; i < message.nFileCount; ++i) {
    const MapiFileDesc& file = message.lpFiles[i];
    if (file.lpszPathName == nullptr || file.lpszPathName[0] == '\0') return MAPI_E_ATTACHMENT_NOT_FOUND;
    mapix::AttachmentFile attachment;
    attachment.path = file.lpszPathName;
    const std::size_t slash = attachment.path.rfind('/');
    attachment.name = file.lpszFileName != nullptr && file.lpszFileName[0] != '\0'
                          ? file.lpszFileName
                          : attachment.path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (access(attachment.path.c_str(), F_OK) != 0) return MAPI_E_ATTACHMENT_NOT_FOUND;
    if (access(attachment.path.c_str(), R_OK) != 0) return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    checked.attachments.push_back(attachment);
  }
  return SUCCESS_SUCCESS;
}

}  // namespace mapi32
