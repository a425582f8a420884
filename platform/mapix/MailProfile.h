// The default mail profile: what Windows keeps in its mail profile, as one text file in marlin3's XDG
// config folder (docs/mail.md gives the format). Callers: the Simple MAPI provider (libMapi32.so), the
// Extended MAPI layer (MAPILogonEx) and marlin3-mail. Loading checks everything a send needs (sender
// address, server, security, password source, store folder) so a bad profile fails at logon with a
// named error, never half-way through a send. The password is fetched only on request and is never part
// of any text this module produces.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mapix {

enum class ProfileError {
  None,
  NotFound,             // no profile file
  Unreadable,           // exists but cannot be read, or is larger than the limit
  Syntax,               // a line that is neither a comment, a section nor "key = value"
  UnknownKey,           // a key this version does not know (a typo would otherwise be silently ignored)
  MissingSender,        // [sender] address absent or not an address
  MissingServer,        // [smtp] host absent
  BadPort,              // port not 1..65535
  BadSecurity,          // security not tls, starttls or none
  InsecureRemote,       // security none with a host that is not on loopback
  BadPasswordSource,    // password source neither file: nor secret:, or user without a password source
  PasswordFileUnsafe,   // the password file is readable by others, not a regular file, or not the user's
  PasswordUnavailable,  // the file or the secret store gave no password
  BadTimeout,           // timeout not 1..3600 seconds
  BadAddressEntry,      // an [addresses] entry whose value is not an address
  MissingStore,         // [store] folder absent or not absolute
  ProfileUnsafe,        // the profile is not the user's, others may change it, or it names a password
                        // source and others may read it
};

const char* ProfileErrorText(ProfileError error);

enum class Security { Tls, StartTls, None };

struct AddressEntry {
  std::string name;
  std::string address;
};

struct MailProfile {
  std::string senderName;
  std::string senderAddress;
  std::string host;
  int port = 587;
  Security security = Security::StartTls;
  std::string user;
  std::string passwordSource;  // "file:/path" or "secret:attr value ..."; empty: no authentication
  std::string caFile;          // extra certificate authority for a private server; empty: the system's
  int timeoutSeconds = 30;     // how long a silent server is waited for
  std::string storeFolder;     // the Maildir message store
  bool hasStore = true;        // false for "folder = none": the profile keeps no message store
  std::vector<AddressEntry> addresses;
};

// ${XDG_CONFIG_HOME:-~/.config}/marlin3/mail-profile.conf
std::string DefaultProfilePath();
// ${XDG_DATA_HOME:-~/.local/share}/marlin3/Mail
std::string DefaultStoreFolder();

// Reads and checks a profile; line is the 1-based line of a Syntax or UnknownKey error (0 otherwise).
ProfileError LoadProfile(const std::string& path, MailProfile& profile, int* line = nullptr);
// The same for the file's text (at most 256 KiB).
ProfileError ParseProfile(const std::string& text, MailProfile& profile, int* line = nullptr);

// Fetches the password from the profile's source. An empty source gives an empty password.
ProfileError ReadPassword(const MailProfile& profile, std::string& password);

// The profile as file text (the password is never part of it; only its source).
std::string FormatProfile(const MailProfile& profile);

// True for localhost, 127.0.0.0/8 and ::1.
bool IsLoopbackHost(const std::string& host);

// A plain address "local@domain": printable ASCII or UTF-8, no blanks, controls, quotes, brackets or
// commas, one "@" with text on both sides, at most 254 bytes. What SMTP and header lines may carry.
bool IsPlainAddress(const std::string& address);

// "address" or "Name <address>" or "\"Name\" <address>"; false for anything else. Control characters
// (CR, LF, ...) in the name make it false too, so a name can never add a header line.
bool ParseMailbox(const std::string& text, std::string& name, std::string& address);

enum class Resolution { Resolved, Unknown, Ambiguous };

// A recipient text to a name and an address: an address or "Name <address>" as it is, else a name of
// the profile's address list, compared ignoring ASCII case. With prefixMatch (the resolve dialog's
// "check names"), a text that matches no name exactly also matches the one name it begins.
Resolution ResolveRecipient(const MailProfile* profile, const std::string& text, bool prefixMatch,
                            std::string& name, std::string& address);

}  // namespace mapix
