// The built resource library in every language it ships: access keys that work (no two controls a
// page shows together, with its sheet's buttons, share one), texts the registry and the device read
// that stay English, the language picked from the locale, and layouts whose texts fit with the Qt
// host's font (through marlin3-screenshot --check).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/module/Module.h"
#include "platform/resource/Resource.h"
#include "platform/ui/StockText.h"
#include "tests/resources/ManifestReader.h"

namespace {

using platform::resource::FindDialog;
using platform::ui::Stock;
using platform::ui::StockText;

constexpr WORD kEnglish = 1033;

class LanguageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string error;
    s_manifest = ReadManifest(MARLIN3_SOURCE_DIR "/resources/manifest.txt", error);
    s_module = LoadLibraryA("marlin3.dll");
  }
  static void TearDownTestSuite() {
    if (s_module != nullptr) FreeLibrary(s_module);
    s_module = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(s_module, nullptr) << "libmarlin3.so not beside the test program";
    ASSERT_GE(s_manifest.languages.size(), 2u);
  }
  static std::vector<WORD> Languages() {
    std::vector<WORD> all = {kEnglish};
    for (unsigned l : s_manifest.languages) all.push_back(static_cast<WORD>(l));
    return all;
  }
  static std::string Text(UINT id, WORD language) {
    std::string text;
    platform::resource::LoadString(s_module, id, language, text);
    return text;
  }

  static inline HMODULE s_module = nullptr;
  static inline Manifest s_manifest;
};

// The access key of a text ("&&" is a plain "&"), upper-cased; 0 when it has none.
char32_t AccessKey(const std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.c_str() + i + 1);
    char32_t c = *p;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (more > 0) c &= 0x3F >> more;
    for (int k = 1; k <= more && p[k] != 0; ++k) c = (c << 6) | (p[k] & 0x3F);
    return static_cast<char32_t>(std::towupper(static_cast<wint_t>(c)));
  }
  return 0;
}

// Whether the host gives a control's "&" an access key: buttons and labels, not data labels.
bool TakesAccessKey(const M3ResControl& c) {
  switch (c.kind) {
    case M3_PUSHBUTTON:
    case M3_DEFPUSHBUTTON:
    case M3_CHECKBOX:
    case M3_RADIOBUTTON:
    case M3_GROUPBOX:
      return true;
    case M3_STATIC:
      return (c.style & M3_NOPREFIX) == 0;
    default:
      return false;
  }
}

// The sets of controls a template shows at once: all but those created hidden, and for each control
// created hidden in another's place, the same set with the one in place of the other.
std::vector<std::vector<const M3ResControl*>> ShownTogether(const M3ResDialog& d) {
  std::vector<const M3ResControl*> shown;
  std::vector<const M3ResControl*> hidden;
  for (std::uint32_t i = 0; i < d.controlCount; ++i)
    ((d.controls[i].style & M3_HIDDEN) != 0 ? hidden : shown).push_back(&d.controls[i]);
  std::vector<std::vector<const M3ResControl*>> sets = {shown};
  for (const M3ResControl* h : hidden) {
    std::vector<const M3ResControl*> set;
    for (const M3ResControl* c : shown)
      if (c->x != h->x || c->y != h->y || c->cx != h->cx || c->cy != h->cy) set.push_back(c);
    set.push_back(h);
    sets.push_back(set);
  }
  return sets;
}

TEST_F(LanguageTest, NoTwoControlsShownTogetherShareAnAccessKey) {
  int checked = 0;
  for (WORD language : Languages()) {
    // The wizard's row: Back, Next, Cancel, and Finish with each text the program gives it.
    std::vector<std::string> sheet = {StockText(Stock::kBack, language),
                                      StockText(Stock::kNext, language),
                                      StockText(Stock::kFinish, language),
                                      StockText(Stock::kCancel, language),
                                      Text(95, language),
                                      Text(106, language),
                                      Text(107, language)};
    for (UINT id : platform::resource::DialogIds(s_module)) {
      const M3ResDialog* d = FindDialog(s_module, id, language);
      ASSERT_NE(d, nullptr);
      for (const auto& set : ShownTogether(*d)) {
        std::map<char32_t, std::string> owners;
        auto add = [&](const std::string& text) {
          const char32_t key = AccessKey(text);
          if (key == 0) return;
          const auto [it, fresh] = owners.emplace(key, text);
          EXPECT_TRUE(fresh) << "language " << language << ", template " << id << ": \"" << it->second
                             << "\" and \"" << text << "\" share an access key";
        };
        for (const M3ResControl* c : set)
          if (TakesAccessKey(*c)) add(c->text);
        if (d->kind == M3_PROPERTY_PAGE)
          for (const std::string& b : sheet) add(b);
        ++checked;
      }
    }
  }
  EXPECT_GE(checked, static_cast<int>(Languages().size()) * 22);  // every template, one hidden alternative
}

TEST_F(LanguageTest, EveryShippedLanguageHasItsOwnTemplatesAndStrings) {
  for (WORD language : Languages()) {
    if (language == kEnglish) continue;
    SCOPED_TRACE("language " + std::to_string(language));
    const M3ResDialog* english = FindDialog(s_module, 131, kEnglish);
    const M3ResDialog* local = FindDialog(s_module, 131, language);
    ASSERT_NE(local, english);
    ASSERT_EQ(local->controlCount, english->controlCount);
    for (std::uint32_t i = 0; i < english->controlCount; ++i) {
      EXPECT_EQ(local->controls[i].id, english->controls[i].id);
      EXPECT_EQ(local->controls[i].x, english->controls[i].x);
      EXPECT_EQ(local->controls[i].cx, english->controls[i].cx);
    }
    EXPECT_STRNE(local->caption, english->caption);
    EXPECT_NE(Text(146, language), Text(146, kEnglish));
    // Placeholders survive: the summary's "%1 %2" and the replace question's "%1".
    EXPECT_NE(Text(219, language).find("%1"), std::string::npos);
  }
}

