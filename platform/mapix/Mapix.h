// Extended MAPI on Linux: the session, message-store table, store, folder, message, attachment, stream
// and address-book interfaces in their published shapes (HRESULTs, property tags and values, ADRLIST,
// SRowSet, MAPIAllocateBuffer memory). Caller: ExtendedMapi (mail/). The default profile is the mail
// profile file (MailProfile.h); its store is a Maildir (MaildirStore.h) with Outbox and Sent Items; a
// message saved in the Outbox is real MIME (MimeWriter.h) and SubmitMessage sends it by SMTP
// (SmtpClient.h), then files it in Sent Items. A failed submission leaves the message in the Outbox and
// returns MAPI_E_NO_RECIPIENTS (0x80040607), the code callers report as "Failed to SubmitMessage"; the
// reason goes to the debugger output. No dialog is ever shown: MAPI_DIALOG is accepted and ignored.
// Objects are reference counted; each Release that drops the count to zero deletes the object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/base/WinTypes.h"

using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using LPSTR = char*;

// Published HRESULT values.
constexpr HRESULT S_OK = 0;
constexpr HRESULT MAPI_W_ERRORS_RETURNED = 0x00040380;
constexpr HRESULT E_PENDING = static_cast<HRESULT>(0x8000000A);
constexpr HRESULT MAPI_E_INTERFACE_NOT_SUPPORTED = static_cast<HRESULT>(0x80004002);
constexpr HRESULT MAPI_E_CALL_FAILED = static_cast<HRESULT>(0x80004005);
constexpr HRESULT MAPI_E_NO_ACCESS = static_cast<HRESULT>(0x80070005);
constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT MAPI_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057);
constexpr HRESULT MAPI_E_NO_SUPPORT = static_cast<HRESULT>(0x80040102);
constexpr HRESULT MAPI_E_NOT_FOUND = static_cast<HRESULT>(0x8004010F);
constexpr HRESULT MAPI_E_LOGON_FAILED = static_cast<HRESULT>(0x80040111);
constexpr HRESULT MAPI_E_INVALID_TYPE = static_cast<HRESULT>(0x80040302);
constexpr HRESULT MAPI_E_UNEXPECTED_TYPE = static_cast<HRESULT>(0x80040304);
constexpr HRESULT MAPI_E_NOT_INITIALIZED = static_cast<HRESULT>(0x80040605);
constexpr HRESULT MAPI_E_NO_RECIPIENTS = static_cast<HRESULT>(0x80040607);
constexpr HRESULT MAPI_E_AMBIGUOUS_RECIP = static_cast<HRESULT>(0x80040700);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070);

inline bool FAILED(HRESULT hr) {
  return hr < 0;
}
inline bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}

// Property types and tags.
constexpr ULONG PT_UNSPECIFIED = 0x0000;
constexpr ULONG PT_LONG = 0x0003;
constexpr ULONG PT_ERROR = 0x000A;
constexpr ULONG PT_BOOLEAN = 0x000B;
constexpr ULONG PT_STRING8 = 0x001E;
constexpr ULONG PT_BINARY = 0x0102;
constexpr ULONG PROP_TYPE(ULONG tag) {
  return tag & 0xFFFF;
}
constexpr ULONG PROP_ID(ULONG tag) {
  return tag >> 16;
}
constexpr ULONG CHANGE_PROP_TYPE(ULONG tag, ULONG type) {
  return (tag & 0xFFFF0000u) | type;
}

constexpr ULONG PR_IMPORTANCE = 0x00170003;
constexpr ULONG PR_SUBJECT = 0x0037001E;
constexpr ULONG PR_RECIPIENT_TYPE = 0x0C150003;
constexpr ULONG PR_SENTMAIL_ENTRYID = 0x0E0A0102;
constexpr ULONG PR_ENTRYID = 0x0FFF0102;
constexpr ULONG PR_BODY = 0x1000001E;
constexpr ULONG PR_DISPLAY_NAME = 0x3001001E;
constexpr ULONG PR_ADDRTYPE = 0x3002001E;
constexpr ULONG PR_EMAIL_ADDRESS = 0x3003001E;
constexpr ULONG PR_DEFAULT_STORE = 0x340B000B;
constexpr ULONG PR_IPM_OUTBOX_ENTRYID = 0x35E20102;
constexpr ULONG PR_IPM_SENTMAIL_ENTRYID = 0x35E40102;
constexpr ULONG PR_ATTACH_DATA_BIN = 0x37010102;
constexpr ULONG PR_ATTACH_FILENAME = 0x3704001E;
constexpr ULONG PR_ATTACH_METHOD = 0x37050003;
constexpr ULONG PR_RENDERING_POSITION = 0x370B0003;

