#include "mail/ExtendedMapi.h"

#include <cstring>

#include "log/DebugTrace.h"
#include "mail/MailText.h"
#include "platform/mapix/DefaultOutbox.h"

namespace {

template <class T>
void ReleaseObject(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// The road to the Outbox: true when the step was done, else its log line (numbered, as every step's).
bool Reached(mapix::OutboxStep step, DebugTrace& trace) {
  using mapix::OutboxStep;
  static constexpr struct {
    OutboxStep step;
    const char* text;
  } kTexts[] = {
      {OutboxStep::kInitialize, "MAPIInitialize failed"},
      {OutboxStep::kLogon, "MAPILogonEx failed"},
      {OutboxStep::kStoresTable, "GetmsgStoresTable failed"},
      {OutboxStep::kColumns, "Trouble in SetColumns()"},
      {OutboxStep::kQueryRows, "QueryRows() failed"},
      {OutboxStep::kNoDefaultStore, "Something about rows is bad!"},
      {OutboxStep::kOpenStore, "Trouble in OpenMsgStore()"},
      {OutboxStep::kOutboxId, "Trouble in GetProps() for Outbox for m_pMessageStore"},
      {OutboxStep::kOpenOutbox, "Trouble in OpenEntry()"},
  };
  if (step == OutboxStep::kDone) return true;
  for (const auto& entry : kTexts)
    if (entry.step == step) trace.Error(TRACE_NUMBERED(entry.text));
  return false;
}

}  // namespace

ExtendedMapi::ExtendedMapi(HWND window, const std::string& profile, const std::string& password, ULONG flags)
    : m_hWnd(window), m_strProfile(profile), m_strPassword(password), m_nFlags(flags) {}

ExtendedMapi::~ExtendedMapi() {
  DebugTrace trace("Destructor", __FILE__);
  ReleaseObject(m_pStoresTable);
  ReleaseObject(m_pSession);
  ReleaseObject(m_pMsgStore);
  ReleaseObject(m_pOutbox);
  ReleaseObject(m_pMessage);
  ReleaseObject(m_pAddrBook);
  if (m_pAddrList != nullptr) FreePadrlist(m_pAddrList);
  m_pAddrList = nullptr;
  ReleaseObject(m_pPropStream);
  ReleaseObject(m_pFileStream);
  ReleaseObject(m_pAttach);
  if (m_bInitialized) MAPIUninitialize();
  // The password is not kept past the object.
  std::fill(m_strPassword.begin(), m_strPassword.end(), '\0');
}

bool ExtendedMapi::SendMail(const std::string& to, const std::string& cc, const std::string& bcc,
                            const std::string& subject, const std::string& note,
                            const std::vector<std::string>& paths, const std::vector<std::string>&,
                            bool highImportance) {
  DebugTrace trace("SendMail", __FILE__);
  if (!m_bLoggedOn && !Logon()) {
    trace.Error(TRACE_NUMBERED("Can't logon"));
    return false;
  }
  if (!OpenStores() || !OpenOutbox()) {
    trace.Error(TRACE_NUMBERED("Trouble opening stores"));
    return false;
  }
  ReleaseObject(m_pMessage);
  HRESULT hr = m_pOutbox->CreateMessage(nullptr, 0, &m_pMessage);
  if (FAILED(hr)) {
    trace.Error(TRACE_NUMBERED("Trouble in CreateMessage()"));
    return false;
  }
  if (!SetupAddressPerType(to, MAPI_TO)) {
    trace.Error(TRACE_NUMBERED("Trouble parsing To string"));
    return false;
  }
  if (!SetupAddressPerType(cc, MAPI_CC)) {
    trace.Error(TRACE_NUMBERED("Trouble parsing Cc string"));
    return false;
  }
  if (!SetupAddressPerType(bcc, MAPI_BCC)) {
    trace.Error(TRACE_NUMBERED("Trouble parsing Bcc string"));
    return false;
  }
  if (m_nRecipCount > 0) {
    ReleaseObject(m_pAddrBook);
    hr =
        m_pSession->OpenAddressBook(reinterpret_cast<ULONG_PTR>(m_hWnd), nullptr, AB_NO_DIALOG, &m_pAddrBook);
    if (FAILED(hr)) {
      trace.Error(TRACE_NUMBERED("Trouble in OpenAddressBook()"));
      return false;
    }
    if (!SetupAddresses()) {
      trace.Error(TRACE_NUMBERED("Trouble setting up the addresses"));
      return false;
    }
    hr = m_pMessage->ModifyRecipients(MODRECIP_ADD, m_pAddrList);
    if (FAILED(hr)) {
      trace.Error(TRACE_NUMBERED("Trouble in ModifyRecipients()"));
      return false;
    }
  }
  if (!SetupAttachments(paths)) {
    trace.Error(TRACE_NUMBERED("Trouble setting up attachments"));
    return false;
  }
  if (!SetupOtherProps(note, subject, highImportance)) {
    trace.Error(TRACE_NUMBERED("Trouble setting up other properties"));
    return false;
  }
  hr = m_pMessage->SaveChanges(KEEP_OPEN_READWRITE);
  if (FAILED(hr)) {
    // A message that could not be saved is not submitted.
    LogError(hr);
    trace.Error(TRACE_NUMBERED("Trouble in SaveChanges()"));
    return false;
  }
  if (!SendMailMessage()) {
    trace.Error(TRACE_NUMBERED("SendMailMessage() Failed"));
    return false;
  }
  return true;
}

bool ExtendedMapi::Logon() {
  DebugTrace trace("Logon", __FILE__);
  m_bLoggedOn = Reached(
      mapix::LogonDefault(reinterpret_cast<ULONG_PTR>(m_hWnd), m_strProfile.c_str(), m_strPassword.c_str(),
                          m_nFlags, m_bInitialized, m_pSession, m_pStoresTable),
      trace);
  return m_bLoggedOn;
}

bool ExtendedMapi::OpenStores() {
  DebugTrace trace("OpenStores", __FILE__);
  return Reached(
      mapix::OpenDefaultStore(m_pSession, m_pStoresTable, reinterpret_cast<ULONG_PTR>(m_hWnd), m_pMsgStore),
      trace);
}

bool ExtendedMapi::OpenOutbox() {
  DebugTrace trace("OpenOutbox", __FILE__);
  return Reached(mapix::OpenOutboxFolder(m_pMsgStore, m_pOutbox), trace);
}

bool ExtendedMapi::SetupAddressPerType(const std::string& text, ULONG type) {
  DebugTrace trace("SetupAddressPerType", __FILE__);
  if (text.empty()) return true;
  for (const std::string& piece : mailtext::SplitAddresses(text)) {
    if (m_nRecipCount >= kMaxRecipients) {
      trace.Write("Too many addresses, ignoring additional ones");
      break;
    }
    // A cut address would be someone else's: the whole text is refused instead.
    if (piece.size() >= kTextSize) {
      trace.Error(TRACE_NUMBERED("Address longer than 259 characters"));
      return false;
    }
    Recipient& entry = m_aRecips[m_nRecipCount++];
    mailtext::CopyCut(piece, entry.szName, sizeof entry.szName);
    entry.ulType = type;
  }
  return true;
}

bool ExtendedMapi::SetupAddresses() {
  DebugTrace trace("SetupAddresses", __FILE__);
  if (m_pAddrList != nullptr) FreePadrlist(m_pAddrList);
  m_pAddrList = nullptr;
  void* buffer = nullptr;
  if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(m_nRecipCount)), &buffer))) {
    trace.Error(TRACE_NUMBERED("Failed getting memory for address list array"));
    return false;
  }
  m_pAddrList = static_cast<ADRLIST*>(buffer);
  std::memset(m_pAddrList, 0, CbNewADRLIST(m_nRecipCount));
  m_pAddrList->cEntries = static_cast<ULONG>(m_nRecipCount);
  for (int i = 0; i < m_nRecipCount; ++i) {
    void* values = nullptr;
    if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue) * 2, &values))) {
      trace.Error(TRACE_NUMBERED("Failed getting memory for prop value array"));
      return false;
    }
    auto* props = static_cast<SPropValue*>(values);
    props[0].ulPropTag = PR_DISPLAY_NAME;
    props[0].Value.lpszA = m_aRecips[i].szName;
    props[1].ulPropTag = PR_RECIPIENT_TYPE;
    props[1].Value.l = static_cast<LONG>(m_aRecips[i].ulType);
    m_pAddrList->aEntries[i].ulReserved1 = 0;
    m_pAddrList->aEntries[i].cValues = 2;
    m_pAddrList->aEntries[i].rgPropVals = props;
  }
  const HRESULT hr =
      m_pAddrBook->ResolveName(reinterpret_cast<ULONG_PTR>(m_hWnd), MAPI_DIALOG, nullptr, m_pAddrList);
  if (FAILED(hr)) {
    trace.Error(TRACE_NUMBERED("Trouble resolving recipient names"));
    return false;
  }
  return true;
}