TEST_F(LanguageTest, NamesThatTheRegistryTheDeviceAndFilesReadNeverChange) {
  for (const ManifestString& s : s_manifest.strings) {
    if (s.check != "key" && s.check != "dest" && s.check != "ext" && s.check != "title") continue;
    for (WORD language : Languages())
      EXPECT_EQ(Text(s.id, language), Text(s.id, kEnglish)) << "string " << s.id << ", language " << language;
  }
}

TEST(UserLanguageTest, ChosenFromTheLocaleAsWindowsPicksItsResources) {
  struct Case {
    const char* all;
    const char* messages;
    const char* lang;
    WORD expected;
  } cases[] = {
      {"de_DE.UTF-8", "fi_FI.UTF-8", "ru_RU.UTF-8", 1031},  // LC_ALL first
      {"", "fi_FI.UTF-8", "ru_RU.UTF-8", 1035},             // an empty one counts as unset
      {nullptr, nullptr, "th_TH.UTF-8", 1054},
      {nullptr, nullptr, "zh_TW.UTF-8", 1028},
      {nullptr, nullptr, "pt_BR", 1046},
      {nullptr, nullptr, "C", 1033},
      {nullptr, nullptr, nullptr, 1033},
  };
  for (const Case& c : cases) {
    auto set = [](const char* name, const char* value) {
      if (value != nullptr)
        ::setenv(name, value, 1);
      else
        ::unsetenv(name);
    };
    set("LC_ALL", c.all);
    set("LC_MESSAGES", c.messages);
    set("LANG", c.lang);
    EXPECT_EQ(platform::resource::UserLanguage(), c.expected) << (c.lang ? c.lang : "(none)");
  }
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  ::unsetenv("LANG");
}

TEST(LanguageMatchTest, ACountryReadsItsLanguageAndChineseItsScript) {
  using platform::resource::LanguageMatch;
  EXPECT_EQ(LanguageMatch(1031, 1031), 4);
  EXPECT_EQ(LanguageMatch(1031, 3079), 3);                          // Austria reads German
  EXPECT_EQ(LanguageMatch(3082, 2058), 3);                          // Mexico reads Spanish
  EXPECT_EQ(LanguageMatch(1046, 2070), 3);                          // Portugal reads Brazilian Portuguese
  EXPECT_EQ(LanguageMatch(1044, 2068), 3);                          // Nynorsk reads Bokmål
  EXPECT_GT(LanguageMatch(1028, 3076), LanguageMatch(2052, 3076));  // Hong Kong: traditional
  EXPECT_GT(LanguageMatch(2052, 4100), LanguageMatch(1028, 4100));  // Singapore: simplified
  EXPECT_EQ(LanguageMatch(1033, 1049), 1);
  EXPECT_EQ(LanguageMatch(1031, 1049), 0);
}

TEST_F(LanguageTest, StockButtonsComeInEveryShippedLanguage) {
  const std::vector<WORD> stock = platform::ui::StockLanguages();
  for (WORD language : Languages()) {
    EXPECT_NE(std::find(stock.begin(), stock.end(), language), stock.end()) << language;
    if (language != kEnglish)
      EXPECT_NE(StockText(Stock::kCancel, language), StockText(Stock::kCancel, kEnglish)) << language;
    for (Stock s : {Stock::kBack, Stock::kNext, Stock::kYes, Stock::kNo})
      EXPECT_NE(AccessKey(StockText(s, language)), 0u) << language;
  }
}

// Every template rendered by the Qt host offscreen in each language: every text fits its control.
TEST_F(LanguageTest, EveryTextFitsItsControlWithTheHostsFont) {
  const std::map<WORD, const char*> locales = {
      {1028, "zh_TW.UTF-8"}, {1029, "cs_CZ.UTF-8"}, {1030, "da_DK.UTF-8"}, {1031, "de_DE.UTF-8"},
      {1033, "en_US.UTF-8"}, {1035, "fi_FI.UTF-8"}, {1036, "fr_FR.UTF-8"}, {1038, "hu_HU.UTF-8"},
      {1040, "it_IT.UTF-8"}, {1042, "ko_KR.UTF-8"}, {1043, "nl_NL.UTF-8"}, {1044, "nb_NO.UTF-8"},
      {1045, "pl_PL.UTF-8"}, {1046, "pt_BR.UTF-8"}, {1049, "ru_RU.UTF-8"}, {1053, "sv_SE.UTF-8"},
      {1054, "th_TH.UTF-8"}, {1055, "tr_TR.UTF-8"}, {2052, "zh_CN.UTF-8"}, {3082, "es_ES.UTF-8"}};
  for (WORD language : Languages()) {
    ASSERT_EQ(locales.count(language), 1u) << language;
    const std::string command = std::string("env -u LANG -u LC_MESSAGES LC_ALL=") + locales.at(language) +
                                " QT_QPA_PLATFORM=offscreen '" MARLIN3_BIN_DIR
                                "/marlin3-screenshot' --check 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << locales.at(language) << ":\n" << out;
  }
}

}  // namespace