// Flags.
constexpr ULONG MAPI_LOGON_UI = 0x00000001;
constexpr ULONG MAPI_EXTENDED = 0x00000020;
constexpr ULONG MAPI_USE_DEFAULT = 0x00000040;
constexpr ULONG MAPI_MODIFY = 0x00000001;
constexpr ULONG MAPI_CREATE = 0x00000002;
constexpr ULONG MAPI_DIALOG = 0x00000008;
constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
constexpr ULONG MDB_NO_DIALOG = 0x00000001;
constexpr ULONG AB_NO_DIALOG = 0x00000001;
constexpr ULONG KEEP_OPEN_READONLY = 0x00000001;
constexpr ULONG KEEP_OPEN_READWRITE = 0x00000002;
constexpr ULONG MODRECIP_ADD = 0x00000002;
constexpr ULONG ATTACH_BY_VALUE = 1;
constexpr ULONG MAPI_TO = 1;
constexpr ULONG MAPI_CC = 2;
constexpr ULONG MAPI_BCC = 3;
constexpr ULONG IMPORTANCE_NORMAL = 1;
constexpr ULONG IMPORTANCE_HIGH = 2;
constexpr ULONG MAPI_STORE = 1;
constexpr ULONG MAPI_FOLDER = 3;
constexpr ULONG STGM_READ = 0;
constexpr ULONG STATFLAG_NONAME = 1;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using LPCIID = const IID*;
// {0000000C-0000-0000-C000-000000000046}
extern const IID IID_IStream;

struct SBinary {
  ULONG cb;
  BYTE* lpb;
};

struct ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];
};

union PV {
  short i;
  LONG l;
  ULONG ul;
  unsigned short b;
  LPSTR lpszA;
  SBinary bin;
  SCODE err;
  std::int64_t li;
};

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  PV Value;
};

struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
};
// A tag array of n entries on the stack, as SizedSPropTagArray declares it.
template <ULONG n>
struct SizedSPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[n];
  const SPropTagArray* get() const { return reinterpret_cast<const SPropTagArray*>(this); }
  SPropTagArray* get() { return reinterpret_cast<SPropTagArray*>(this); }
};

struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  SPropValue* lpProps;
};

struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
};

struct ADRENTRY {
  ULONG ulReserved1;
  ULONG cValues;
  SPropValue* rgPropVals;
};

struct ADRLIST {
  ULONG cEntries;
  ADRENTRY aEntries[1];
};
constexpr std::size_t CbNewADRLIST(ULONG entries) {
  return offsetof(ADRLIST, aEntries) + entries * sizeof(ADRENTRY);
}
constexpr std::size_t CbNewSRowSet(ULONG rows) {
  return offsetof(SRowSet, aRow) + rows * sizeof(SRow);
}

struct SPropProblem {
  ULONG ulIndex;
  ULONG ulPropTag;
  SCODE scode;
};

struct SPropProblemArray {
  ULONG cProblem;
  SPropProblem aProblem[1];
};

struct ULARGE_INTEGER {
  std::uint64_t QuadPart;
};

struct STATSTG {
  char* pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
};

class IUnknown {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

class IStream : public IUnknown {
 public:
  virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;
  virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
  // Copies up to size bytes from this stream's position into target, in bounded chunks.
  virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                         ULARGE_INTEGER* written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
};

class IMAPIProp : public IUnknown {
 public:
  virtual HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** props) = 0;
  virtual HRESULT SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) = 0;
  virtual HRESULT SaveChanges(ULONG flags) = 0;
  virtual HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG interfaceOptions, ULONG flags,
                               IUnknown** out) = 0;
};

