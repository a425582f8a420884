// Temporary folder, documents folder, computer name, locale country code and language identifier.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "TestUtil.h"
#include "platform/folders/Folders.h"
#include "platform/folders/XdgFolders.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
// glibc's newlocale leaks its copy of LOCPATH (the test sets LOCPATH to compile missing locales).
struct LocpathLeakIgnored {
  LocpathLeakIgnored() { __lsan_disable(); }
  ~LocpathLeakIgnored() { __lsan_enable(); }
};
#else
struct LocpathLeakIgnored {
  LocpathLeakIgnored() {}  // user-provided, so the guard variable does not count as unused
};
#endif

namespace {

TEST(FoldersTest, TempPathFollowsTmpdirWithWindowsReturnValues) {
  {
    testutil::ScopedEnv tmp("TMPDIR", nullptr);
    char buf[260];
    EXPECT_EQ(5u, GetTempPathA(sizeof buf, buf));
    EXPECT_STREQ("/tmp/", buf);
  }
  testutil::ScopedEnv tmp("TMPDIR", "/var/scratch");
  char buf[260];
  EXPECT_EQ(13u, GetTempPathA(sizeof buf, buf));
  EXPECT_STREQ("/var/scratch/", buf);
  char small[5] = "xxxx";
  EXPECT_EQ(14u, GetTempPathA(sizeof small, small));  // the size needed, zero included
  EXPECT_STREQ("xxxx", small);
  EXPECT_EQ(13u, GetTempPathA(14, buf));
  testutil::ScopedEnv empty("TMPDIR", "");
  EXPECT_EQ(5u, GetTempPathA(sizeof buf, buf));
}

TEST(FoldersTest, DocumentsFromUserDirsFile) {
  testutil::TempDir dir;
  testutil::ScopedEnv home("HOME", "/home/tester");
  testutil::WriteFile(dir / "user-dirs.dirs",
                      "# written by xdg-user-dirs-update\n"
                      "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ("/home/tester/Dokumente", platform::folders::DocumentsFolder((dir / "user-dirs.dirs").c_str()));
  testutil::WriteFile(dir / "abs.dirs", "XDG_DOCUMENTS_DIR=\"/data/My \\\"Docs\\\"/\"\n");
  EXPECT_EQ("/data/My \"Docs\"", platform::folders::DocumentsFolder((dir / "abs.dirs").c_str()));
  testutil::WriteFile(dir / "none.dirs", "XDG_MUSIC_DIR=\"$HOME/Music\"\n");
  EXPECT_EQ("/home/tester/Documents", platform::folders::DocumentsFolder((dir / "none.dirs").c_str()));
  EXPECT_EQ("/home/tester/Documents", platform::folders::DocumentsFolder((dir / "missing").c_str()));
}

// The XDG rules: only absolute values count; relative ones fall back to the home folder's default, and a
// relative HOME is no home folder.
TEST(FoldersTest, XdgBaseFoldersIgnoreRelativeValues) {
  using platform::folders::XdgBase;
  using platform::folders::XdgBaseFolder;
  testutil::ScopedEnv home("HOME", "/home/tester/");
  struct Case {
    XdgBase base;
    const char* variable;
    const char* fallback;
  };
  for (const Case& c : {Case{XdgBase::Config, "XDG_CONFIG_HOME", "/home/tester/.config"},
                        Case{XdgBase::Data, "XDG_DATA_HOME", "/home/tester/.local/share"},
                        Case{XdgBase::Cache, "XDG_CACHE_HOME", "/home/tester/.cache"},
                        Case{XdgBase::State, "XDG_STATE_HOME", "/home/tester/.local/state"}}) {
    SCOPED_TRACE(c.variable);
    {
      testutil::ScopedEnv set(c.variable, "/x/base/");
      EXPECT_EQ("/x/base", XdgBaseFolder(c.base));
    }
    for (const char* ignored : {"relative/dir", "./here", "~/.config", ""}) {
      testutil::ScopedEnv set(c.variable, ignored);
      EXPECT_EQ(c.fallback, XdgBaseFolder(c.base)) << ignored;
    }
  }
  {
    testutil::ScopedEnv set("XDG_RUNTIME_DIR", "run/user");
    EXPECT_EQ("", platform::folders::XdgRuntimeFolder());
  }
  testutil::ScopedEnv relativeHome("HOME", "home/tester");
  EXPECT_NE("home/tester", platform::folders::HomeFolder());
  EXPECT_EQ(0u, platform::folders::HomeFolder().find('/'));  // the password database's, absolute
}

TEST(FoldersTest, SpecialFolderPersonalCreatesOnRequest) {
  testutil::TempDir dir;
  testutil::ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "config").c_str());
  testutil::ScopedEnv home("HOME", dir.path().c_str());
  std::filesystem::create_directories(dir / "config");
  testutil::WriteFile(dir / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs/Mine\"\n");
  std::string path;
  EXPECT_FALSE(GetSpecialFolder(SpecialFolder::Personal, path, false));
  ASSERT_TRUE(GetSpecialFolder(SpecialFolder::Personal, path, true));
  EXPECT_EQ(dir / "Docs/Mine", path);
  EXPECT_TRUE(std::filesystem::is_directory(path));
  ASSERT_TRUE(GetSpecialFolder(SpecialFolder::Windows, path, false));
  EXPECT_EQ("/etc", path);
}

