#include "platform/mapix/MimeWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/mapix/MailProfile.h"

namespace mapix {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// 57 input bytes make one 76-character base64 line (RFC 2045 6.8).
constexpr std::size_t kLineBytes = 57;
constexpr std::size_t kChunkLines = 1024;
// Bytes of text per encoded word: 45 bytes give 60 base64 characters, so "=?UTF-8?B?...?=" stays
// within the 75 characters RFC 2047 2 allows.
constexpr std::size_t kWordBytes = 45;

// Appends the base64 form of data to out (RFC 4648 4).
void AppendBase64(const unsigned char* data, std::size_t size, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + (size + 2) / 3 * 4);
  char* put = out.data() + start;
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    *put++ = kBase64[(v >> 18) & 63];
    *put++ = kBase64[(v >> 12) & 63];
    *put++ = kBase64[(v >> 6) & 63];
    *put++ = kBase64[v & 63];
  }
  if (i + 1 == size) {
    const unsigned v = data[i] << 16;
    *put++ = kBase64[(v >> 18) & 63];
    *put++ = kBase64[(v >> 12) & 63];
    *put++ = '=';
    *put++ = '=';
  } else if (i + 2 == size) {
    const unsigned v = (data[i] << 16) | (data[i + 1] << 8);
    *put++ = kBase64[(v >> 18) & 63];
    *put++ = kBase64[(v >> 12) & 63];
    *put++ = kBase64[(v >> 6) & 63];
    *put++ = '=';
  }
}

std::string Base64(const unsigned char* data, std::size_t size) {
  std::string out;
  AppendBase64(data, size, out);
  return out;
}

std::string Base64(const std::string& text) {
  return Base64(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

bool IsPrintableAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// Controls (CR and LF above all) become blanks: a header text can never end its line early.
std::string BlankControls(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return out;
}

// Length of the UTF-8 sequence starting at text[i]; 1 for a malformed byte, so splitting never loops.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  std::size_t n = 1;
  if (c >= 0xF0 && c < 0xF8)
    n = 4;
  else if (c >= 0xE0)
    n = 3;
  else if (c >= 0xC0)
    n = 2;
  if (c >= 0xF8) n = 1;
  if (i + n > text.size()) return 1;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

// Encoded words of at most kWordBytes bytes each, never splitting a character, joined by folding
// white space (RFC 2047 5: adjacent encoded words separated by white space decode as one text).
std::string EncodedWords(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    while (end < text.size()) {
      const std::size_t n = Utf8Length(text, end);
      if (end + n - i > kWordBytes) break;
      end += n;
    }
    if (end == i) end = i + 1;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(text.substr(i, end - i)) + "?=";
    i = end;
  }
  return out;
}

bool IsAtext(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

class Output {
 public:
  explicit Output(int fd) : m_nFd(fd) {}
  bool Put(const std::string& text) { return Put(text.data(), text.size()); }
  bool Put(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t wrote = write(m_nFd, data, size);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return false;
      data += wrote;
      size -= static_cast<std::size_t>(wrote);
    }
    return true;
  }

 private:
  int m_nFd;
};

std::string RandomHex(std::size_t bytes) {
  std::string out;
  unsigned char buffer[32] = {};
  if (bytes > sizeof buffer) bytes = sizeof buffer;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  bool filled = false;
  if (fd >= 0) {
    filled = read(fd, buffer, bytes) == static_cast<ssize_t>(bytes);
    close(fd);
  }
  if (!filled) {
    std::random_device device;
    for (std::size_t i = 0; i < bytes; ++i) buffer[i] = static_cast<unsigned char>(device());
  }
  static const char hex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes; ++i) {
    out += hex[buffer[i] >> 4];
    out += hex[buffer[i] & 15];
  }
  return out;
}

std::string AddressList(const std::vector<Mailbox>& list) {
  std::string out;
  for (const auto& entry : list) {
    if (!out.empty()) out += ",\r\n ";
    out += FormatMailbox(entry);
  }
  return out;
}

// The note as CRLF lines; 7bit when it is short-lined ASCII that cannot be taken for the boundary,
// else base64.
MimeError WriteBody(Output& out, const std::string& body, const std::string& boundary) {
  std::string text;
  text.reserve(body.size() + body.size() / 32);
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r') {
      text += "\r\n";
      if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
    } else if (body[i] == '\n') {
      text += "\r\n";
    } else {
      text += body[i];
    }
  }
  bool plain = boundary.empty() || text.find(boundary) == std::string::npos;
  std::size_t lineLength = 0;
  for (unsigned char c : text) {
    if (c == '\n') {
      lineLength = 0;
      continue;
    }
    if ((c < 0x20 && c != '\r' && c != '\t') || c > 0x7E || ++lineLength > 900) {
      plain = false;
      break;
    }
  }
  std::string head = "Content-Type: text/plain; charset=UTF-8\r\n";
  if (plain) {
    head += "Content-Transfer-Encoding: 7bit\r\n\r\n";
    if (!out.Put(head) || !out.Put(text) || !out.Put("\r\n")) return MimeError::WriteFailed;
    return MimeError::None;
  }
  head += "Content-Transfer-Encoding: base64\r\n\r\n";
  if (!out.Put(head)) return MimeError::WriteFailed;
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size(); i += kLineBytes) {
    const std::size_t n = std::min(kLineBytes, text.size() - i);
    if (!out.Put(Base64(data + i, n) + "\r\n")) return MimeError::WriteFailed;
  }
  return MimeError::None;
}