class IMAPITable : public IUnknown {
 public:
  virtual HRESULT SetColumns(const SPropTagArray* columns, ULONG flags) = 0;
  virtual HRESULT QueryRows(LONG rowCount, ULONG flags, SRowSet** rows) = 0;
};

class IAttach : public IMAPIProp {};

class IMessage : public IMAPIProp {
 public:
  virtual HRESULT CreateAttach(LPCIID iid, ULONG flags, ULONG* attachmentNumber, IAttach** attach) = 0;
  virtual HRESULT ModifyRecipients(ULONG flags, const ADRLIST* mods) = 0;
  virtual HRESULT SubmitMessage(ULONG flags) = 0;
};

class IMAPIFolder : public IMAPIProp {
 public:
  virtual HRESULT CreateMessage(LPCIID iid, ULONG flags, IMessage** message) = 0;
};

class IMsgStore : public IMAPIProp {
 public:
  virtual HRESULT OpenEntry(ULONG entryIdSize, const ENTRYID* entryId, LPCIID iid, ULONG flags,
                            ULONG* objectType, IUnknown** out) = 0;
};

class IAddrBook : public IUnknown {
 public:
  // Resolves each entry's PR_DISPLAY_NAME to an SMTP address: an address, "Name <address>", or a name
  // of the profile's address list (exact, ignoring case). Resolved entries get PR_EMAIL_ADDRESS,
  // PR_ADDRTYPE ("SMTP") and PR_ENTRYID; their old property array is freed, as MAPI does.
  virtual HRESULT ResolveName(ULONG_PTR uiParam, ULONG flags, LPSTR newEntryTitle, ADRLIST* list) = 0;
};

class IMAPISession : public IUnknown {
 public:
  virtual HRESULT GetMsgStoresTable(ULONG flags, IMAPITable** table) = 0;
  virtual HRESULT OpenMsgStore(ULONG_PTR uiParam, ULONG entryIdSize, const ENTRYID* entryId, LPCIID iid,
                               ULONG flags, IMsgStore** store) = 0;
  virtual HRESULT OpenAddressBook(ULONG_PTR uiParam, LPCIID iid, ULONG flags, IAddrBook** book) = 0;
  virtual HRESULT Logoff(ULONG_PTR uiParam, ULONG flags, ULONG reserved) = 0;
};

struct MAPIINIT_0 {
  ULONG ulVersion;
  ULONG ulFlags;
};

using LPALLOCATEBUFFER = SCODE (*)(ULONG size, void** buffer);
using LPALLOCATEMORE = SCODE (*)(ULONG size, void* link, void** buffer);
using LPFREEBUFFER = ULONG (*)(void* buffer);

HRESULT MAPIInitialize(void* init);
void MAPIUninitialize();
// The profile name must be null or empty (the default profile: MAPI_USE_DEFAULT); the password is not
// used (the profile names its own source). No profile, or one that does not check: MAPI_E_LOGON_FAILED.
HRESULT MAPILogonEx(ULONG_PTR uiParam, const char* profileName, const char* password, ULONG flags,
                    IMAPISession** session);
SCODE MAPIAllocateBuffer(ULONG size, void** buffer);
SCODE MAPIAllocateMore(ULONG size, void* link, void** buffer);
// Frees a MAPIAllocateBuffer block with everything MAPIAllocateMore linked to it.
ULONG MAPIFreeBuffer(void* buffer);
void FreeProws(SRowSet* rows);
void FreePadrlist(ADRLIST* list);
// A read stream on a file (STGM_READ); MAPI_E_NOT_FOUND when it is missing, MAPI_E_NO_ACCESS when it
// cannot be read.
HRESULT OpenStreamOnFile(LPALLOCATEBUFFER allocate, LPFREEBUFFER release, ULONG flags, const char* fileName,
                         const char* prefix, IStream** stream);

namespace mapix {
// Test seam: the next SaveChanges of an attachment or message fails with this code (0: no fault).
void SetSaveFaultForTest(HRESULT code);
}  // namespace mapix
