// Character positions in UTF-8 texts for the edit and combo boxes: Win32 counts characters where this
// system keeps UTF-8, so lengths, limits and selections count characters and never cut a sequence.
#pragma once

#include <cstddef>
#include <string>

namespace platform::ui {

inline bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

inline int Utf8Length(const std::string& text) {
  int chars = 0;
  for (char c : text) chars += IsUtf8Continuation(c) ? 0 : 1;
  return chars;
}

// Byte offset of character index chars (clamped to the text; negative counts as 0).
inline std::size_t Utf8Offset(const std::string& text, int chars) {
  std::size_t pos = 0;
  for (int n = 0; n < chars && pos < text.size(); ++n) {
    ++pos;
    while (pos < text.size() && IsUtf8Continuation(text[pos])) ++pos;
  }
  return pos;
}

// The first chars characters of text.
inline std::string Utf8Left(const std::string& text, int chars) {
  return text.substr(0, Utf8Offset(text, chars));
}

}  // namespace platform::ui
