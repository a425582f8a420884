// The settings schema kept whole: every value name declared once, each reader's default and range as
// declared, and no source outside settings/ spelling a value's name itself (a literal there would read
// the value past its declaration, with a default or range of its own).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "settings/SettingsSchema.h"

namespace settings_test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value names of the schema, one entry per declaration, in the order declared.
std::vector<std::string> DeclaredNames() {
  const std::string header = ReadText(fs::path(MARLIN3_SOURCE_DIR) / "settings/SettingsSchema.h");
  const std::regex declaration(
      R"re(inline constexpr (?:(?:Int|Str|Bool|Dword)Value k\w+\s*\{\s*|const char\* k(?:Qs|Opt|Main|Port|Iris)\w*\s*=\s*)"([^"]*)")re");
  std::vector<std::string> names;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), declaration);
       it != std::sregex_iterator(); ++it)
    names.push_back((*it)[1]);
  return names;
}

struct Literal {
  int nLine;
  std::string strText;
};

// The string literals of C++ source outside comments, with the line each starts on.
std::vector<Literal> StringLiterals(const std::string& src) {
  std::vector<Literal> found;
  int line = 1;
  const size_t n = src.size();
  auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t i = 0; i < n; ++i) {
    const char c = src[i];
    if (c == '\n') {
      ++line;
    } else if (src.compare(i, 2, "//") == 0) {
      const size_t end = src.find('\n', i);
      i = (end == std::string::npos ? n : end) - 1;
    } else if (src.compare(i, 2, "/*") == 0) {
      const size_t end = src.find("*/", i + 2);
      const size_t stop = end == std::string::npos ? n : end + 2;
      for (size_t j = i; j < stop; ++j) line += src[j] == '\n';
      i = stop - 1;
    } else if (c == 'R' && i + 1 < n && src[i + 1] == '"' && (i == 0 || !isWord(src[i - 1]))) {
      const size_t open = src.find('(', i + 2);
      if (open == std::string::npos) break;
      const std::string close = ")" + src.substr(i + 2, open - i - 2) + "\"";
      const size_t end = src.find(close, open);
      const size_t stop = end == std::string::npos ? n : end;
      found.push_back({line, src.substr(open + 1, stop - open - 1)});
      for (size_t j = i; j < stop; ++j) line += src[j] == '\n';
      i = stop + close.size() - 1;
    } else if (c == '"') {
      std::string text;
      size_t j = i + 1;
      for (; j < n && src[j] != '"' && src[j] != '\n'; ++j) {
        if (src[j] == '\\' && j + 1 < n) text += src[j++];
        text += src[j];
      }
      found.push_back({line, text});
      i = j;
    } else if (c == '\'' && (i == 0 || !isWord(src[i - 1]))) {  // a digit separator follows a digit
      size_t j = i + 1;
      while (j < n && src[j] != '\'' && src[j] != '\n') j += src[j] == '\\' ? 2 : 1;
      i = j < n ? j : n - 1;
    }
  }
  return found;
}

TEST(SettingsSchema, EveryValueNameIsDeclaredOnce) {
  const std::vector<std::string> names = DeclaredNames();
  ASSERT_GT(names.size(), 50u);  // the pattern still sees the declarations
  std::map<std::string, int> count;
  for (const std::string& name : names) ++count[name];
  for (const auto& [name, times] : count)
    EXPECT_EQ(times, 1) << '"' << name << "\" is declared " << times << " times";
}

TEST(SettingsSchema, ReadersSeeTheirOwnDefaultAndRange) {
  using settings::Reader;
  struct Case {
    const char* label;
    settings::IntValue value;
    int nDefault, nMin, nMax;
  } cases[] = {
      {"Hide at start-up and scan", settings::kQsHide.For(Reader::kStartup), 16, 0, settings::kHideAll},
      {"Hide in the wizard", settings::kQsHide.For(Reader::kWizard), 16, settings::kAnyMin,
       settings::kAnyMax},
      {"Hide saved by the wizard", settings::kQsHide.For(Reader::kWizardSave), 0, settings::kAnyMin,
       settings::kAnyMax},
      {"Type at scan", settings::kQsType, 10, settings::kAnyMin, settings::kAnyMax},
      {"Type in the wizard", settings::kQsType.For(Reader::kWizard), 10, settings::kAnyMin,
       settings::kAnyMax},
      {"Type at start-up", settings::kQsType.For(Reader::kStartup), 0, settings::kAnyMin, settings::kAnyMax},
      {"Type for the output name", settings::kQsType.For(Reader::kOutputName), 0, settings::kAnyMin,
       settings::kAnyMax},
      {"InX at scan", settings::kQsInX, -1, settings::kAnyMin, settings::kAnyMax},
      {"InY in the wizard", settings::kQsInY.For(Reader::kWizard), 0, settings::kAnyMin, settings::kAnyMax},
      {"Bright", settings::kQsBright, 2000, -1000, 1000},
      {"Sleep", settings::kQsSleep, 1500, 0, settings::kAnyMax},
      {"PaperSize by locale", settings::kQsPaperSize.WithDefault(6), 6, settings::kAnyMin, settings::kAnyMax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.value.nDefault, c.nDefault);
    EXPECT_EQ(c.value.nMin, c.nMin);
    EXPECT_EQ(c.value.nMax, c.nMax);
  }
  EXPECT_STREQ(settings::kQsType.For(Reader::kStartup).pszName, "Type");
}

TEST(SettingsSchema, NoSourceOutsideSettingsSpellsAValueName) {
  std::map<std::string, int> names;
  for (const std::string& name : DeclaredNames()) names[name] = 0;
  // The same word meaning something else: the device monitor's own state file fields.
  const std::map<std::string, std::string> elsewhere = {{"devwatch/MonitorState.cpp", "DevAddr"}};
  const fs::path root(MARLIN3_SOURCE_DIR);
  std::vector<std::string> offences;
  size_t files = 0;
  for (const char* folder : {"app", "device", "devwatch", "log", "mail", "platform", "portbridge", "scan",
                             "toolkit", "tools", "ui"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".c")) continue;
      ++files;
      const std::string relative = fs::relative(entry.path(), root).string();
      for (const Literal& literal : StringLiterals(ReadText(entry.path()))) {
        if (names.count(literal.strText) == 0) continue;
        const auto allowed = elsewhere.find(relative);
        if (allowed != elsewhere.end() && allowed->second == literal.strText) continue;
        offences.push_back(relative + ":" + std::to_string(literal.nLine) + ": \"" + literal.strText + "\"");
      }
    }
  }
  EXPECT_GT(files, 100u);
  for (const std::string& offence : offences)
    ADD_FAILURE() << offence << " names a settings value: use its declaration in settings/SettingsSchema.h";
}

TEST(SettingsSchema, TheLiteralScanSeesCodeNotComments) {
  const auto literals = StringLiterals(
      "// \"Hide\" in a comment\n"
      "/* \"Type\"\n */ f(\"Res\", 'x', '\"', 1'000);\n"
      "g(R\"(raw \"Dir\")\", \"a\\\"b\");\n");
  ASSERT_EQ(literals.size(), 3u);
  EXPECT_EQ(literals[0].strText, "Res");
  EXPECT_EQ(literals[0].nLine, 3);
  EXPECT_EQ(literals[1].strText, "raw \"Dir\"");
  EXPECT_EQ(literals[1].nLine, 4);
  EXPECT_EQ(literals[2].strText, "a\\\"b");
}

}  // namespace
}  // namespace settings_test
