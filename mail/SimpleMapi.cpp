#include "mail/SimpleMapi.h"

#include "log/DebugTrace.h"
#include "mail/MailText.h"
#include "platform/module/Module.h"

using namespace simplemapi;

namespace {

const char* LogOnText(ULONG code) {
  switch (code) {
    case 1:
      return "The user canceled the logon dialog box. No session handle was returned.";
    case 2:
      return "One or more unspecified errors occurred during logon. No session handle was returned.";
    case 3:
      return "There was no default logon, and the user failed to log on successfully when the logon dialog "
             "box "
             "was displayed. No session handle was returned.";
    case 5:
      return "There was insufficient memory to proceed. No session handle was returned.";
    case 8:
      return "The user had too many sessions open simultaneously. No session handle was returned.";
    default:
      return "Unknown logOn error code.";
  }
}

const char* LogOffText(ULONG code) {
  switch (code) {
    case 2:
      return "The flFlags parameter is invalid or one or more unspecified errors occurred.";
    case 5:
      return "There was insufficient memory to proceed. The session was not terminated.";
    case 19:
      return "An invalid session handle was used for the lhSession parameter. The session was not "
             "terminated.";
    default:
      return "Unknown logOff error code.";
  }
}

const char* SendText(ULONG code) {
  switch (code) {
    case 1:
      return "The user canceled one of the dialog boxes. No message was sent.";
    case 2:
      return "One or more unspecified errors occurred. No message was sent.";
    case 3:
      return "There was no default logon, and the user failed to log on successfully when the logon dialog "
             "box "
             "was displayed. No message was sent.";
    case 5:
      return "There was insufficient memory to proceed. No message was sent.";
    case 9:
      return "There were too many file attachments. No message was sent.";
    case 10:
      return "There were too many recipients. No message was sent.";
    case 11:
      return "The specified attachment was not found. No message was sent.";
    case 12:
      return "The specified attachment could not be opened. No message was sent.";
    case 14:
      return "A recipient did not appear in the address list. No message was sent.";
    case 15:
      return "The type of a recipient was not MAPI_TO, MAPI_CC, or MAPI_BCC. No message was sent.";
    case 18:
      return "The text in the message was too large. No message was sent.";
    case 21:
      return "A recipient matched more than one of the recipient descriptor structures and MAPI_DIALOG was "
             "not "
             "set. No message was sent.";
    case 25:
      return "One or more recipients were invalid or did not resolve to any address.";
    default:
      return "Unknown error code.";
  }
}

const char* ResolveText(ULONG code) {
  switch (code) {
    case 1:
      return "The user canceled one of the dialog boxes. The name was not resolved.";
    case 2:
      return "One or more unspecified errors occurred. The name was not resolved.";
    case 3:
      return "There was no default logon, and the user failed to log on successfully when the logon dialog "
             "box "
             "was displayed. The name was not resolved.";
    case 5:
      return "There was insufficient memory to proceed. The name was not resolved.";
    case 14:
      return "The recipient could not be resolved to any address. The recipient might not exist or might be "
             "unknown.";
    case 21:
      return "The recipient requested has not been or could not be resolved to a unique address list entry.";
    case 26:
      return "The operation was not supported by the underlying messaging system.";
    default:
      return "Unknown ResolveName error";
  }
}

}  // namespace

SimpleMapi::SimpleMapi(bool noDialogs) : m_bNoDialogs(noDialogs) {
  DebugTrace trace("SimpleMapi", __FILE__);
  m_hMapi = LoadLibraryA("Mapi32.dll");
  if (m_hMapi == nullptr) trace.SystemError("LoadLibrary(Mapi32.dll) failed");
  m_pFreeBuffer = reinterpret_cast<LPMAPIFREEBUFFER>(Lookup("MAPIFreeBuffer"));
}

SimpleMapi::~SimpleMapi() {
  DebugTrace trace("Destructor", __FILE__);
  m_aFiles.clear();
  m_message.lpFiles = nullptr;
  m_message.nFileCount = 0;
  if (m_pOriginator != nullptr) {
    if (m_pFreeBuffer == nullptr || m_pFreeBuffer(m_pOriginator) != 0)
      trace.Error("Error freeing buffer for originator");
    m_pOriginator = nullptr;
  }
  for (MapiRecipDesc* desc : m_aResolved)
    if (m_pFreeBuffer != nullptr) m_pFreeBuffer(desc);
  m_aResolved.clear();
  if (m_hSession != 0 && !LogOff()) trace.Error("LogOff failed");
  if (m_hMapi != nullptr && !FreeLibrary(m_hMapi)) trace.Error("FreeLibrary failed");
}

