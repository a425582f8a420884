// The objects behind the Extended MAPI interfaces of Mapix.h (internal to platform/mapix): one
// reference-counted class per interface, and the profile context they share. A session, its store,
// folders and messages keep the context alive through shared ownership, so releasing them in any
// order is safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/mapix/MailProfile.h"
#include "platform/mapix/MaildirStore.h"
#include "platform/mapix/Mapix.h"

namespace mapix {

struct ProfileContext {
  MailProfile profile;
};

template <class Interface>
class RefCounted : public Interface {
 public:
  ULONG AddRef() override { return ++m_nRefs; }
  ULONG Release() override {
    const ULONG left = --m_nRefs;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG m_nRefs = 1;
};

// Reasons for failures, to the debugger output (the caller logs the HRESULT).
void Trace(const std::string& text);

// Entry identifiers: four zero flag bytes and a text.
std::vector<BYTE> MakeEntryId(const std::string& text);
std::string EntryIdText(ULONG size, const ENTRYID* id);
extern const char* const kOutboxEntry;
extern const char* const kSentItemsEntry;
std::string StoreEntryText(const ProfileContext& context);

// Copies into MAPI memory linked to root (MAPIAllocateMore).
HRESULT CopyString(const std::string& text, void* root, LPSTR* out);
HRESULT CopyBinary(const std::vector<BYTE>& bytes, void* root, SBinary* out);

class FileStream : public RefCounted<IStream> {
 public:
  // Takes the descriptor.
  FileStream(int fd, bool writable);
  HRESULT Read(void* buffer, ULONG size, ULONG* read) override;
  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override;
  HRESULT Stat(STATSTG* stat, DWORD flags) override;
  HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                 ULARGE_INTEGER* written) override;
  HRESULT Commit(DWORD flags) override;

 private:
  ~FileStream() override;
  int m_nFd;
  bool m_bWritable;
};

class MapiSession : public RefCounted<IMAPISession> {
 public:
  explicit MapiSession(std::shared_ptr<ProfileContext> context);
  HRESULT GetMsgStoresTable(ULONG flags, IMAPITable** table) override;
  HRESULT OpenMsgStore(ULONG_PTR uiParam, ULONG entryIdSize, const ENTRYID* entryId, LPCIID iid, ULONG flags,
                       IMsgStore** store) override;
  HRESULT OpenAddressBook(ULONG_PTR uiParam, LPCIID iid, ULONG flags, IAddrBook** book) override;
  HRESULT Logoff(ULONG_PTR uiParam, ULONG flags, ULONG reserved) override;

 private:
  std::shared_ptr<ProfileContext> m_pContext;
};

class StoresTable : public RefCounted<IMAPITable> {
 public:
  explicit StoresTable(std::shared_ptr<ProfileContext> context);
  HRESULT SetColumns(const SPropTagArray* columns, ULONG flags) override;
  HRESULT QueryRows(LONG rowCount, ULONG flags, SRowSet** rows) override;

 private:
  std::shared_ptr<ProfileContext> m_pContext;
  std::vector<ULONG> m_aColumns;
  ULONG m_nPosition = 0;
};

class AddressBook : public RefCounted<IAddrBook> {
 public:
  explicit AddressBook(std::shared_ptr<ProfileContext> context);
  HRESULT ResolveName(ULONG_PTR uiParam, ULONG flags, LPSTR newEntryTitle, ADRLIST* list) override;

 private:
  std::shared_ptr<ProfileContext> m_pContext;
};

// A property object that only answers GetProps from a fixed list; the rest is not supported.
class MsgStore : public RefCounted<IMsgStore> {
 public:
  MsgStore(std::shared_ptr<ProfileContext> context, std::shared_ptr<MaildirStore> store);
  HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** props) override;
  HRESULT SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) override;
  HRESULT SaveChanges(ULONG flags) override;
  HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG interfaceOptions, ULONG flags, IUnknown** out) override;
  HRESULT OpenEntry(ULONG entryIdSize, const ENTRYID* entryId, LPCIID iid, ULONG flags, ULONG* objectType,
                    IUnknown** out) override;

 private:
  std::shared_ptr<ProfileContext> m_pContext;
  std::shared_ptr<MaildirStore> m_pStore;
};

class MailFolder : public RefCounted<IMAPIFolder> {
 public:
  MailFolder(std::shared_ptr<ProfileContext> context, std::shared_ptr<MaildirStore> store,
             MaildirStore::Folder folder);
  HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** props) override;
  HRESULT SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) override;
  HRESULT SaveChanges(ULONG flags) override;
  HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG interfaceOptions, ULONG flags, IUnknown** out) override;
  HRESULT CreateMessage(LPCIID iid, ULONG flags, IMessage** message) override;

 private:
  std::shared_ptr<ProfileContext> m_pContext;
  std::shared_ptr<MaildirStore> m_pStore;
  MaildirStore::Folder m_eFolder;
};

// What an attachment holds; shared between the attachment object and its message.
struct AttachmentData {
  std::string dataPath;  // the PR_ATTACH_DATA_BIN bytes, a private file beside the store
  std::string fileName;
  LONG method = 0;
  LONG position = -1;
  bool saved = false;
  ~AttachmentData();
};

class Attachment : public RefCounted<IAttach> {
 public:
  Attachment(std::shared_ptr<MaildirStore> store, std::shared_ptr<AttachmentData> data);
  HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** props) override;
  HRESULT SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) override;
  HRESULT SaveChanges(ULONG flags) override;
  HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG interfaceOptions, ULONG flags, IUnknown** out) override;

 private:
  std::shared_ptr<MaildirStore> m_pStore;
  std::shared_ptr<AttachmentData> m_pData;
};

class Message : public RefCounted<IMessage> {
 public:
  Message(std::shared_ptr<ProfileContext> context, std::shared_ptr<MaildirStore> store,
          MaildirStore::Folder folder);
  HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** props) override;
  HRESULT SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) override;
  HRESULT SaveChanges(ULONG flags) override;
  HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG interfaceOptions, ULONG flags, IUnknown** out) override;
  HRESULT CreateAttach(LPCIID iid, ULONG flags, ULONG* attachmentNumber, IAttach** attach) override;
  HRESULT ModifyRecipients(ULONG flags, const ADRLIST* mods) override;
  HRESULT SubmitMessage(ULONG flags) override;

 private:
  struct Recipient {
    ULONG type;
    std::string name;
    std::string address;
  };

  HRESULT Save();

  std::shared_ptr<ProfileContext> m_pContext;
  std::shared_ptr<MaildirStore> m_pStore;
  MaildirStore::Folder m_eFolder;
  std::string m_strSubject;
  std::string m_strBody;
  LONG m_nImportance = IMPORTANCE_NORMAL;
  std::string m_strSentMailEntry;
  std::vector<Recipient> m_aRecipients;
  std::vector<std::shared_ptr<AttachmentData>> m_aAttachments;
  std::string m_strPlacedPath;  // the saved message in its folder's new/
  bool m_bSubmitted = false;
};

}  // namespace mapix
