// Initialisation, logon, the session with its message-store table and address book, and file streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/debugout/DebugOut.h"
#include "platform/mapix/MapiObjects.h"

const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace mapix {

namespace {

std::atomic<int> g_initialized{0};

}  // namespace

const char* const kOutboxEntry = "marlin3:folder:Outbox";
const char* const kSentItemsEntry = "marlin3:folder:Sent Items";

void Trace(const std::string& text) {
  OutputDebugStringA(("mapix: " + text + "\n").c_str());
}

std::vector<BYTE> MakeEntryId(const std::string& text) {
  std::vector<BYTE> bytes(4 + text.size(), 0);
  if (!text.empty()) std::memcpy(bytes.data() + 4, text.data(), text.size());
  return bytes;
}

std::string EntryIdText(ULONG size, const ENTRYID* id) {
  if (id == nullptr || size < 4) return std::string();
  return std::string(reinterpret_cast<const char*>(id->ab), size - 4);
}

std::string StoreEntryText(const ProfileContext& context) {
  return "marlin3:store:" + context.profile.storeFolder;
}

HRESULT CopyString(const std::string& text, void* root, LPSTR* out) {
  void* buffer = nullptr;
  const HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(text.size() + 1), root, &buffer);
  if (FAILED(hr)) return hr;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *out = static_cast<LPSTR>(buffer);
  return S_OK;
}

HRESULT CopyBinary(const std::vector<BYTE>& bytes, void* root, SBinary* out) {
  void* buffer = nullptr;
  const HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(bytes.size()), root, &buffer);
  if (FAILED(hr)) return hr;
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
  out->cb = static_cast<ULONG>(bytes.size());
  out->lpb = static_cast<BYTE*>(buffer);
  return S_OK;
}

// ---- streams

FileStream::FileStream(int fd, bool writable) : m_nFd(fd), m_bWritable(writable) {}

FileStream::~FileStream() {
  if (m_nFd >= 0) close(m_nFd);
}

HRESULT FileStream::Read(void* buffer, ULONG size, ULONG* read) {
  if (read != nullptr) *read = 0;
  if (buffer == nullptr && size > 0) return MAPI_E_INVALID_PARAMETER;
  ULONG done = 0;
  while (done < size) {
    const ssize_t got = ::read(m_nFd, static_cast<char*>(buffer) + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return MAPI_E_CALL_FAILED;
    if (got == 0) break;
    done += static_cast<ULONG>(got);
  }
  if (read != nullptr) *read = done;
  return S_OK;
}

HRESULT FileStream::Write(const void* buffer, ULONG size, ULONG* written) {
  if (written != nullptr) *written = 0;
  if (!m_bWritable) return MAPI_E_NO_ACCESS;
  ULONG done = 0;
  while (done < size) {
    const ssize_t put = ::write(m_nFd, static_cast<const char*>(buffer) + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0)
      return (put < 0 && (errno == ENOSPC || errno == EDQUOT)) ? STG_E_MEDIUMFULL : MAPI_E_CALL_FAILED;
    done += static_cast<ULONG>(put);
  }
  if (written != nullptr) *written = done;
  return S_OK;
}

HRESULT FileStream::Stat(STATSTG* stat, DWORD flags) {
  if (stat == nullptr) return static_cast<HRESULT>(0x80030009);  // STG_E_INVALIDPOINTER
  struct stat info {};
  if (fstat(m_nFd, &info) != 0) return MAPI_E_CALL_FAILED;
  stat->pwcsName = nullptr;
  stat->type = 2;  // STGTY_STREAM
  stat->cbSize.QuadPart = static_cast<std::uint64_t>(info.st_size);
  return S_OK;
}

HRESULT FileStream::CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                           ULARGE_INTEGER* written) {
  if (target == nullptr) return MAPI_E_INVALID_PARAMETER;
  // Bounded chunks: a file of any size passes through 64 KiB of memory.
  std::vector<char> chunk(64 * 1024);
  std::uint64_t left = size.QuadPart;
  std::uint64_t totalRead = 0;
  std::uint64_t totalWritten = 0;
  HRESULT result = S_OK;
  while (left > 0) {
    const ULONG want = static_cast<ULONG>(std::min<std::uint64_t>(left, chunk.size()));
    ULONG got = 0;
    result = Read(chunk.data(), want, &got);
    if (FAILED(result) || got == 0) break;
    totalRead += got;
    ULONG put = 0;
    result = target->Write(chunk.data(), got, &put);
    totalWritten += put;
    if (FAILED(result)) break;
    left -= got;
  }
  if (read != nullptr) read->QuadPart = totalRead;
  if (written != nullptr) written->QuadPart = totalWritten;
  return result;
}

