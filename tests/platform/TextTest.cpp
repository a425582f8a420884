// UTF-8 rules, upper-casing (checked against glibc's C.UTF-8 as an independent reference), truncation,
// wildcards.
#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <cstring>

#include "platform/text/Text.h"

namespace {

using namespace platform::text;

TEST(TextTest, DecodesAndRejectsMalformedSequences) {
  struct Case {
    std::string bytes;
    int consumed;
    uint32_t cp;
  } cases[] = {
      {"A", 1, 0x41},
      {"\xC3\xA9", 2, 0xE9},
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xC3", 0, 0},              // truncated
      {"\xC0\x80", 0, 0},          // overlong
      {"\xE0\x80\xAF", 0, 0},      // overlong
      {"\xED\xA0\x80", 0, 0},      // surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // above U+10FFFF
      {"\x80", 0, 0},              // continuation byte alone
      {"\xFF", 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t cp = 0;
    EXPECT_EQ(c.consumed, DecodeUtf8Char(c.bytes.data(), c.bytes.size(), &cp)) << c.bytes;
    if (c.consumed) {
      EXPECT_EQ(c.cp, cp);
    }
  }
  EXPECT_EQ(0, DecodeUtf8Char("", 0, nullptr));
}

TEST(TextTest, UpperTableMatchesGlibc) {
  locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (!loc) GTEST_SKIP() << "no C.UTF-8 locale";
  for (uint32_t cp = 0; cp <= 0x52F; ++cp)
    EXPECT_EQ(static_cast<uint32_t>(towupper_l(cp, loc)), ToUpper(cp)) << std::hex << cp;
  for (uint32_t cp = 0x1E00; cp <= 0x1EFF; ++cp)
    EXPECT_EQ(static_cast<uint32_t>(towupper_l(cp, loc)), ToUpper(cp)) << std::hex << cp;
  freelocale(loc);
}

TEST(TextTest, UpperCasingAndComparison) {
  EXPECT_EQ("ÄRGER ÉCOLE ПРИВЕТ", ToUpperUtf8("ärger école привет"));
  EXPECT_EQ(
      "A\xFF"
      "B",
      ToUpperUtf8("a\xFF"
                  "b"));  // malformed bytes stay
  EXPECT_TRUE(EqualsNoCase("Straße", "STRAßE"));
  EXPECT_TRUE(EqualsNoCase("Ölfeld", "öLFELD"));
  EXPECT_LT(CompareNoCase("alpha", "BETA"), 0);
  EXPECT_GT(CompareNoCase("_x", "Zulu"), 0);  // upper-case order, as Windows
  EXPECT_LT(CompareNoCase("abc", "ABCD"), 0);
}

TEST(TextTest, CopyTruncatedNeverSplitsACharacter) {
  char buf[6];
  EXPECT_TRUE(CopyTruncated(buf, sizeof buf, "abc"));
  EXPECT_STREQ("abc", buf);
  EXPECT_FALSE(CopyTruncated(buf, sizeof buf, "abcd€"));  // € is 3 bytes: only "abcd" fits
  EXPECT_STREQ("abcd", buf);
  EXPECT_FALSE(CopyTruncated(buf, sizeof buf, "abcdefgh"));
  EXPECT_STREQ("abcde", buf);
  char one[1];
  EXPECT_FALSE(CopyTruncated(one, 1, "x"));
  EXPECT_STREQ("", one);
  std::string big(1000, 'x');
  char path[260];
  EXPECT_FALSE(CopyTruncated(path, sizeof path, big));
  EXPECT_EQ(259u, std::strlen(path));
}

TEST(TextTest, WildcardsFollowWindows) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "README", true},
      {"*.*", "a.b.c", true},
      {"*", ".hidden", true},
      {"*.jpg", "PHOTO.JPG", true},
      {"*.jpg", "photo.jpeg", false},
      {"scan?.tif", "scan1.tif", true},
      {"scan?.tif", "scan12.tif", false},
      {"a*.*", "abc", true},
      {"*.", "README", true},
      {"*.", "a.txt", false},
      {"marlin*", "Marlin3.log", true},
      {"é*", "École", true},
      {"*x*y", "axbxcy", true},
      {"?", "€", true},
      {"", "a", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.match, WildcardMatch(c.pattern, c.name)) << c.pattern << " " << c.name;
}

}  // namespace