bool ExtendedMapi::SetupAttachments(const std::vector<std::string>& paths) {
  DebugTrace trace("SetupAttachments", __FILE__);
  for (const std::string& path : paths) {
    HRESULT hr = OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, path.c_str(), nullptr,
                                  &m_pFileStream);
    if (FAILED(hr)) {
      LogError(hr);
      return false;
    }
    ULONG number = 0;
    hr = m_pMessage->CreateAttach(nullptr, 0, &number, &m_pAttach);
    if (FAILED(hr)) {
      trace.Error(TRACE_NUMBERED("Trouble creating attachment"));
      LogError(hr);
      return false;
    }
    IUnknown* stream = nullptr;
    hr = m_pAttach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &stream);
    if (FAILED(hr)) {
      LogError(hr);
      return false;
    }
    m_pPropStream = static_cast<IStream*>(stream);
    STATSTG stat{};
    hr = m_pFileStream->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) hr = m_pFileStream->CopyTo(m_pPropStream, stat.cbSize, nullptr, nullptr);
    if (FAILED(hr)) {
      LogError(hr);
      return false;
    }
    // The name shown is the path's last part.
    std::string fileName =
        path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    SPropValue props[3] = {};
    props[0].ulPropTag = PR_ATTACH_FILENAME;
    props[0].Value.lpszA = fileName.data();
    props[1].ulPropTag = PR_ATTACH_METHOD;
    props[1].Value.l = ATTACH_BY_VALUE;
    props[2].ulPropTag = PR_RENDERING_POSITION;
    props[2].Value.l = -1;
    SPropProblemArray* problems = nullptr;
    hr = m_pAttach->SetProps(3, props, &problems);
    if (problems != nullptr) {
      for (ULONG i = 0; i < problems->cProblem; ++i)
        LogError(problems->aProblem[i].scode, "Error in SetProps(): ");
      MAPIFreeBuffer(problems);
    } else if (FAILED(hr)) {
      LogError(hr, "Error in SetProps(): ");
    }
    hr = m_pAttach->SaveChanges(KEEP_OPEN_READWRITE);
    if (FAILED(hr)) {
      trace.Error(TRACE_NUMBERED("Trouble saving attachment changes"));
      LogError(hr);
      return false;
    }
    ReleaseObject(m_pPropStream);
    ReleaseObject(m_pFileStream);
    ReleaseObject(m_pAttach);
  }
  return true;
}

