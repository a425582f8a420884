#include "platform/mapi32/SilentRoad.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/mapix/MaildirStore.h"
#include "platform/mapix/SmtpClient.h"

namespace mapi32 {

using namespace simplemapi;

namespace {

ULONG CodeOf(mapix::SmtpError error) {
  switch (error) {
    case mapix::SmtpError::None:
      return SUCCESS_SUCCESS;
    case mapix::SmtpError::NoPassword:
    case mapix::SmtpError::AuthFailed:
      return MAPI_E_LOGON_FAILURE;
    case mapix::SmtpError::RecipientRefused:
    case mapix::SmtpError::NoRecipients:
      return MAPI_E_INVALID_RECIPS;
    case mapix::SmtpError::MessageUnreadable:
      return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    default:
      return MAPI_E_FAILURE;
  }
}

}  // namespace

ULONG SendSilently(const ProviderSession& session, const CheckedMessage& checked) {
  if (!session.hasProfile) {
    Trace("no mail profile: cannot send without the mail program");
    return MAPI_E_LOGON_FAILURE;
  }
  if (checked.to.empty() && checked.cc.empty() && checked.bcc.empty()) {
    Trace("no recipients");
    return MAPI_E_INVALID_RECIPS;
  }
  const mapix::MailProfile& profile = session.profile;
  mapix::OutgoingMessage message;
  message.from = {profile.senderName, profile.senderAddress};
  message.to = checked.to;
  message.cc = checked.cc;
  message.bcc = checked.bcc;
  message.subject = checked.subject;
  message.body = checked.body;
  message.attachments = checked.attachments;

  // The message is written to disk, not memory: it may carry attachments of any size.
  std::unique_ptr<mapix::MaildirStore> store;
  std::string path;
  int fd = -1;
  if (profile.hasStore) {
    store = std::make_unique<mapix::MaildirStore>(profile.storeFolder);
    if (store->Open() != mapix::StoreError::None ||
        store->CreateTemp(mapix::MaildirStore::Folder::SentItems, path, fd) != mapix::StoreError::None) {
      Trace("the message store cannot be written: " + profile.storeFolder);
      return MAPI_E_DISK_FULL;
    }
  } else {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/marlin3-mail.XXXXXX";
    fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return MAPI_E_DISK_FULL;
  }
  std::string failedPath;
  const mapix::MimeError built = mapix::WriteMessage(message, fd, &failedPath);
  close(fd);
  if (built != mapix::MimeError::None) {
    unlink(path.c_str());
    Trace(std::string(mapix::MimeErrorText(built)) + (failedPath.empty() ? "" : ": " + failedPath));
    if (built == mapix::MimeError::AttachmentNotFound) return MAPI_E_ATTACHMENT_NOT_FOUND;
    if (built == mapix::MimeError::AttachmentUnreadable) return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    if (built == mapix::MimeError::BadAddress) return MAPI_E_INVALID_RECIPS;
    return MAPI_E_DISK_FULL;
  }
  std::vector<std::string> envelope;
  for (const auto* list : {&checked.to, &checked.cc, &checked.bcc})
    for (const auto& box : *list) envelope.push_back(box.address);
  std::string detail;
  const mapix::SmtpError sent =
      mapix::SendMessageFile(profile, profile.senderAddress, envelope, path, &detail);
  if (sent != mapix::SmtpError::None) {
    unlink(path.c_str());
    Trace(std::string(mapix::SmtpErrorText(sent)) + " (" + detail + ")");
    return CodeOf(sent);
  }
  if (store) {
    std::string placed;
    if (store->Deliver(mapix::MaildirStore::Folder::SentItems, path, placed) != mapix::StoreError::None) {
      Trace("sent, but not filed in Sent Items");
      unlink(path.c_str());
    } else {
      std::string seen;
      store->Move(placed, mapix::MaildirStore::Folder::SentItems, seen);
    }
  } else {
    unlink(path.c_str());
  }
  return SUCCESS_SUCCESS;
}

}  // namespace mapi32