// Without the library every look-up fails (a null module would otherwise mean the executable).
void* SimpleMapi::Lookup(const char* name) {
  return m_hMapi == nullptr ? nullptr : GetProcAddress(m_hMapi, name);
}

template <class F>
F SimpleMapi::Function(const char* name, const char* missing, DebugTrace& trace) {
  auto function = reinterpret_cast<F>(Lookup(name));
  if (function == nullptr) trace.Error(missing);
  return function;
}

// Every call after the logon needs the session: it is opened on the first such call.
bool SimpleMapi::HaveSession(DebugTrace& trace) {
  if (m_hSession != 0 || LogOn()) return true;
  trace.Error("LogOn failed");
  return false;
}

bool SimpleMapi::SendMail(const std::string& to, const std::string& cc, const std::string& bcc,
                          const std::string& from, const std::string& subject, const std::string& note,
                          const std::vector<std::string>& paths, const std::vector<std::string>& names,
                          bool sendSilently) {
  DebugTrace trace("SendMail", __FILE__);
  m_bSendSilently = sendSilently;
  const struct {
    const std::string& text;
    ULONG recipClass;
    const char* failure;
  } addresses[] = {{to, MAPI_TO, "Trouble setting up To"},
                   {cc, MAPI_CC, "Trouble setting up Cc"},
                   {bcc, MAPI_BCC, "Trouble setting up Bcc"},
                   {from, MAPI_ORIG, "Trouble setting up From"}};
  for (const auto& entry : addresses) {
    if (entry.text.empty()) continue;
    if (!SetupAddresses(entry.text, entry.recipClass)) {
      trace.Error(entry.failure);
      return false;
    }
  }
  m_message.nRecipCount = m_nRecipCount;
  m_message.lpRecips = m_nRecipCount > 0 ? m_aRecips : nullptr;
  m_message.lpOriginator = m_pOriginator;
  SetupAttachments(paths, names);
  SetupText(note, subject);
  if (!SendMailMessage()) {
    trace.Error("SendMailMessage() failed");
    return false;
  }
  return true;
}

bool SimpleMapi::SetupAddresses(const std::string& text, ULONG recipClass) {
  DebugTrace trace("SetupAddresses", __FILE__);
  if (text.empty()) {
    trace.Error("strToParse is empty");
    return false;
  }
  if (recipClass == MAPI_ORIG) {
    if (m_pOriginator != nullptr && m_pFreeBuffer != nullptr) m_pFreeBuffer(m_pOriginator);
    m_pOriginator = ResolveAddress(mailtext::Trim(text));
    return true;
  }
  for (const std::string& piece : mailtext::SplitAddresses(text)) {
    if (m_nRecipCount >= kMaxRecipients) {
      trace.Write("Too many addresses, ignoring additional ones");
      break;
    }
    MapiRecipDesc* desc = ResolveAddress(piece);
    MapiRecipDesc& entry = m_aRecips[m_nRecipCount];
    entry = MapiRecipDesc{};
    if (desc != nullptr) {
      m_aResolved.push_back(desc);
      entry.ulReserved = desc->ulReserved;
      entry.lpszName = desc->lpszName;
      entry.lpszAddress = desc->lpszAddress;
      entry.ulEIDSize = desc->ulEIDSize;
      entry.lpEntryID = desc->lpEntryID;
      entry.ulRecipClass = recipClass;
    }
    ++m_nRecipCount;
  }
  return true;
}

MapiRecipDesc* SimpleMapi::ResolveAddress(const std::string& address) {
  DebugTrace trace("ResolveAddress", __FILE__);
  if (address.empty()) {
    trace.Error("strAddress is empty");
    return nullptr;
  }
  if (address.size() >= kTextSize) {
    trace.Error("Address longer than 259 characters is not resolved");
    return nullptr;
  }
  if (!HaveSession(trace)) return nullptr;
  auto resolveName = Function<LPMAPIRESOLVENAME>("MAPIResolveName", "pResolveName func not found", trace);
  if (resolveName == nullptr) return nullptr;
  char buffer[kTextSize];
  mailtext::CopyCut(address, buffer, sizeof buffer);
  MapiRecipDesc* desc = nullptr;
  const FLAGS flags = m_bNoDialogs ? MAPI_LOGON_UI : (MAPI_LOGON_UI | MAPI_DIALOG);
  const ULONG result = resolveName(m_hSession, 0, buffer, flags, 0, &desc);
  if (result != SUCCESS_SUCCESS) {
    trace.Error(ResolveText(result));
    return nullptr;
  }
  return desc;
}

