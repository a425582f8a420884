// The program's own string 3000: twenty language variants, chosen by the user's language with the
// primary language and then English as fallbacks.
#include <gtest/gtest.h>

#include <set>

#include "app/OwnStrings.h"

namespace {

const std::string kEnglish = "Error: English language resources not found - Reinstall nx Printer Software.";

TEST(OwnStrings, TwentyDistinctVariants) {
  const WORD languages[] = {1028, 1029, 1030, 1031, 1033, 1035, 1036, 1038, 1040, 1042,
                            1043, 1044, 1045, 1046, 1049, 1053, 1054, 1055, 2052, 3082};
  std::set<std::string> texts;
  for (WORD language : languages) {
    std::string text;
    ASSERT_TRUE(OwnStrings::Load(3000, language, text)) << language;
    EXPECT_NE(text.find("nx Printer Software"), std::string::npos) << language;
    if (language != 1033) {
      EXPECT_NE(text, kEnglish) << language;
    }
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 20u);
}

TEST(OwnStrings, LanguageChoice) {
  struct Case {
    WORD language;
    WORD expectedVariant;
  };
  const Case cases[] = {
      {1033, 1033}, {2057, 1033},  // English (United Kingdom): same primary language
      {1031, 1031}, {2055, 1031},  // German (Switzerland)
      {3084, 1036},                // French (Canada)
      {2070, 1046},                // Portuguese (Portugal) -> the Brazilian variant
      {1034, 3082},                // Spanish, traditional sort
      {1081, 1033}, {0, 1033},     // Hindi, unknown: English
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    std::string text;
    std::string expected;
    ASSERT_TRUE(OwnStrings::Load(3000, c.language, text));
    ASSERT_TRUE(OwnStrings::Load(3000, c.expectedVariant, expected));
    EXPECT_EQ(text, expected);
  }
  std::string english;
  OwnStrings::Load(3000, 1033, english);
  EXPECT_EQ(english, kEnglish);
}

TEST(OwnStrings, OnlyString3000IsOwned) {
  std::string text = "junk";
  EXPECT_FALSE(OwnStrings::Load(230, 1033, text));
  EXPECT_EQ(text, "");
}

}  // namespace