MimeError WriteAttachment(Output& out, const AttachmentFile& file, std::string* failedPath) {
  const int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (failedPath != nullptr) *failedPath = file.path;
    return errno == ENOENT ? MimeError::AttachmentNotFound : MimeError::AttachmentUnreadable;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    if (failedPath != nullptr) *failedPath = file.path;
    return MimeError::AttachmentUnreadable;
  }
  const std::string name = file.name.empty() ? file.path.substr(file.path.rfind('/') + 1) : file.name;
  std::string head = "Content-Type: " + MimeTypeOf(name) + "\r\n";
  head += "Content-Transfer-Encoding: base64\r\n";
  head += "Content-Disposition: attachment;\r\n " + EncodeFilenameParameter(name) + "\r\n\r\n";
  if (!out.Put(head)) {
    close(fd);
    return MimeError::WriteFailed;
  }
  // One chunk of whole base64 lines at a time: memory stays at a few tens of kilobytes.
  std::vector<unsigned char> chunk(kLineBytes * kChunkLines);
  std::string encoded;
  encoded.reserve(kChunkLines * 78);
  std::size_t filled = 0;
  bool done = false;
  while (!done) {
    const ssize_t got = read(fd, chunk.data() + filled, chunk.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(fd);
      if (failedPath != nullptr) *failedPath = file.path;
      return MimeError::AttachmentUnreadable;
    }
    if (got == 0) done = true;
    filled += static_cast<std::size_t>(got);
    if (filled < chunk.size() && !done) continue;
    encoded.clear();
    for (std::size_t i = 0; i < filled; i += kLineBytes) {
      AppendBase64(chunk.data() + i, std::min(kLineBytes, filled - i), encoded);
      encoded += "\r\n";
    }
    filled = 0;
    if (!out.Put(encoded)) {
      close(fd);
      return MimeError::WriteFailed;
    }
  }
  close(fd);
  return MimeError::None;
}

}  // namespace

const char* MimeErrorText(MimeError error) {
  switch (error) {
    case MimeError::None:
      return "no error";
    case MimeError::BadAddress:
      return "an address is not a plain address";
    case MimeError::AttachmentNotFound:
      return "an attachment was not found";
    case MimeError::AttachmentUnreadable:
      return "an attachment could not be read";
    case MimeError::WriteFailed:
      return "the message could not be written";
  }
  return "unknown error";
}

std::string EncodeHeaderText(const std::string& text) {
  const std::string clean = BlankControls(text);
  // "=?" in plain text would be decoded as an encoded word by readers, so such text is encoded too.
  if (IsPrintableAscii(clean) && clean.find("=?") == std::string::npos && clean.size() <= 900) return clean;
  return EncodedWords(clean);
}

std::string EncodeDisplayName(const std::string& name) {
  const std::string clean = BlankControls(name);
  if (clean.empty()) return clean;
  if (!IsPrintableAscii(clean) || clean.find("=?") != std::string::npos || clean.size() > 900)
    return EncodedWords(clean);
  bool atoms = true;
  for (unsigned char c : clean)
    if (!IsAtext(c) && c != ' ') atoms = false;
  if (atoms && clean.front() != ' ' && clean.back() != ' ') return clean;
  std::string quoted = "\"";
  for (char c : clean) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string FormatMailbox(const Mailbox& mailbox) {
  const std::string name = EncodeDisplayName(mailbox.name);
  if (name.empty()) return mailbox.address;
  return name + " <" + mailbox.address + ">";
}

std::string EncodeFilenameParameter(const std::string& name) {
  const std::string clean = BlankControls(name);
  bool simple = IsPrintableAscii(clean) && clean.size() <= 60;
  for (char c : clean)
    if (c == '"' || c == '\\') simple = false;
  if (simple) return "filename=\"" + clean + "\"";
  // RFC 2231 3 and 4: charset, empty language, percent-encoded octets, split into numbered sections.
  static const char hex[] = "0123456789ABCDEF";
  std::vector<std::string> pieces;
  std::string piece;
  std::size_t i = 0;
  while (i < clean.size()) {
    const std::size_t n = Utf8Length(clean, i);
    std::string encoded;
    for (std::size_t k = i; k < i + n; ++k) {
      const unsigned char c = static_cast<unsigned char>(clean[k]);
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          std::strchr("!#$&+-.^_`|~", c) != nullptr) {
        encoded += static_cast<char>(c);
      } else {
        encoded += '%';
        encoded += hex[c >> 4];
        encoded += hex[c & 15];
      }
    }
    if (piece.size() + encoded.size() > 54 && !piece.empty()) {
      pieces.push_back(piece);
      piece.clear();
    }
    piece += encoded;
    i += n;
  }
  if (!piece.empty() || pieces.empty()) pieces.push_back(piece);
  std::string out;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    if (k > 0) out += ";\r\n ";
    out += "filename*" + std::to_string(k) + "*=" + (k == 0 ? "UTF-8''" : "") + pieces[k];
  }
  return out;
}