bool ExtendedMapi::SetupOtherProps(const std::string& note, const std::string& subject, bool highImportance) {
  DebugTrace trace("SetupOtherProps", __FILE__);
  void* buffer = nullptr;
  if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue) * 4, &buffer))) {
    trace.Error(TRACE_NUMBERED("Problem allocating buffer in SetupOtherProps"));
    return false;
  }
  auto* props = static_cast<SPropValue*>(buffer);
  if (!mailtext::CopyCut(note, m_szBody, sizeof m_szBody))
    trace.Write("Note text longer than 259 characters was cut");
  if (!mailtext::CopyCut(subject, m_szSubject, sizeof m_szSubject))
    trace.Write("Subject longer than 259 characters was cut");
  props[0].ulPropTag = PR_BODY;
  props[0].Value.lpszA = m_szBody;
  props[1].ulPropTag = PR_SUBJECT;
  props[1].Value.lpszA = m_szSubject;
  SizedSPropTagArray<1> tags = {1, {PR_IPM_SENTMAIL_ENTRYID}};
  ULONG count = 0;
  SPropValue* sent = nullptr;
  HRESULT hr = m_pMsgStore->GetProps(tags.get(), 0, &count, &sent);
  if (FAILED(hr) || count != 1 || sent[0].ulPropTag != PR_IPM_SENTMAIL_ENTRYID) {
    trace.Error(TRACE_NUMBERED("Trouble in GetProps() for sentMail for m_pMessageStore"));
    MAPIFreeBuffer(sent);
    MAPIFreeBuffer(props);
    return false;
  }
  props[2].ulPropTag = PR_SENTMAIL_ENTRYID;
  props[2].Value.bin = sent[0].Value.bin;
  props[3].ulPropTag = PR_IMPORTANCE;
  props[3].Value.l = highImportance ? IMPORTANCE_HIGH : IMPORTANCE_NORMAL;
  hr = m_pMessage->SetProps(4, props, nullptr);
  MAPIFreeBuffer(sent);
  MAPIFreeBuffer(props);
  if (FAILED(hr)) {
    trace.Error(TRACE_NUMBERED("Trouble setting Subject properties"));
    return false;
  }
  return true;
}

