// Text rules of HTTP shared by every piece that writes or reads it by hand (DEVWATCH's look at the
// device, the device's form values, the device simulator): percent-encoding (RFC 3986 2.1) and the
// field lines of a message head (RFC 9112 5). Pure: no I/O, no allocation beyond the results. The field
// splitter is fed from the network; it is bounded by its input and has a fuzz target (fuzz_http_fields).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::inet {

// RFC 3986 2.3's unreserved characters.
inline constexpr std::string_view kUrlUnreserved =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";

enum class Blank { Escaped, Plus };            // a form body writes a blank as "+"
enum class AsciiHex { UpperCase, LowerCase };  // the hex case of an escaped byte below 0x80

struct PercentStyle {
  std::string_view kept;  // the bytes written as they stand
  Blank blank = Blank::Escaped;
  AsciiHex asciiHex = AsciiHex::UpperCase;  // bytes from 0x80 up are always escaped in upper case
};

// Every byte of text not in style.kept as "%XX".
std::string PercentEncode(std::string_view text, const PercentStyle& style);

struct HttpField {
  std::string_view name;   // as sent; may be empty, which a caller may refuse
  std::string_view value;  // blanks and tabs around it removed
};

// Splits the field lines of head (the start line and the field lines, CR LF between them, without the
// empty line that ends a head) into fields, in order; the start line is skipped. False at a line
// without a colon, with fields holding those before it.
bool SplitHeaderFields(std::string_view head, std::vector<HttpField>& fields);

// A Content-Length value (RFC 9110 8.6): decimal digits only, no sign, no blank, at least one.
bool ParseContentLength(std::string_view value, unsigned long long& length);

}  // namespace platform::inet
