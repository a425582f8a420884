// SimpleMapi: one e-mail with the scanned files attached, through Simple MAPI ("Mapi32.dll", loaded by
// name; on Linux the provider libMapi32.so). Caller: the scan job's e-mail delivery, directly or as the
// fallback after ExtendedMapi. One object per e-mail: construct, SendMail, destroy. The session opens
// on first need and is closed by the destructor, which frees everything MAPI handed out.
// Texts live in 260-character buffers: a longer subject or note is cut at a character boundary (with
// a log line); a longer address is not resolved (with a log line), since a cut address is another one.
// Resolved descriptors stay alive (and are freed by the destructor) while the recipient table points
// into them.
#pragma once

#include <string>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/mapi32/SimpleMapiTypes.h"

class DebugTrace;

class SimpleMapi {
 public:
  static constexpr int kMaxRecipients = 10;
  static constexpr std::size_t kTextSize = 260;

  explicit SimpleMapi(bool noDialogs);
  ~SimpleMapi();
  SimpleMapi(const SimpleMapi&) = delete;
  SimpleMapi& operator=(const SimpleMapi&) = delete;

  // True when the message was handed to MAPI.
  bool SendMail(const std::string& to, const std::string& cc, const std::string& bcc, const std::string& from,
                const std::string& subject, const std::string& note, const std::vector<std::string>& paths,
                const std::vector<std::string>& names, bool sendSilently);

  // What SendMail built, for tests.
  const simplemapi::MapiMessage& Message() const { return m_message; }
  const simplemapi::MapiRecipDesc* Recipients() const { return m_aRecips; }
  ULONG RecipientCount() const { return m_nRecipCount; }
  simplemapi::FLAGS LastSendFlags() const { return m_nLastSendFlags; }
  // The provider's cause of the last failed logon or send (M3MAPILastFailure: 0 none, 1 no mail
  // program, 2 another cause, told in FailureText); 0 when the provider does not say.
  ULONG FailureKind() const { return m_nFailureKind; }
  const std::string& FailureText() const { return m_strFailureText; }

  bool LogOn();
  bool LogOff();
  bool SetupAddresses(const std::string& text, ULONG recipClass);
  simplemapi::MapiRecipDesc* ResolveAddress(const std::string& address);
  bool SetupAttachments(const std::vector<std::string>& paths, const std::vector<std::string>& names);
  bool SetupText(const std::string& note, const std::string& subject);
  bool SendMailMessage();

 private:
  void* Lookup(const char* name);
  // The provider's function of that name, or null with the line missing in the caller's trace.
  template <class F>
  F Function(const char* name, const char* missing, DebugTrace& trace);
  bool HaveSession(DebugTrace& trace);
  // Reads the provider's cause into the fields above and logs it beside the MAPI result's text.
  void NoteFailureCause(DebugTrace& trace);
  ULONG m_nFailureKind = 0;
  std::string m_strFailureText;

  bool m_bNoDialogs;
  bool m_bSendSilently = false;
  HMODULE m_hMapi = nullptr;
  simplemapi::LHANDLE m_hSession = 0;
  simplemapi::LPMAPIFREEBUFFER m_pFreeBuffer = nullptr;
  simplemapi::MapiMessage m_message{};
  char m_szSubject[kTextSize] = {};
  char m_szNoteText[kTextSize] = {};
  simplemapi::MapiRecipDesc m_aRecips[kMaxRecipients] = {};
  ULONG m_nRecipCount = 0;
  simplemapi::MapiRecipDesc* m_pOriginator = nullptr;
  std::vector<simplemapi::MapiRecipDesc*> m_aResolved;  // descriptors the recipient table points into
  std::vector<simplemapi::MapiFileDesc> m_aFiles;
  std::vector<std::string> m_saPaths;
  std::vector<std::string> m_saNames;
  simplemapi::FLAGS m_nLastSendFlags = 0;
};