bool ExtendedMapi::SendMailMessage() {
  DebugTrace trace("SendMailMessage", __FILE__);
  const HRESULT hr = m_pMessage->SubmitMessage(0);
  if (FAILED(hr)) {
    LogError(hr);
    return false;
  }
  return true;
}

std::string ExtendedMapi::ErrorText(HRESULT code) {
  switch (static_cast<std::uint32_t>(code)) {
    case 0x8000000A:
      return "E_PENDING";
    case 0x80004002:
      return "The requested interface is not supported for this property.";
    case 0x80030005:
      return "The caller does not have enough permissions for accessing statistics for this storage object.";
    case 0x80030008:
      return "The STATSTG structure was not returned due to a lack of memory.";
    case 0x80030009:
      return "The pStatStg pointer is not valid. The value of one of the pointer parameters is not valid.";
    case 0x80030070:
      return "The stream is not copied because there is no space left on the storage device.";
    case 0x800300FF:
      return "The value for the grfStateFlag parameter is not valid.";
    case 0x80030102:
      return "STG_E_REVERTED";
    case 0x80040102:
      return "The object cannot provide access to this property through the requested interface.";
    case 0x80040103:
      return "Either the MAPI_UNICODE flag was set and the implementation does not support Unicode, or "
             "MAPI_UNICODE was not set and the implementation only supports Unicode.";
    case 0x8004010F:
      return "MAPI_E_NOT_FOUND";
    case 0x8004011A:
      return "The property cannot be updated because it is read-only, computed by the service provider "
             "responsible for the object.";
    case 0x80040302:
      return "The property type is invalid.";
    case 0x80040304:
      return "The property type is not the type expected by the calling implementation.";
    case 0x80040607:
      return "Failed to SubmitMessage";
    case 0x80070005:
      return "MAPI_E_NO_ACCESS";
    case 0x8007000E:
      return "The property cannot be updated because it is larger than the RPC buffer size.";
    case 0x80070057:
      return "The property type in the tag is set to PT_UNSPECIFIED.";
    default:
      return "Unknown error";
  }
}

void ExtendedMapi::LogError(HRESULT code, const std::string& prefix) {
  DebugTrace trace("LogError", __FILE__);
  trace.Error(prefix + DebugTrace::FormatOne("MAPI error %d: ", static_cast<long long>(code)) +
              ErrorText(code) + DebugTrace::FormatOne(" (%d)", static_cast<long long>(code)));
}
