// The published Simple MAPI records, flags, result codes and entry-point types, as the Windows header
// declares them (ULONG is 32 bits; handles and window parameters are pointer-sized). Callers:
// SimpleMapi (mail/), which loads "Mapi32.dll" and looks the entries up by name, and the provider
// libMapi32.so that implements them.
#pragma once

#include <cstdint>

namespace simplemapi {

using ULONG = std::uint32_t;
using FLAGS = ULONG;
using LHANDLE = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using LPSTR = char*;

struct MapiRecipDesc {
  ULONG ulReserved;
  ULONG ulRecipClass;  // MAPI_ORIG, MAPI_TO, MAPI_CC, MAPI_BCC
  LPSTR lpszName;
  LPSTR lpszAddress;  // "SMTP:address" or "address"
  ULONG ulEIDSize;
  void* lpEntryID;
};

struct MapiFileDesc {
  ULONG ulReserved;
  ULONG flFlags;
  ULONG nPosition;
  LPSTR lpszPathName;
  LPSTR lpszFileName;
  void* lpFileType;
};

struct MapiMessage {
  ULONG ulReserved;
  LPSTR lpszSubject;
  LPSTR lpszNoteText;
  LPSTR lpszMessageType;
  LPSTR lpszDateReceived;
  LPSTR lpszConversationID;
  FLAGS flFlags;
  MapiRecipDesc* lpOriginator;
  ULONG nRecipCount;
  MapiRecipDesc* lpRecips;
  ULONG nFileCount;
  MapiFileDesc* lpFiles;
};

enum : ULONG {
  MAPI_ORIG = 0,
  MAPI_TO = 1,
  MAPI_CC = 2,
  MAPI_BCC = 3,
};

enum : FLAGS {
  MAPI_LOGON_UI = 0x00000001,
  MAPI_NEW_SESSION = 0x00000002,
  MAPI_DIALOG = 0x00000008,
  MAPI_FORCE_DOWNLOAD = 0x00001000,
  MAPI_AB_NOMODIFY = 0x00000400,
};

enum : ULONG {
  SUCCESS_SUCCESS = 0,
  MAPI_USER_ABORT = 1,
  MAPI_E_FAILURE = 2,
  MAPI_E_LOGON_FAILURE = 3,
  MAPI_E_DISK_FULL = 4,
  MAPI_E_INSUFFICIENT_MEMORY = 5,
  MAPI_E_ACCESS_DENIED = 6,
  MAPI_E_TOO_MANY_SESSIONS = 8,
  MAPI_E_TOO_MANY_FILES = 9,
  MAPI_E_TOO_MANY_RECIPIENTS = 10,
  MAPI_E_ATTACHMENT_NOT_FOUND = 11,
  MAPI_E_ATTACHMENT_OPEN_FAILURE = 12,
  MAPI_E_ATTACHMENT_WRITE_FAILURE = 13,
  MAPI_E_UNKNOWN_RECIPIENT = 14,
  MAPI_E_BAD_RECIPTYPE = 15,
  MAPI_E_NO_MESSAGES = 16,
  MAPI_E_INVALID_MESSAGE = 17,
  MAPI_E_TEXT_TOO_LARGE = 18,
  MAPI_E_INVALID_SESSION = 19,
  MAPI_E_TYPE_NOT_SUPPORTED = 20,
  MAPI_E_AMBIGUOUS_RECIPIENT = 21,
  MAPI_E_MESSAGE_IN_USE = 22,
  MAPI_E_NETWORK_FAILURE = 23,
  MAPI_E_INVALID_EDITFIELDS = 24,
  MAPI_E_INVALID_RECIPS = 25,
  MAPI_E_NOT_SUPPORTED = 26,
};

using LPMAPILOGON = ULONG (*)(ULONG_PTR uiParam, LPSTR profileName, LPSTR password, FLAGS flags,
                              ULONG reserved, LHANDLE* session);
using LPMAPILOGOFF = ULONG (*)(LHANDLE session, ULONG_PTR uiParam, FLAGS flags, ULONG reserved);
using LPMAPISENDMAIL = ULONG (*)(LHANDLE session, ULONG_PTR uiParam, MapiMessage* message, FLAGS flags,
                                 ULONG reserved);
using LPMAPIRESOLVENAME = ULONG (*)(LHANDLE session, ULONG_PTR uiParam, LPSTR name, FLAGS flags,
                                    ULONG reserved, MapiRecipDesc** recip);
using LPMAPIFREEBUFFER = ULONG (*)(void* buffer);

}  // namespace simplemapi