HRESULT FileStream::Commit(DWORD) {
  return S_OK;
}

// ---- session

MapiSession::MapiSession(std::shared_ptr<ProfileContext> context) : m_pContext(std::move(context)) {}

HRESULT MapiSession::GetMsgStoresTable(ULONG, IMAPITable** table) {
  if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
  *table = new StoresTable(m_pContext);
  return S_OK;
}

HRESULT MapiSession::OpenMsgStore(ULONG_PTR, ULONG entryIdSize, const ENTRYID* entryId, LPCIID, ULONG,
                                  IMsgStore** store) {
  if (store == nullptr) return MAPI_E_INVALID_PARAMETER;
  *store = nullptr;
  if (!m_pContext->profile.hasStore || EntryIdText(entryIdSize, entryId) != StoreEntryText(*m_pContext))
    return MAPI_E_NOT_FOUND;
  auto maildir = std::make_shared<MaildirStore>(m_pContext->profile.storeFolder);
  const StoreError error = maildir->Open();
  if (error != StoreError::None) {
    Trace(std::string(StoreErrorText(error)) + ": " + maildir->Root());
    return MAPI_E_NO_ACCESS;
  }
  *store = new MsgStore(m_pContext, maildir);
  return S_OK;
}

HRESULT MapiSession::OpenAddressBook(ULONG_PTR, LPCIID, ULONG, IAddrBook** book) {
  if (book == nullptr) return MAPI_E_INVALID_PARAMETER;
  *book = new AddressBook(m_pContext);
  return S_OK;
}

HRESULT MapiSession::Logoff(ULONG_PTR, ULONG, ULONG) {
  return S_OK;
}

// ---- message-store table

StoresTable::StoresTable(std::shared_ptr<ProfileContext> context)
    : m_pContext(std::move(context)), m_aColumns{PR_DEFAULT_STORE, PR_DISPLAY_NAME, PR_ENTRYID} {}

HRESULT StoresTable::SetColumns(const SPropTagArray* columns, ULONG) {
  if (columns == nullptr || columns->cValues == 0 || columns->cValues > 64) return MAPI_E_INVALID_PARAMETER;
  m_aColumns.assign(columns->aulPropTag, columns->aulPropTag + columns->cValues);
  return S_OK;
}

HRESULT StoresTable::QueryRows(LONG rowCount, ULONG, SRowSet** rows) {
  if (rows == nullptr || rowCount < 0) return MAPI_E_INVALID_PARAMETER;
  *rows = nullptr;
  const ULONG available = m_pContext->profile.hasStore ? 1 : 0;
  const ULONG count =
      std::min<ULONG>(static_cast<ULONG>(rowCount), available - std::min(available, m_nPosition));
  void* buffer = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(count == 0 ? 1 : count)), &buffer);
  if (FAILED(hr)) return hr;
  auto* set = static_cast<SRowSet*>(buffer);
  set->cRows = 0;
  for (ULONG r = 0; r < count; ++r) {
    void* props = nullptr;
    hr = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * m_aColumns.size()), &props);
    if (FAILED(hr)) {
      FreeProws(set);
      return hr;
    }
    auto* values = static_cast<SPropValue*>(props);
    for (std::size_t c = 0; c < m_aColumns.size() && SUCCEEDED(hr); ++c) {
      values[c].ulPropTag = m_aColumns[c];
      if (m_aColumns[c] == PR_DEFAULT_STORE) {
        values[c].Value.b = 1;
      } else if (m_aColumns[c] == PR_DISPLAY_NAME) {
        hr = CopyString("Mail (" + m_pContext->profile.storeFolder + ")", props, &values[c].Value.lpszA);
      } else if (m_aColumns[c] == PR_ENTRYID) {
        hr = CopyBinary(MakeEntryId(StoreEntryText(*m_pContext)), props, &values[c].Value.bin);
      } else {
        values[c].ulPropTag = CHANGE_PROP_TYPE(m_aColumns[c], PT_ERROR);
        values[c].Value.err = MAPI_E_NOT_FOUND;
      }
    }
    set->aRow[r].ulAdrEntryPad = 0;
    set->aRow[r].cValues = static_cast<ULONG>(m_aColumns.size());
    set->aRow[r].lpProps = values;
    set->cRows = r + 1;
    if (FAILED(hr)) {
      FreeProws(set);
      return hr;
    }
  }
  m_nPosition += count;
  *rows = set;
  return S_OK;
}

// ---- address book

AddressBook::AddressBook(std::shared_ptr<ProfileContext> context) : m_pContext(std::move(context)) {}