TEST(FoldersTest, ComputerNameWithWindowsBufferRules) {
  char expected[256] = {};
  gethostname(expected, sizeof expected - 1);
  char buf[256];
  DWORD size = sizeof buf;
  ASSERT_TRUE(GetComputerNameA(buf, &size));
  EXPECT_STREQ(expected, buf);
  EXPECT_EQ(std::strlen(expected), size);
  char small[1];
  size = sizeof small;
  EXPECT_FALSE(GetComputerNameA(small, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), platform::GetLastError());
  EXPECT_EQ(std::strlen(expected) + 1, size);
}

// Makes the named locale available: installed, or compiled from the glibc sources into a temporary
// LOCPATH folder. False when neither works on this machine.
bool ProvideLocale(const std::string& name, const std::string& source, testutil::TempDir& dir,
                   std::optional<testutil::ScopedEnv>& locpath) {
  if (locale_t l = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr))) {
    freelocale(l);
    return true;
  }
  const std::string cmd =
      "localedef -i " + source + " -f UTF-8 " + dir.path() + "/" + name + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(dir / name)) return false;
  locpath.emplace("LOCPATH", dir.path().c_str());
  locale_t l = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  if (!l) return false;
  freelocale(l);
  return true;
}

TEST(FoldersTest, CountryCodeIsTheTelephonePrefix) {
  LocpathLeakIgnored ignoreGlibcLeak;
  testutil::TempDir dir;
  std::optional<testutil::ScopedEnv> locpath;
  struct Case {
    const char* name;
    const char* source;
    int code;
  } cases[] = {{"en_US.UTF-8", "en_US", 1}, {"en_GB.UTF-8", "en_GB", 44}, {"de_DE.UTF-8", "de_DE", 49}};
  testutil::ScopedEnv all("LC_ALL", nullptr);
  int checked = 0;
  for (const Case& c : cases) {
    if (!ProvideLocale(c.name, c.source, dir, locpath)) continue;
    testutil::ScopedEnv tel("LC_TELEPHONE", c.name);
    EXPECT_EQ(c.code, GetLocaleCountryCode()) << c.name;
    ++checked;
  }
  testutil::ScopedEnv unknown("LC_TELEPHONE", "xx_NOWHERE.UTF-8");
  testutil::ScopedEnv lang("LANG", "C");
  EXPECT_EQ(1, GetLocaleCountryCode());
  if (checked == 0) GTEST_SKIP() << "no locale could be provided";
}

TEST(FoldersTest, LanguageIdentifiers) {
  EXPECT_EQ(1031, platform::folders::LangIdOfLocale("de_DE.UTF-8"));
  EXPECT_EQ(1033, platform::folders::LangIdOfLocale("en_GB.UTF-8"));
  EXPECT_EQ(1036, platform::folders::LangIdOfLocale("fr_CA"));
  EXPECT_EQ(3082, platform::folders::LangIdOfLocale("es_ES.UTF-8"));
  EXPECT_EQ(2052, platform::folders::LangIdOfLocale("zh_CN.UTF-8"));
  EXPECT_EQ(1028, platform::folders::LangIdOfLocale("zh_TW.UTF-8"));
  EXPECT_EQ(1044, platform::folders::LangIdOfLocale("nb_NO.UTF-8"));
  EXPECT_EQ(1046, platform::folders::LangIdOfLocale("pt_PT"));
  EXPECT_EQ(1049, platform::folders::LangIdOfLocale("ru_RU.UTF-8"));
  EXPECT_EQ(1033, platform::folders::LangIdOfLocale("C"));
  EXPECT_EQ(1033, platform::folders::LangIdOfLocale("POSIX"));
  EXPECT_EQ(1033, platform::folders::LangIdOfLocale("xx_YY"));

  testutil::ScopedEnv all("LC_ALL", nullptr);
  testutil::ScopedEnv messages("LC_MESSAGES", "sv_SE.UTF-8");
  testutil::ScopedEnv lang("LANG", "de_DE.UTF-8");
  EXPECT_EQ(1053, GetUserDefaultLangID());
  testutil::ScopedEnv all2("LC_ALL", "it_IT.UTF-8");
  EXPECT_EQ(1040, GetUserDefaultLangID());
}

