// The Maildir message store, its folders, and the messages and attachments made in them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "platform/mapix/MapiObjects.h"
#include "platform/mapix/MimeWriter.h"
#include "platform/mapix/SmtpClient.h"

namespace mapix {

namespace {

HRESULT g_saveFault = S_OK;

// A property of an object by tag: S_OK with the value filled (strings and bytes linked to root), or
// MAPI_E_NOT_FOUND.
using PropertySource = std::function<HRESULT(ULONG tag, void* root, SPropValue& value)>;

HRESULT AnswerGetProps(const SPropTagArray* tags, ULONG* count, SPropValue** props,
                       const PropertySource& source) {
  if (tags == nullptr || count == nullptr || props == nullptr || tags->cValues == 0 || tags->cValues > 256)
    return MAPI_E_INVALID_PARAMETER;
  *count = 0;
  *props = nullptr;
  void* root = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * tags->cValues), &root);
  if (FAILED(hr)) return hr;
  auto* values = static_cast<SPropValue*>(root);
  bool missing = false;
  for (ULONG i = 0; i < tags->cValues; ++i) {
    values[i].ulPropTag = tags->aulPropTag[i];
    hr = source(tags->aulPropTag[i], root, values[i]);
    if (hr == MAPI_E_NOT_FOUND) {
      values[i].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[i], PT_ERROR);
      values[i].Value.err = MAPI_E_NOT_FOUND;
      missing = true;
    } else if (FAILED(hr)) {
      MAPIFreeBuffer(root);
      return hr;
    }
  }
  *count = tags->cValues;
  *props = values;
  return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT ReportProblems(const std::vector<SPropProblem>& found, SPropProblemArray** problems) {
  if (problems != nullptr) *problems = nullptr;
  if (found.empty() || problems == nullptr) return S_OK;
  void* buffer = nullptr;
  const HRESULT hr = MAPIAllocateBuffer(
      static_cast<ULONG>(offsetof(SPropProblemArray, aProblem) + found.size() * sizeof(SPropProblem)),
      &buffer);
  if (FAILED(hr)) return hr;
  auto* array = static_cast<SPropProblemArray*>(buffer);
  array->cProblem = static_cast<ULONG>(found.size());
  for (std::size_t i = 0; i < found.size(); ++i) array->aProblem[i] = found[i];
  *problems = array;
  return S_OK;
}

MaildirStore::Folder FolderOfEntry(const std::string& text, bool& known) {
  known = text == kOutboxEntry || text == kSentItemsEntry;
  return text == kSentItemsEntry ? MaildirStore::Folder::SentItems : MaildirStore::Folder::Outbox;
}

}  // namespace

void SetSaveFaultForTest(HRESULT code) {
  g_saveFault = code;
}

// ---- store

MsgStore::MsgStore(std::shared_ptr<ProfileContext> context, std::shared_ptr<MaildirStore> store)
    : m_pContext(std::move(context)), m_pStore(std::move(store)) {}

HRESULT MsgStore::GetProps(const SPropTagArray* tags, ULONG, ULONG* count, SPropValue** props) {
  return AnswerGetProps(tags, count, props, [this](ULONG tag, void* root, SPropValue& value) -> HRESULT {
    if (tag == PR_IPM_OUTBOX_ENTRYID) return CopyBinary(MakeEntryId(kOutboxEntry), root, &value.Value.bin);
    if (tag == PR_IPM_SENTMAIL_ENTRYID)
      return CopyBinary(MakeEntryId(kSentItemsEntry), root, &value.Value.bin);
    if (tag == PR_ENTRYID)
      return CopyBinary(MakeEntryId(StoreEntryText(*m_pContext)), root, &value.Value.bin);
    if (tag == PR_DISPLAY_NAME)
      return CopyString("Mail (" + m_pStore->Root() + ")", root, &value.Value.lpszA);
    return MAPI_E_NOT_FOUND;
  });
}

HRESULT MsgStore::SetProps(ULONG, const SPropValue*, SPropProblemArray** problems) {
  if (problems != nullptr) *problems = nullptr;
  return MAPI_E_NO_ACCESS;
}

HRESULT MsgStore::SaveChanges(ULONG) {
  return S_OK;
}

HRESULT MsgStore::OpenProperty(ULONG, LPCIID, ULONG, ULONG, IUnknown** out) {
  if (out != nullptr) *out = nullptr;
  return MAPI_E_NO_SUPPORT;
}

