// libMapi32.so: the Simple MAPI provider that SimpleMapi loads as "Mapi32.dll". Exports MAPILogon,
// MAPILogoff, MAPIResolveName, MAPISendMail and MAPIFreeBuffer with the published records, flags and
// result codes (SimpleMapiTypes.h). Sessions are numbered handles into a table; descriptors returned by
// MAPIResolveName are single blocks freed by MAPIFreeBuffer, which refuses pointers it did not hand out.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/mapi32/ComposeRoad.h"
#include "platform/mapi32/ProviderSession.h"
#include "platform/mapi32/SilentRoad.h"

using namespace simplemapi;
using mapi32::ProviderSession;

namespace {

constexpr std::size_t kMaxSessions = 64;
constexpr std::size_t kMaxNameBytes = 1024;

std::mutex g_lock;
std::map<LHANDLE, std::shared_ptr<ProviderSession>>& Sessions() {
  static std::map<LHANDLE, std::shared_ptr<ProviderSession>> sessions;
  return sessions;
}
std::unordered_set<void*>& Buffers() {
  static std::unordered_set<void*> buffers;
  return buffers;
}
LHANDLE g_nextHandle = 0x4D31;

std::shared_ptr<ProviderSession> FindSession(LHANDLE handle) {
  std::lock_guard<std::mutex> guard(g_lock);
  const auto found = Sessions().find(handle);
  return found == Sessions().end() ? nullptr : found->second;
}

bool MailProgramAvailable() {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty() && access((folder + "/xdg-email").c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

ULONG OpenSession(FLAGS flags, std::shared_ptr<ProviderSession>& session) {
  session = std::make_shared<ProviderSession>();
  const std::string path = mapix::DefaultProfilePath();
  int line = 0;
  const mapix::ProfileError error = mapix::LoadProfile(path, session->profile, &line);
  if (error == mapix::ProfileError::None) {
    session->hasProfile = true;
    return SUCCESS_SUCCESS;
  }
  mapi32::Trace(path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                mapix::ProfileErrorText(error));
  // Without a profile the user's mail program can still compose (it has its own account); a profile
  // that is there but wrong must be fixed first.
  if (error == mapix::ProfileError::NotFound && (flags & MAPI_LOGON_UI) != 0 && MailProgramAvailable())
    return SUCCESS_SUCCESS;
  if (error == mapix::ProfileError::NotFound)
    mapi32::SetFailure(mapi32::kNoMailProgram, "no mail profile (" + path + ") and no xdg-email in PATH");
  else
    mapi32::Trace("the mail profile " + path + " cannot be used");
  return MAPI_E_LOGON_FAILURE;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) ULONG MAPILogon(ULONG_PTR, LPSTR, LPSTR, FLAGS flags, ULONG,
                                                       LHANDLE* session) {
  mapi32::ClearFailure();
  if (session == nullptr) return MAPI_E_FAILURE;
  *session = 0;
  std::shared_ptr<ProviderSession> opened;
  const ULONG result = OpenSession(flags, opened);
  if (result != SUCCESS_SUCCESS) return result;
  std::lock_guard<std::mutex> guard(g_lock);
  if (Sessions().size() >= kMaxSessions) return MAPI_E_TOO_MANY_SESSIONS;
  const LHANDLE handle = g_nextHandle++;
  Sessions()[handle] = opened;
  *session = handle;
  return SUCCESS_SUCCESS;
}

__attribute__((visibility("default"))) ULONG MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
  std::lock_guard<std::mutex> guard(g_lock);
  return Sessions().erase(session) == 1 ? SUCCESS_SUCCESS : MAPI_E_INVALID_SESSION;
}

// Resolves an address, "Name <address>", or a name of the profile's address list (exact, ignoring
// case). With MAPI_DIALOG the text may also be the beginning of exactly one listed name: what a resolve
// dialog's "check names" would have offered the user as the only choice.
__attribute__((visibility("default"))) ULONG MAPIResolveName(LHANDLE session, ULONG_PTR, LPSTR name,
                                                             FLAGS flags, ULONG, MapiRecipDesc** recip) {
  if (recip == nullptr) return MAPI_E_FAILURE;
  *recip = nullptr;
  std::shared_ptr<ProviderSession> current;
  if (session == 0) {
    const ULONG result = OpenSession(flags, current);
    if (result != SUCCESS_SUCCESS) return result;
  } else {
    current = FindSession(session);
    if (!current) return MAPI_E_INVALID_SESSION;
  }
  if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMaxNameBytes)
    return MAPI_E_UNKNOWN_RECIPIENT;
  std::string display;
  std::string address;
  const mapix::Resolution result = mapix::ResolveRecipient(
      current->hasProfile ? &current->profile : nullptr, name, (flags & MAPI_DIALOG) != 0, display, address);
  if (result == mapix::Resolution::Ambiguous) return MAPI_E_AMBIGUOUS_RECIPIENT;
  if (result != mapix::Resolution::Resolved) return MAPI_E_UNKNOWN_RECIPIENT;
  if (display.empty()) display = address;
  const std::string typed = "SMTP:" + address;
  // One block: the descriptor, then the name, the address and the entry identifier.
  const std::size_t size = sizeof(MapiRecipDesc) + display.size() + 1 + typed.size() + 1 + typed.size() + 1;
  auto* block = static_cast<char*>(std::calloc(1, size));
  if (block == nullptr) return MAPI_E_INSUFFICIENT_MEMORY;
  auto* desc = reinterpret_cast<MapiRecipDesc*>(block);
  char* text = block + sizeof(MapiRecipDesc);
  std::memcpy(text, display.c_str(), display.size() + 1);
  desc->lpszName = text;
  text += display.size() + 1;
  std::memcpy(text, typed.c_str(), typed.size() + 1);
  desc->lpszAddress = text;
  text += typed.size() + 1;
  std::memcpy(text, typed.c_str(), typed.size() + 1);
  desc->lpEntryID = text;
  desc->ulEIDSize = static_cast<ULONG>(typed.size() + 1);
  desc->ulRecipClass = MAPI_TO;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    Buffers().insert(block);
  }
  *recip = desc;
  return SUCCESS_SUCCESS;
}

