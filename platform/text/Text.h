// UTF-8 text rules of the platform (docs/platform.md "Conventions"): where Windows code converted one
// byte of the ANSI code page to one UTF-16 unit, this code decodes one UTF-8 character to its code point, and
// a malformed sequence is one byte that does not convert. Callers: FindInvalidChar, the registry's name
// folding, FindFirstFile's wildcard match, every copy into a fixed 260-character buffer.
// Upper-casing uses a fixed table (Unicode simple upper case of ASCII, Latin-1, Latin Extended-A/B, IPA,
// Greek, Cyrillic and Latin Extended Additional) rather than towupper: the registry stores folded names,
// so the fold must not depend on the process's locale. Other code points and malformed bytes are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::text {

// Decodes one UTF-8 character at s (len bytes available). Returns the bytes consumed (1 to 4) and the
// code point, or 0 when the sequence is malformed (overlong, surrogate, above U+10FFFF, truncated) or
// len is 0. The caller then treats one byte as unconvertible and goes on with the next.
int DecodeUtf8Char(const char* s, size_t len, uint32_t* codePoint);

// Appends the UTF-8 form of a code point (U+FFFD for an invalid one).
void AppendUtf8(std::string& out, uint32_t codePoint);

// Simple upper case of one code point (table above; unchanged when it has none).
uint32_t ToUpper(uint32_t codePoint);

// The text with every decodable character upper-cased; malformed bytes are copied unchanged.
std::string ToUpperUtf8(std::string_view s);

// Case-insensitive comparison: compares ToUpperUtf8(a) and ToUpperUtf8(b) byte by byte (which is code
// point order). Returns <0, 0 or >0.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return CompareNoCase(a, b) == 0;
}

// Copies src into dst (size bytes including the terminating zero), cutting at a character boundary so
// no UTF-8 character is split. Always zero-terminates when size > 0. Returns true when all of src fit.
bool CopyTruncated(char* dst, size_t size, std::string_view src);

// Windows wildcard match ('*' any run, '?' one character), ignoring case as Windows file systems do.
// The pattern "*.*" matches every name, with or without a dot; a pattern ending in "." matches names
// without an extension ("*." matches "README" but not "a.txt").
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace platform::text