HRESULT MsgStore::OpenEntry(ULONG entryIdSize, const ENTRYID* entryId, LPCIID, ULONG, ULONG* objectType,
                            IUnknown** out) {
  if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  bool known = false;
  const MaildirStore::Folder folder = FolderOfEntry(EntryIdText(entryIdSize, entryId), known);
  if (!known) return MAPI_E_NOT_FOUND;
  if (objectType != nullptr) *objectType = MAPI_FOLDER;
  *out = new MailFolder(m_pContext, m_pStore, folder);
  return S_OK;
}

// ---- folder

MailFolder::MailFolder(std::shared_ptr<ProfileContext> context, std::shared_ptr<MaildirStore> store,
                       MaildirStore::Folder folder)
    : m_pContext(std::move(context)), m_pStore(std::move(store)), m_eFolder(folder) {}

HRESULT MailFolder::GetProps(const SPropTagArray* tags, ULONG, ULONG* count, SPropValue** props) {
  return AnswerGetProps(tags, count, props, [this](ULONG tag, void* root, SPropValue& value) -> HRESULT {
    const bool outbox = m_eFolder == MaildirStore::Folder::Outbox;
    if (tag == PR_DISPLAY_NAME) return CopyString(outbox ? "Outbox" : "Sent Items", root, &value.Value.lpszA);
    if (tag == PR_ENTRYID)
      return CopyBinary(MakeEntryId(outbox ? kOutboxEntry : kSentItemsEntry), root, &value.Value.bin);
    return MAPI_E_NOT_FOUND;
  });
}

HRESULT MailFolder::SetProps(ULONG, const SPropValue*, SPropProblemArray** problems) {
  if (problems != nullptr) *problems = nullptr;
  return MAPI_E_NO_ACCESS;
}

HRESULT MailFolder::SaveChanges(ULONG) {
  return S_OK;
}

HRESULT MailFolder::OpenProperty(ULONG, LPCIID, ULONG, ULONG, IUnknown** out) {
  if (out != nullptr) *out = nullptr;
  return MAPI_E_NO_SUPPORT;
}

HRESULT MailFolder::CreateMessage(LPCIID, ULONG, IMessage** message) {
  if (message == nullptr) return MAPI_E_INVALID_PARAMETER;
  *message = new Message(m_pContext, m_pStore, m_eFolder);
  return S_OK;
}

// ---- attachment

AttachmentData::~AttachmentData() {
  if (!dataPath.empty()) unlink(dataPath.c_str());
}

Attachment::Attachment(std::shared_ptr<MaildirStore> store, std::shared_ptr<AttachmentData> data)
    : m_pStore(std::move(store)), m_pData(std::move(data)) {}

HRESULT Attachment::GetProps(const SPropTagArray* tags, ULONG, ULONG* count, SPropValue** props) {
  return AnswerGetProps(tags, count, props, [this](ULONG tag, void* root, SPropValue& value) -> HRESULT {
    if (tag == PR_ATTACH_FILENAME && !m_pData->fileName.empty())
      return CopyString(m_pData->fileName, root, &value.Value.lpszA);
    if (tag == PR_ATTACH_METHOD) {
      value.Value.l = m_pData->method;
      return S_OK;
    }
    if (tag == PR_RENDERING_POSITION) {
      value.Value.l = m_pData->position;
      return S_OK;
    }
    return MAPI_E_NOT_FOUND;
  });
}

HRESULT Attachment::SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) {
  if (props == nullptr && count > 0) return MAPI_E_INVALID_PARAMETER;
  std::vector<SPropProblem> found;
  for (ULONG i = 0; i < count; ++i) {
    const SPropValue& value = props[i];
    if (value.ulPropTag == PR_ATTACH_FILENAME && value.Value.lpszA != nullptr) {
      m_pData->fileName = value.Value.lpszA;
    } else if (value.ulPropTag == PR_ATTACH_METHOD) {
      m_pData->method = value.Value.l;
    } else if (value.ulPropTag == PR_RENDERING_POSITION) {
      m_pData->position = value.Value.l;
    } else {
      const ULONG type = PROP_TYPE(value.ulPropTag);
      const SCODE code = type == PT_UNSPECIFIED ? MAPI_E_INVALID_PARAMETER
                         : PROP_ID(value.ulPropTag) == PROP_ID(PR_ATTACH_FILENAME) ||
                                 PROP_ID(value.ulPropTag) == PROP_ID(PR_ATTACH_METHOD)
                             ? MAPI_E_UNEXPECTED_TYPE
                             : MAPI_E_NO_SUPPORT;
      found.push_back({i, value.ulPropTag, code});
    }
  }
  return ReportProblems(found, problems);
}