std::string FormatDate(std::time_t when) {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  localtime_r(&when, &local);
  const long offset = local.tm_gmtoff / 60;
  const long absolute = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[local.tm_wday % 7],
                local.tm_mday, months[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                local.tm_sec, offset < 0 ? '-' : '+', absolute / 60, absolute % 60);
  return text;
}

std::string MimeTypeOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "application/octet-stream";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  static const struct {
    const char* ext;
    const char* type;
  } table[] = {{"pdf", "application/pdf"}, {"jpg", "image/jpeg"},  {"jpeg", "image/jpeg"},
               {"tif", "image/tiff"},      {"tiff", "image/tiff"}, {"png", "image/png"},
               {"gif", "image/gif"},       {"bmp", "image/bmp"},   {"txt", "text/plain"},
               {"mpg", "video/mpeg"},      {"mpeg", "video/mpeg"}, {"rtf", "application/rtf"}};
  for (const auto& entry : table)
    if (ext == entry.ext) return entry.type;
  return "application/octet-stream";
}

MimeError WriteMessage(const OutgoingMessage& message, int fd, std::string* failedPath) {
  if (!IsPlainAddress(message.from.address)) return MimeError::BadAddress;
  for (const auto* list : {&message.to, &message.cc, &message.bcc})
    for (const auto& entry : *list)
      if (!IsPlainAddress(entry.address)) return MimeError::BadAddress;
  // Every attachment is checked before the first byte is written, so a missing file fails at once.
  for (const auto& file : message.attachments) {
    struct stat info {};
    if (stat(file.path.c_str(), &info) != 0) {
      if (failedPath != nullptr) *failedPath = file.path;
      return errno == ENOENT ? MimeError::AttachmentNotFound : MimeError::AttachmentUnreadable;
    }
    if (!S_ISREG(info.st_mode) || access(file.path.c_str(), R_OK) != 0) {
      if (failedPath != nullptr) *failedPath = file.path;
      return MimeError::AttachmentUnreadable;
    }
  }
  Output out(fd);
  const std::time_t when = message.date != 0 ? message.date : std::time(nullptr);
  std::string head;
  head += "Date: " + FormatDate(when) + "\r\n";
  head += "From: " + FormatMailbox(message.from) + "\r\n";
  if (!message.to.empty()) head += "To: " + AddressList(message.to) + "\r\n";
  if (!message.cc.empty()) head += "Cc: " + AddressList(message.cc) + "\r\n";
  if (!message.subject.empty()) head += "Subject: " + EncodeHeaderText(message.subject) + "\r\n";
  std::string id = message.messageId;
  if (id.empty()) {
    const std::string& from = message.from.address;
    id = "<" + std::to_string(static_cast<long long>(when)) + "." + RandomHex(12) + "@" +
         from.substr(from.rfind('@') + 1) + ">";
  }
  head += "Message-ID: " + id + "\r\n";
  if (message.highImportance) head += "Importance: high\r\nX-Priority: 1\r\n";
  head += "MIME-Version: 1.0\r\n";
  if (message.attachments.empty()) {
    if (!out.Put(head)) return MimeError::WriteFailed;
    return WriteBody(out, message.body, std::string());
  }
  const std::string boundary = "=_marlin3_" + RandomHex(16);
  head += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  head += "This is a multi-part message in MIME format.\r\n";
  if (!out.Put(head)) return MimeError::WriteFailed;
  if (!out.Put("--" + boundary + "\r\n")) return MimeError::WriteFailed;
  MimeError result = WriteBody(out, message.body, "--" + boundary);
  if (result != MimeError::None) return result;
  for (const auto& file : message.attachments) {
    if (!out.Put("--" + boundary + "\r\n")) return MimeError::WriteFailed;
    result = WriteAttachment(out, file, failedPath);
    if (result != MimeError::None) return result;
  }
  if (!out.Put("--" + boundary + "--\r\n")) return MimeError::WriteFailed;
  return MimeError::None;
}

}  // namespace mapix
