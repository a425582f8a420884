// HTTP's text rules shared by DEVWATCH, the device's form values and the device simulator: the
// encoder's byte classes, and the field splitter and Content-Length reader on what a peer may send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/inet/HttpText.h"

namespace {

using namespace platform::inet;

TEST(HttpTextTest, PercentEncodesEveryByteOutsideTheKeptSet) {
  const PercentStyle unreserved{kUrlUnreserved};
  const PercentStyle form{"ab", Blank::Plus, AsciiHex::LowerCase};
  const struct {
    const PercentStyle& style;
    std::string in, out;
  } cases[] = {
      {unreserved, "Az09-._~", "Az09-._~"},
      {unreserved, "a b/^", "a%20b%2F%5E"},
      {unreserved, std::string("\0\xFF", 2), "%00%FF"},
      // Lower case applies below 0x80 only; a blank is "+" only in the form style.
      {form, "ab ^\xC3\xA9", "ab+%5e%C3%A9"},
      {form, "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentEncode(c.in, c.style), c.out) << c.in;
}

TEST(HttpTextTest, SplitsFieldLinesAfterTheStartLine) {
  std::vector<HttpField> fields;
  ASSERT_TRUE(
      SplitHeaderFields("GET / HTTP/1.1\r\nHost: \t a:b \t\r\nX-Empty:\r\n: no name\r\nLf: a\nb", fields));
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0].name, "Host");
  EXPECT_EQ(fields[0].value, "a:b");
  EXPECT_EQ(fields[1].value, "");
  EXPECT_EQ(fields[2].name, "");
  EXPECT_EQ(fields[3].value, "a\nb");  // only CR LF ends a line

  fields.clear();
  EXPECT_TRUE(SplitHeaderFields("HTTP/1.1 200 OK", fields));
  EXPECT_TRUE(fields.empty());
  EXPECT_FALSE(SplitHeaderFields("HTTP/1.1 200 OK\r\nA: 1\r\nno colon\r\nB: 2", fields));
  EXPECT_EQ(fields.size(), 1u);
}

TEST(HttpTextTest, ContentLengthIsDigitsOnly) {
  for (const char* bad : {"", "+1", "-1", " 1", "1 ", "0x10", "1,2", "18446744073709551616"}) {
    unsigned long long length = 7;
    EXPECT_FALSE(ParseContentLength(bad, length)) << bad;
    EXPECT_EQ(length, 7u) << bad;
  }
  unsigned long long length = 0;
  ASSERT_TRUE(ParseContentLength("0018446744073709551615", length));
  EXPECT_EQ(length, 18446744073709551615ull);
}

}  // namespace