HRESULT Attachment::SaveChanges(ULONG) {
  if (g_saveFault != S_OK) return g_saveFault;
  if (m_pData->method != static_cast<LONG>(ATTACH_BY_VALUE) || m_pData->dataPath.empty())
    return MAPI_E_CALL_FAILED;
  m_pData->saved = true;
  return S_OK;
}

HRESULT Attachment::OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, IUnknown** out) {
  if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  if (tag != PR_ATTACH_DATA_BIN) return MAPI_E_NO_SUPPORT;
  if (iid == nullptr || std::memcmp(iid, &IID_IStream, sizeof(IID)) != 0)
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
  if ((flags & MAPI_CREATE) == 0 && m_pData->dataPath.empty()) return MAPI_E_NOT_FOUND;
  std::string path;
  int fd = -1;
  if (m_pData->dataPath.empty() || (flags & MAPI_CREATE) != 0) {
    if (m_pStore->CreateTemp(MaildirStore::Folder::Outbox, path, fd) != StoreError::None)
      return MAPI_E_NO_ACCESS;
    if (!m_pData->dataPath.empty()) unlink(m_pData->dataPath.c_str());
    m_pData->dataPath = path;
  } else {
    fd = open(m_pData->dataPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return MAPI_E_NOT_FOUND;
  }
  *out = new FileStream(fd, (flags & MAPI_MODIFY) != 0);
  return S_OK;
}

// ---- message

Message::Message(std::shared_ptr<ProfileContext> context, std::shared_ptr<MaildirStore> store,
                 MaildirStore::Folder folder)
    : m_pContext(std::move(context)), m_pStore(std::move(store)), m_eFolder(folder) {}

HRESULT Message::GetProps(const SPropTagArray* tags, ULONG, ULONG* count, SPropValue** props) {
  return AnswerGetProps(tags, count, props, [this](ULONG tag, void* root, SPropValue& value) -> HRESULT {
    if (tag == PR_SUBJECT) return CopyString(m_strSubject, root, &value.Value.lpszA);
    if (tag == PR_BODY) return CopyString(m_strBody, root, &value.Value.lpszA);
    if (tag == PR_IMPORTANCE) {
      value.Value.l = m_nImportance;
      return S_OK;
    }
    return MAPI_E_NOT_FOUND;
  });
}

HRESULT Message::SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) {
  if (props == nullptr && count > 0) return MAPI_E_INVALID_PARAMETER;
  std::vector<SPropProblem> found;
  for (ULONG i = 0; i < count; ++i) {
    const SPropValue& value = props[i];
    if (value.ulPropTag == PR_SUBJECT && value.Value.lpszA != nullptr) {
      m_strSubject = value.Value.lpszA;
    } else if (value.ulPropTag == PR_BODY && value.Value.lpszA != nullptr) {
      m_strBody = value.Value.lpszA;
    } else if (value.ulPropTag == PR_IMPORTANCE) {
      m_nImportance = value.Value.l;
    } else if (value.ulPropTag == PR_SENTMAIL_ENTRYID) {
      m_strSentMailEntry =
          EntryIdText(value.Value.bin.cb, reinterpret_cast<const ENTRYID*>(value.Value.bin.lpb));
    } else {
      found.push_back({i, value.ulPropTag, MAPI_E_NO_SUPPORT});
    }
  }
  return ReportProblems(found, problems);
}

HRESULT Message::OpenProperty(ULONG, LPCIID, ULONG, ULONG, IUnknown** out) {
  if (out != nullptr) *out = nullptr;
  return MAPI_E_NO_SUPPORT;
}

HRESULT Message::CreateAttach(LPCIID, ULONG, ULONG* attachmentNumber, IAttach** attach) {
  if (attach == nullptr) return MAPI_E_INVALID_PARAMETER;
  if (m_aAttachments.size() >= 4096) return MAPI_E_NOT_ENOUGH_MEMORY;
  auto data = std::make_shared<AttachmentData>();
  m_aAttachments.push_back(data);
  if (attachmentNumber != nullptr) *attachmentNumber = static_cast<ULONG>(m_aAttachments.size() - 1);
  *attach = new Attachment(m_pStore, data);
  return S_OK;
}

