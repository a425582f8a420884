#include "mail/MailText.h"

#include <cstring>

namespace mailtext {

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

std::vector<std::string> SplitAddresses(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string piece = Trim(text.substr(start, comma - start));
    if (!piece.empty()) pieces.push_back(piece);
    start = comma + 1;
  }
  return pieces;
}

bool CopyCut(const std::string& text, char* buffer, std::size_t size) {
  if (size == 0) return text.empty();
  std::size_t length = text.size();
  if (length > size - 1) {
    length = size - 1;
    // Back up over continuation bytes so no character is split.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length == text.size();
}

}  // namespace mailtext