HRESULT AddressBook::ResolveName(ULONG_PTR, ULONG, LPSTR, ADRLIST* list) {
  if (list == nullptr) return MAPI_E_INVALID_PARAMETER;
  bool unresolved = false;
  bool ambiguous = false;
  for (ULONG i = 0; i < list->cEntries; ++i) {
    ADRENTRY& entry = list->aEntries[i];
    const char* display = nullptr;
    LONG type = MAPI_TO;
    bool resolved = false;
    for (ULONG p = 0; p < entry.cValues && entry.rgPropVals != nullptr; ++p) {
      const SPropValue& value = entry.rgPropVals[p];
      if (value.ulPropTag == PR_DISPLAY_NAME) display = value.Value.lpszA;
      if (value.ulPropTag == PR_RECIPIENT_TYPE) type = value.Value.l;
      if (value.ulPropTag == PR_ENTRYID) resolved = true;
    }
    if (resolved) continue;
    std::string name;
    std::string address;
    const Resolution result = display == nullptr
                                  ? Resolution::Unknown
                                  : ResolveRecipient(&m_pContext->profile, display, false, name, address);
    if (result != Resolution::Resolved) {
      (result == Resolution::Ambiguous ? ambiguous : unresolved) = true;
      Trace(std::string(result == Resolution::Ambiguous ? "ambiguous" : "unknown") + " recipient name");
      continue;
    }
    void* root = nullptr;
    HRESULT hr = MAPIAllocateBuffer(sizeof(SPropValue) * 5, &root);
    if (FAILED(hr)) return hr;
    auto* values = static_cast<SPropValue*>(root);
    values[0].ulPropTag = PR_DISPLAY_NAME;
    hr = CopyString(name.empty() ? address : name, root, &values[0].Value.lpszA);
    values[1].ulPropTag = PR_RECIPIENT_TYPE;
    values[1].Value.l = type;
    values[2].ulPropTag = PR_EMAIL_ADDRESS;
    if (SUCCEEDED(hr)) hr = CopyString(address, root, &values[2].Value.lpszA);
    values[3].ulPropTag = PR_ADDRTYPE;
    if (SUCCEEDED(hr)) hr = CopyString("SMTP", root, &values[3].Value.lpszA);
    values[4].ulPropTag = PR_ENTRYID;
    if (SUCCEEDED(hr)) hr = CopyBinary(MakeEntryId("SMTP:" + address), root, &values[4].Value.bin);
    if (FAILED(hr)) {
      MAPIFreeBuffer(root);
      return hr;
    }
    MAPIFreeBuffer(entry.rgPropVals);
    entry.rgPropVals = values;
    entry.cValues = 5;
  }
  if (ambiguous) return MAPI_E_AMBIGUOUS_RECIP;
  if (unresolved) return MAPI_E_NOT_FOUND;
  return S_OK;
}

}  // namespace mapix

using namespace mapix;

HRESULT MAPIInitialize(void*) {
  ++g_initialized;
  return S_OK;
}

void MAPIUninitialize() {
  if (g_initialized > 0) --g_initialized;
}

HRESULT MAPILogonEx(ULONG_PTR, const char* profileName, const char*, ULONG flags, IMAPISession** session) {
  if (session == nullptr) return MAPI_E_INVALID_PARAMETER;
  *session = nullptr;
  if (g_initialized <= 0) return MAPI_E_NOT_INITIALIZED;
  if ((flags & MAPI_EXTENDED) == 0) return MAPI_E_INVALID_PARAMETER;
  if (profileName != nullptr && profileName[0] != '\0') {
    Trace("only the default profile exists");
    return MAPI_E_LOGON_FAILED;
  }
  auto context = std::make_shared<ProfileContext>();
  const std::string path = DefaultProfilePath();
  int line = 0;
  const ProfileError error = LoadProfile(path, context->profile, &line);
  if (error != ProfileError::None) {
    Trace(path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + ProfileErrorText(error));
    return MAPI_E_LOGON_FAILED;
  }
  *session = new MapiSession(context);
  return S_OK;
}

HRESULT OpenStreamOnFile(LPALLOCATEBUFFER, LPFREEBUFFER, ULONG flags, const char* fileName, const char*,
                         IStream** stream) {
  if (stream == nullptr || fileName == nullptr) return MAPI_E_INVALID_PARAMETER;
  *stream = nullptr;
  if (flags != STGM_READ) return MAPI_E_NO_SUPPORT;
  const int fd = open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? MAPI_E_NOT_FOUND : MAPI_E_NO_ACCESS;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return MAPI_E_NO_ACCESS;
  }
  *stream = new FileStream(fd, false);
  return S_OK;
}