bool SimpleMapi::SetupAttachments(const std::vector<std::string>& paths,
                                  const std::vector<std::string>& names) {
  DebugTrace trace("SetupAttachments", __FILE__);
  m_saPaths = paths;
  m_saNames = names;
  if (m_saPaths.size() != m_saNames.size())
    trace.Error("Incompatibility between filenames and filetext arrays");
  // One entry per path. A path without a name gets none (the file's own name is shown), so nothing is
  // read past the shorter list and no file is dropped.
  const std::size_t count = m_saPaths.size();
  m_aFiles.assign(count, MapiFileDesc{});
  for (std::size_t i = 0; i < count; ++i) {
    m_aFiles[i].ulReserved = 0;
    m_aFiles[i].flFlags = 0;
    m_aFiles[i].nPosition = 0xFFFFFFFFu;
    m_aFiles[i].lpszPathName = m_saPaths[i].data();
    m_aFiles[i].lpszFileName = i < m_saNames.size() ? m_saNames[i].data() : nullptr;
    m_aFiles[i].lpFileType = nullptr;
  }
  m_message.nFileCount = static_cast<ULONG>(count);
  m_message.lpFiles = count > 0 ? m_aFiles.data() : nullptr;
  return true;
}

bool SimpleMapi::SetupText(const std::string& note, const std::string& subject) {
  DebugTrace trace("SetupText", __FILE__);
  if (!note.empty()) {
    if (!mailtext::CopyCut(note, m_szNoteText, sizeof m_szNoteText))
      trace.Write("Note text longer than 259 characters was cut");
    m_message.lpszNoteText = m_szNoteText;
  }
  if (!subject.empty()) {
    if (!mailtext::CopyCut(subject, m_szSubject, sizeof m_szSubject))
      trace.Write("Subject longer than 259 characters was cut");
    m_message.lpszSubject = m_szSubject;
  }
  return true;
}

bool SimpleMapi::SendMailMessage() {
  DebugTrace trace("SendMailMessage", __FILE__);
  if (!HaveSession(trace)) return false;
  const bool silent = (m_nRecipCount > 0 && m_bSendSilently) || m_bNoDialogs;
  const FLAGS flags = silent ? MAPI_LOGON_UI : (MAPI_LOGON_UI | MAPI_DIALOG);
  m_nLastSendFlags = flags;
  auto sendMail = Function<LPMAPISENDMAIL>("MAPISendMail", "MAPISendMail func not found", trace);
  if (sendMail == nullptr) return false;
  const ULONG result = sendMail(m_hSession, 0, &m_message, flags, 0);
  if (result != SUCCESS_SUCCESS) {
    trace.Error(SendText(result));
    NoteFailureCause(trace);
    return false;
  }
  return true;
}

bool SimpleMapi::LogOn() {
  DebugTrace trace("LogOn", __FILE__);
  auto logon = Function<LPMAPILOGON>("MAPILogon", "m_pLogOn func not found", trace);
  if (logon == nullptr) return false;
  LHANDLE session = 0;
  const ULONG result = logon(0, nullptr, nullptr, MAPI_LOGON_UI, 0, &session);
  if (result != SUCCESS_SUCCESS) {
    trace.Error(LogOnText(result));
    NoteFailureCause(trace);
    return false;
  }
  m_hSession = session;
  return true;
}

bool SimpleMapi::LogOff() {
  DebugTrace trace("LogOff", __FILE__);
  auto logoff = Function<LPMAPILOGOFF>("MAPILogoff", "m_pLogOff func not found", trace);
  if (logoff == nullptr) return false;
  const ULONG result = logoff(m_hSession, 0, 0, 0);
  if (result != SUCCESS_SUCCESS) {
    trace.Error(LogOffText(result));
    return false;
  }
  m_hSession = 0;
  return true;
}

void SimpleMapi::NoteFailureCause(DebugTrace& trace) {
  using LastFailureFn = ULONG (*)(char*, ULONG);
  const auto lastFailure = reinterpret_cast<LastFailureFn>(Lookup("M3MAPILastFailure"));
  if (lastFailure == nullptr) return;
  char text[512] = {};
  m_nFailureKind = lastFailure(text, sizeof text);
  m_strFailureText = text;
  if (m_nFailureKind == 0 || m_strFailureText.empty()) return;
  if (m_nFailureKind == 1)
    trace.Error("The mail provider says: " + m_strFailureText +
                ". Choose a default mail program for the desktop, or create the mail profile with "
                "marlin3-mail create and send without the mail window");
  else
    trace.Error("The mail provider says: " + m_strFailureText);
}
