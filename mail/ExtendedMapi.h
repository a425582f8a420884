// ExtendedMapi: one e-mail with the scanned files attached through Extended MAPI (platform/mapix),
// without any dialog: logon to the default profile, open the default store and its Outbox, build the
// message there, submit it. Caller: the scan job's e-mail delivery, which falls back to SimpleMapi when
// this fails. One object per e-mail: construct, SendMail, destroy; the destructor releases every object
// still held and uninitialises MAPI. Names, subject and note live in 260-character buffers: a longer
// subject or note is cut at a character boundary (logged); a longer address fails its address text.
#pragma once

#include <string>
#include <vector>

#include "platform/mapix/Mapix.h"

class ExtendedMapi {
 public:
  static constexpr int kMaxRecipients = 25;
  static constexpr std::size_t kTextSize = 260;

  ExtendedMapi(HWND window, const std::string& profile, const std::string& password, ULONG flags);
  ~ExtendedMapi();
  ExtendedMapi(const ExtendedMapi&) = delete;
  ExtendedMapi& operator=(const ExtendedMapi&) = delete;

  // True when the message was submitted. names is not used (the file's own name is shown).
  bool SendMail(const std::string& to, const std::string& cc, const std::string& bcc,
                const std::string& subject, const std::string& note, const std::vector<std::string>& paths,
                const std::vector<std::string>& names, bool highImportance);

  int RecipientCount() const { return m_nRecipCount; }
  const char* RecipientName(int i) const { return m_aRecips[i].szName; }
  ULONG RecipientType(int i) const { return m_aRecips[i].ulType; }

  bool Logon();
  bool OpenStores();
  bool OpenOutbox();
  bool SetupAddressPerType(const std::string& text, ULONG type);
  bool SetupAddresses();
  bool SetupAttachments(const std::vector<std::string>& paths);
  bool SetupOtherProps(const std::string& note, const std::string& subject, bool highImportance);
  bool SendMailMessage();
  // Logs "MAPI error %d: " with the code, its text and " (%d)" with the code, after prefix.
  void LogError(HRESULT code, const std::string& prefix = std::string());
  static std::string ErrorText(HRESULT code);

 private:
  struct Recipient {
    char szName[kTextSize];
    ULONG ulType;
  };

  HWND m_hWnd;
  std::string m_strProfile;
  std::string m_strPassword;
  ULONG m_nFlags;
  bool m_bInitialized = false;
  bool m_bLoggedOn = false;
  IMAPISession* m_pSession = nullptr;
  IMAPITable* m_pStoresTable = nullptr;
  IMsgStore* m_pMsgStore = nullptr;
  IMAPIFolder* m_pOutbox = nullptr;
  IMessage* m_pMessage = nullptr;
  IAddrBook* m_pAddrBook = nullptr;
  ADRLIST* m_pAddrList = nullptr;
  IStream* m_pFileStream = nullptr;
  IStream* m_pPropStream = nullptr;
  IAttach* m_pAttach = nullptr;
  Recipient m_aRecips[kMaxRecipients] = {};
  int m_nRecipCount = 0;
  char m_szSubject[kTextSize] = {};
  char m_szBody[kTextSize] = {};
};
