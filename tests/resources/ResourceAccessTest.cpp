// The access layer on a small library generated from tests/data/resources/good: Win32 LoadStringA
// (truncation, missing strings, last error), language choice with English fallback, template and icon
// look-up, and the locale-to-language mapping.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/module/Module.h"
#include "platform/resource/Resource.h"

namespace {

using platform::resource::kErrorResourceNameNotFound;

// Sets the locale variables for one test and restores them afterwards.
class LocaleScope {
 public:
  LocaleScope(const char* lcAll, const char* lcMessages, const char* lang) {
    Save("LC_ALL", lcAll, m_all);
    Save("LC_MESSAGES", lcMessages, m_messages);
    Save("LANG", lang, m_lang);
  }
  ~LocaleScope() {
    Restore("LC_ALL", m_all);
    Restore("LC_MESSAGES", m_messages);
    Restore("LANG", m_lang);
  }

 private:
  struct Saved {
    bool set = false;
    std::string value;
  };
  static void Save(const char* name, const char* value, Saved& saved) {
    const char* old = getenv(name);
    saved.set = old != nullptr;
    if (old != nullptr) saved.value = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  static void Restore(const char* name, const Saved& saved) {
    if (saved.set) {
      setenv(name, saved.value.c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  Saved m_all, m_messages, m_lang;
};

class ResourceAccessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_module = LoadLibraryA("m3restest.dll"); }
  static void TearDownTestSuite() {
    if (s_module != nullptr) FreeLibrary(s_module);
  }
  void SetUp() override { ASSERT_NE(s_module, nullptr) << "libm3restest.so not beside the test program"; }
  static inline HMODULE s_module = nullptr;
};

TEST_F(ResourceAccessTest, LoadStringACopiesAndCuts) {
  LocaleScope english("C", nullptr, nullptr);
  struct Case {
    UINT id;
    int bufferMax;
    const char* expected;
  };
  // String 3 is "Café €5": "é" is 2 bytes and "€" 3, so a cut inside either ends before it.
  const Case cases[] = {
      {1, 64, "Hello"},
      {1, 6, "Hello"},
      {1, 5, "Hell"},
      {1, 1, ""},
      {3, 64,
       "Caf\xc3\xa9 \xe2\x82\xac"
       "5"},
      {3, 5, "Caf"},
      {3, 6, "Caf\xc3\xa9"},
      {3, 8, "Caf\xc3\xa9 "},
      {3, 9, "Caf\xc3\xa9 "},
      {3, 10, "Caf\xc3\xa9 \xe2\x82\xac"},
      {3, 11,
       "Caf\xc3\xa9 \xe2\x82\xac"
       "5"},
  };
  for (const Case& c : cases) {
    char buffer[80];
    std::memset(buffer, 'x', sizeof buffer);
    const int n = LoadStringA(s_module, c.id, buffer, c.bufferMax);
    EXPECT_STREQ(buffer, c.expected) << "id " << c.id << " max " << c.bufferMax;
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
    EXPECT_EQ(buffer[c.bufferMax], 'x') << "wrote past the buffer";
  }
}

TEST_F(ResourceAccessTest, LoadStringAReportsMissingStringsAndBadArguments) {
  LocaleScope english("C", nullptr, nullptr);
  char buffer[16] = "unchanged";
  platform::SetLastError(0);
  EXPECT_EQ(LoadStringA(s_module, 99, buffer, sizeof buffer), 0);
  EXPECT_EQ(platform::GetLastError(), kErrorResourceNameNotFound);
  EXPECT_STREQ(buffer, "");

  std::strcpy(buffer, "unchanged");
  platform::SetLastError(0);
  EXPECT_EQ(LoadStringA(nullptr, 1, buffer, sizeof buffer), 0);
  EXPECT_EQ(platform::GetLastError(), kErrorResourceNameNotFound);

  platform::SetLastError(0);
  EXPECT_EQ(LoadStringA(s_module, 1, buffer, 0), 0);
  EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(LoadStringA(s_module, 1, buffer, -4), 0);
  EXPECT_EQ(LoadStringA(s_module, 1, nullptr, 16), 0);
  EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ResourceAccessTest, LoadStringPrefersTheUserLanguageThenEnglish) {
  struct Case {
    const char* lang;
    UINT id;
    bool found;
    const char* expected;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", 1, true, "Hallo"},
      {"de_AT.UTF-8", 1, true, "Hallo"},  // 3079 has no table: German of Germany, as Windows falls back
      {"de_DE.UTF-8", 4, true, "Only English"},
      {"fr_FR.UTF-8", 2, true, "Replace \"%1\"?"},
      {"en_US.UTF-8", 7, true, "Nur Deutsch"},  // no English text: the one language there is
      {"C", 1, true, "Hello"},
      {"de_DE", 99, false, ""},
  };
  for (const Case& c : cases) {
    LocaleScope scope(nullptr, nullptr, c.lang);
    std::string text = "stale";
    EXPECT_EQ(platform::resource::LoadString(s_module, c.id, text), c.found) << c.lang << " " << c.id;
    EXPECT_EQ(text, c.expected) << c.lang << " " << c.id;
  }
  std::string text = "stale";
  EXPECT_FALSE(platform::resource::LoadString(nullptr, 1, text));
  EXPECT_EQ(text, "");
}

TEST_F(ResourceAccessTest, TemplatesComeInTheUsersLanguageWithTheEnglishLayout) {
  const M3ResDialog* english = platform::resource::FindDialog(s_module, 10, 1033);
  const M3ResDialog* german = platform::resource::FindDialog(s_module, 10, 1031);
  ASSERT_NE(english, nullptr);
  ASSERT_NE(german, nullptr);
  EXPECT_STREQ(english->caption, "Test Dialog");
  EXPECT_STREQ(german->caption, "Testdialog");
  EXPECT_STREQ(german->controls[4].text, "Abbrechen");
  EXPECT_STREQ(german->controls[3].text, "OK");  // not translated: the English text
  EXPECT_EQ(german->controls[2].id, english->controls[2].id);
  EXPECT_EQ(german->controls[2].x, english->controls[2].x);
  // Austria reads German; a language the library lacks reads English.
  EXPECT_EQ(platform::resource::FindDialog(s_module, 10, 3079), german);
  EXPECT_EQ(platform::resource::FindDialog(s_module, 10, 1049), english);
  {
    LocaleScope scope("de_CH.UTF-8", nullptr, nullptr);
    EXPECT_EQ(platform::resource::FindDialog(s_module, 10), german);
  }
}

TEST_F(ResourceAccessTest, FindsTemplatesAndIconsByNumber) {
  const M3ResDialog* dialog = platform::resource::FindDialog(s_module, 10);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->kind, M3_DIALOG);
  EXPECT_EQ(dialog->cx, 200);
  EXPECT_EQ(dialog->cy, 80);
  EXPECT_STREQ(dialog->caption, "Test Dialog");
  EXPECT_STREQ(dialog->fontName, "Sans Serif");
  ASSERT_EQ(dialog->controlCount, 5u);
  const M3ResControl& edit = dialog->controls[2];
  EXPECT_EQ(edit.id, 100);
  EXPECT_EQ(edit.kind, M3_EDIT);
  EXPECT_EQ(edit.style, static_cast<std::uint32_t>(M3_GROUP | M3_TABSTOP | M3_BORDER));
  EXPECT_EQ(edit.x, 56);
  EXPECT_EQ(edit.y, 19);
  EXPECT_EQ(edit.cx, 130);
  EXPECT_EQ(edit.cy, 14);
  EXPECT_STREQ(dialog->controls[1].text, "&Name:");
  EXPECT_EQ(dialog->controls[0].id, -1);

  EXPECT_EQ(platform::resource::FindDialog(s_module, 11), nullptr);
  EXPECT_EQ(platform::resource::FindDialog(s_module, 9), nullptr);
  EXPECT_EQ(platform::resource::FindDialog(nullptr, 10), nullptr);
  EXPECT_EQ(platform::resource::DialogIds(s_module), std::vector<UINT>{10});
  EXPECT_TRUE(platform::resource::DialogIds(nullptr).empty());

  const M3ResIcon* icon = platform::resource::FindIcon(s_module, 5);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(std::memcmp(icon->png, "\x89PNG", 4), 0);
  EXPECT_EQ(platform::resource::FindIcon(s_module, 128), nullptr);
}

TEST_F(ResourceAccessTest, ALibraryWithoutTheTablesHoldsNothing) {
  // The C library is loaded in every process and exports none of the m3res_ functions.
  HMODULE other = LoadLibraryA("libc.so.6");
  ASSERT_NE(other, nullptr);
  char buffer[8];
  EXPECT_EQ(LoadStringA(other, 1, buffer, sizeof buffer), 0);
  EXPECT_EQ(platform::GetLastError(), kErrorResourceNameNotFound);
  EXPECT_EQ(platform::resource::FindDialog(other, 10), nullptr);
  EXPECT_EQ(platform::resource::FindIcon(other, 5), nullptr);
  EXPECT_TRUE(platform::resource::DialogIds(other).empty());
  FreeLibrary(other);
}

TEST(UserLanguageTest, MapsLocaleNamesToWindowsLanguages) {
  struct Case {
    const char* locale;
    WORD id;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", 1031},
      {"de_CH.UTF-8", 2055},
      {"de", 1031},
      {"fr_CA.UTF-8", 3084},
      {"fr_FR@euro", 1036},
      {"pt_BR.UTF-8", 1046},
      {"pt_PT.UTF-8", 2070},
      {"zh_CN.UTF-8", 2052},
      {"zh_TW.UTF-8", 1028},
      {"es_ES.UTF-8", 3082},
      {"es_MX", 2058},
      {"en_GB.UTF-8", 2057},
      {"sv_SE", 1053},
      {"nb_NO.UTF-8", 1044},
      {"EN_us", 1033},
      {"C", 1033},
      {"POSIX", 1033},
      {"C.UTF-8", 1033},
      {"", 1033},
      {"xx_YY", 1033},
      {"_DE", 1033},
      {"ja_JP.eucJP", 1041},
      {"tr_TR", 1055},
      {"ko-KR", 1042},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::resource::LanguageFromLocale(c.locale), c.id) << c.locale;
  EXPECT_EQ(platform::resource::LanguageFromLocale(nullptr), 1033);
  const std::string huge(100000, 'a');
  EXPECT_EQ(platform::resource::LanguageFromLocale(huge.c_str()), 1033);
}

TEST(UserLanguageTest, FollowsThePosixOrderOfTheVariables) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    WORD id;
  };
  const Case cases[] = {
      {"fr_FR.UTF-8", "de_DE.UTF-8", "it_IT.UTF-8", 1036},
      {nullptr, "de_DE.UTF-8", "it_IT.UTF-8", 1031},
      {"", "", "it_IT.UTF-8", 1040},
      {nullptr, nullptr, nullptr, 1033},
      {nullptr, nullptr, "C", 1033},
  };
  for (const Case& c : cases) {
    LocaleScope scope(c.lcAll, c.lcMessages, c.lang);
    EXPECT_EQ(platform::resource::UserLanguage(), c.id);
  }
}

}  // namespace