HRESULT Message::ModifyRecipients(ULONG flags, const ADRLIST* mods) {
  if (mods == nullptr || (flags & ~MODRECIP_ADD) != 0) return MAPI_E_INVALID_PARAMETER;
  std::vector<Recipient> added;
  for (ULONG i = 0; i < mods->cEntries; ++i) {
    const ADRENTRY& entry = mods->aEntries[i];
    Recipient recipient{MAPI_TO, std::string(), std::string()};
    for (ULONG p = 0; p < entry.cValues && entry.rgPropVals != nullptr; ++p) {
      const SPropValue& value = entry.rgPropVals[p];
      if (value.ulPropTag == PR_DISPLAY_NAME && value.Value.lpszA != nullptr)
        recipient.name = value.Value.lpszA;
      if (value.ulPropTag == PR_EMAIL_ADDRESS && value.Value.lpszA != nullptr)
        recipient.address = value.Value.lpszA;
      if (value.ulPropTag == PR_RECIPIENT_TYPE) recipient.type = static_cast<ULONG>(value.Value.l);
    }
    // Only resolved entries (with an address the address book checked) can become recipients.
    if (!IsPlainAddress(recipient.address) || recipient.type < MAPI_TO || recipient.type > MAPI_BCC)
      return MAPI_E_INVALID_PARAMETER;
    if (recipient.name == recipient.address) recipient.name.clear();
    added.push_back(recipient);
  }
  m_aRecipients.insert(m_aRecipients.end(), added.begin(), added.end());
  return S_OK;
}

HRESULT Message::Save() {
  if (g_saveFault != S_OK) return g_saveFault;
  OutgoingMessage out;
  out.from = {m_pContext->profile.senderName, m_pContext->profile.senderAddress};
  for (const auto& recipient : m_aRecipients) {
    Mailbox box{recipient.name, recipient.address};
    (recipient.type == MAPI_TO ? out.to : recipient.type == MAPI_CC ? out.cc : out.bcc).push_back(box);
  }
  out.subject = m_strSubject;
  out.body = m_strBody;
  out.highImportance = m_nImportance == static_cast<LONG>(IMPORTANCE_HIGH);
  for (const auto& attachment : m_aAttachments)
    if (attachment->saved) out.attachments.push_back({attachment->dataPath, attachment->fileName});
  std::string tempPath;
  int fd = -1;
  if (m_pStore->CreateTemp(m_eFolder, tempPath, fd) != StoreError::None) return MAPI_E_NO_ACCESS;
  std::string failed;
  const MimeError error = WriteMessage(out, fd, &failed);
  const bool synced = error == MimeError::None && fsync(fd) == 0;
  close(fd);
  if (error != MimeError::None || !synced) {
    unlink(tempPath.c_str());
    Trace(std::string(MimeErrorText(error)) + (failed.empty() ? "" : ": " + failed));
    return error == MimeError::WriteFailed || !synced ? STG_E_MEDIUMFULL : MAPI_E_CALL_FAILED;
  }
  const std::string previous = m_strPlacedPath;
  if (m_pStore->Deliver(m_eFolder, tempPath, m_strPlacedPath) != StoreError::None) {
    unlink(tempPath.c_str());
    return MAPI_E_NO_ACCESS;
  }
  if (!previous.empty() && previous != m_strPlacedPath) unlink(previous.c_str());
  return S_OK;
}

HRESULT Message::SaveChanges(ULONG) {
  if (m_bSubmitted) return MAPI_E_NO_ACCESS;
  return Save();
}

HRESULT Message::SubmitMessage(ULONG) {
  if (m_bSubmitted) return MAPI_E_NO_ACCESS;
  HRESULT hr = m_strPlacedPath.empty() ? Save() : S_OK;
  if (FAILED(hr)) return hr;
  if (m_aRecipients.empty()) {
    Trace("submission refused: the message has no recipients; it stays in the Outbox");
    return MAPI_E_NO_RECIPIENTS;
  }
  std::vector<std::string> envelope;
  for (const auto& recipient : m_aRecipients) envelope.push_back(recipient.address);
  std::string detail;
  const SmtpError error = SendMessageFile(m_pContext->profile, m_pContext->profile.senderAddress, envelope,
                                          m_strPlacedPath, &detail);
  if (error != SmtpError::None) {
    Trace(std::string("submission failed: ") + SmtpErrorText(error) + " (" + detail +
          "); it stays in the Outbox");
    return MAPI_E_NO_RECIPIENTS;
  }
  m_bSubmitted = true;
  if (m_strSentMailEntry == kSentItemsEntry) {
    std::string moved;
    if (m_pStore->Move(m_strPlacedPath, MaildirStore::Folder::SentItems, moved) == StoreError::None)
      m_strPlacedPath = moved;
    else
      Trace("sent, but could not be filed in Sent Items");
  } else {
    unlink(m_strPlacedPath.c_str());
    m_strPlacedPath.clear();
  }
  return S_OK;
}

}  // namespace mapix