// The user's folder below the temporary folder: $TMPDIR itself when nobody else may write in it, else
// "marlin3-<uid>" made 0700; a name someone else took (a link, another user's folder, a file) is refused
// and a new private folder is used, the same one for the rest of the process.
TEST(FoldersTest, PrivateTempFolderRefusesWhatIsNotTheUsers) {
  testutil::TempDir dir;
  const std::string own = dir / ("marlin3-" + std::to_string(geteuid()));
  {
    testutil::ScopedEnv tmp("TMPDIR", dir.path().c_str());
    std::string refusal;
    EXPECT_EQ(platform::folders::PrivateTempFolder(&refusal), dir.path() + "/");  // 0700 by mkdtemp
    EXPECT_EQ(refusal, "");
  }
  ASSERT_EQ(0, chmod(dir.path().c_str(), 01777));
  testutil::ScopedEnv tmp("TMPDIR", dir.path().c_str());
  std::string refusal;
  EXPECT_EQ(platform::folders::PrivateTempFolder(&refusal), own + "/");
  EXPECT_EQ(refusal, "");
  struct stat st {};
  ASSERT_EQ(0, lstat(own.c_str(), &st));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // The user's own folder left open is closed again.
  ASSERT_EQ(0, chmod(own.c_str(), 0777));
  EXPECT_EQ(platform::folders::PrivateTempFolder(&refusal), own + "/");
  ASSERT_EQ(0, lstat(own.c_str(), &st));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(0, rmdir(own.c_str()));

  const std::string elsewhere = dir / "elsewhere";
  ASSERT_EQ(0, mkdir(elsewhere.c_str(), 0777));
  ASSERT_EQ(0, symlink(elsewhere.c_str(), own.c_str()));
  const std::string used = platform::folders::PrivateTempFolder(&refusal);
  EXPECT_NE(refusal.find("is a symbolic link"), std::string::npos) << refusal;
  EXPECT_EQ(used.rfind(own + "-", 0), 0u) << used;
  ASSERT_EQ(0, lstat(used.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(platform::folders::PrivateTempFolder(), used);  // not a new one per call

  ASSERT_EQ(0, unlink(own.c_str()));
  ASSERT_EQ(0, mkdir(own.c_str(), 0777));
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown(own.c_str(), 61002, 61002));
    platform::folders::PrivateTempFolder(&refusal);
    EXPECT_NE(refusal.find("belongs to another user"), std::string::npos) << refusal;
  }
  ASSERT_EQ(0, rmdir(own.c_str()));
  { std::ofstream(own) << "x"; }
  platform::folders::PrivateTempFolder(&refusal);
  EXPECT_NE(refusal.find("is not a folder"), std::string::npos) << refusal;
}

TEST(FoldersTest, OldFilesGoOnlyWhenOlderAndNamedSo) {
  testutil::TempDir dir;
  for (const char* name : {"marlin1.tif", "marlin2.tif", "other.tif"}) std::ofstream(dir / name) << "x";
  ASSERT_EQ(0, symlink("/etc/passwd", (dir / "marlin3.tif").c_str()));
  const struct timespec old[2] = {{time(nullptr) - 3 * 86400, 0}, {time(nullptr) - 3 * 86400, 0}};
  for (const char* name : {"marlin1.tif", "other.tif", "marlin3.tif"})
    ASSERT_EQ(0, utimensat(AT_FDCWD, (dir / name).c_str(), old, AT_SYMLINK_NOFOLLOW));
  EXPECT_EQ(platform::folders::RemoveOldFiles(dir.path(), "marlin", 86400), 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "marlin1.tif"));
  EXPECT_TRUE(std::filesystem::exists(dir / "marlin2.tif"));
  EXPECT_TRUE(std::filesystem::exists(dir / "other.tif"));
  EXPECT_TRUE(std::filesystem::exists("/etc/passwd"));
}

}  // namespace