__attribute__((visibility("default"))) ULONG MAPISendMail(LHANDLE session, ULONG_PTR, MapiMessage* message,
                                                          FLAGS flags, ULONG) {
  mapi32::ClearFailure();
  if (message == nullptr) return MAPI_E_FAILURE;
  std::shared_ptr<ProviderSession> current;
  if (session == 0) {
    const ULONG result = OpenSession(flags, current);
    if (result != SUCCESS_SUCCESS) return result;
  } else {
    current = FindSession(session);
    if (!current) return MAPI_E_INVALID_SESSION;
  }
  const bool dialog = (flags & MAPI_DIALOG) != 0;
  mapi32::CheckedMessage checked;
  const ULONG result = mapi32::CheckMessage(*current, *message, dialog, checked);
  if (result != SUCCESS_SUCCESS) return result;
  return dialog ? mapi32::ComposeInMailProgram(checked) : mapi32::SendSilently(*current, checked);
}

__attribute__((visibility("default"))) ULONG MAPIFreeBuffer(void* buffer) {
  if (buffer == nullptr) return SUCCESS_SUCCESS;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (Buffers().erase(buffer) == 0) return MAPI_E_FAILURE;
  }
  std::free(buffer);
  return SUCCESS_SUCCESS;
}

// Not a Simple MAPI entry: this provider's cause of the calling thread's last failed MAPISendMail or
// MAPILogon (0 none, 1 no mail program, 2 another cause), its text copied into text (cut, ended by
// a NUL). Callers look it up by name and do without it when a provider lacks it.
__attribute__((visibility("default"))) ULONG M3MAPILastFailure(char* text, ULONG size) {
  std::string cause;
  const ULONG kind = mapi32::LastFailure(cause);
  if (text != nullptr && size > 0) {
    const std::size_t n = std::min<std::size_t>(cause.size(), size - 1);
    std::memcpy(text, cause.data(), n);
    text[n] = '\0';
  }
  return kind;
}

}  // extern "C"
