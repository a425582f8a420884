// Temporary names against a real folder and registry: continuing from "LastTmpNum", skipping names in
// use, the 32-bit wrap, types without an extension, and two processes asking at the same moment.
#include <spawn.h>
#include <sys/wait.h>

#include <set>
#include <vector>

#include "UtilsFixture.h"
#include "pxclass/PxFileTypes.h"

extern char** environ;

namespace utils_test {
namespace {

class TempNamesTest : public UtilsTest {
 protected:
  void SetUp() override {
    UtilsTest::SetUp();
    m_folder = (m_dir / "scans").string() + "/";
    fs::create_directories(m_folder);
  }
  std::string m_folder;
};

TEST_F(TempNamesTest, ContinuesAfterNamesInUse) {
  for (int i = 1; i <= 3; ++i) Touch(m_folder + "marlin" + std::to_string(i) + ".tif", "page");
  SetDword(HKEY_CURRENT_USER, m_mainKey, "LastTmpNum", 0);
  ValueGetter vg("");
  std::string name;
  vg.GetTempFilename(name, "tif", m_folder);
  EXPECT_EQ(name, m_folder + "marlin4.tif");
  EXPECT_EQ(Main("LastTmpNum"), "dword:4");
  // The name is held by an empty file until the caller writes it; the pages in use are untouched.
  EXPECT_TRUE(fs::exists(name));
  EXPECT_EQ(fs::file_size(name), 0u);
  EXPECT_EQ(ReadFile(m_folder + "marlin1.tif"), "page");
}

TEST_F(TempNamesTest, NumberingCases) {
  struct Case {
    DWORD nLast;  // "LastTmpNum" before
    std::string strExt;
    std::string strName;  // expected file name
    DWORD nStored;        // "LastTmpNum" after
  };
  const Case cases[] = {
      {0, "jpg", "marlin1.jpg", 1},
      {41, "jpg", "marlin42.jpg", 42},
      {0xFFFFFFFEu, "tif", "marlin0.tif", 0},                      // after -2 comes 0, never -1
      {0x7FFFFFFFu, "tif", "marlin-2147483648.tif", 0x80000000u},  // signed, as "%d" shows it
      {0, "", "marlin1.", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.strName);
    SetDword(HKEY_CURRENT_USER, m_mainKey, "LastTmpNum", c.nLast);
    ValueGetter vg("");
    std::string name;
    vg.GetTempFilename(name, c.strExt, m_folder);
    EXPECT_EQ(name, m_folder + c.strName);
    EXPECT_EQ(Main("LastTmpNum"), "dword:" + std::to_string(c.nStored));
  }
}

TEST_F(TempNamesTest, TypeFormUsesTableExtension) {
  ValueGetter vg("");
  std::string name;
  vg.GetTempFilename(name, 99, m_folder);  // not in the table: nothing after the dot
  EXPECT_EQ(name, m_folder + "marlin1.");
  vg.GetTempFilename(name, PX_TYPE_JPEG, m_folder);
  EXPECT_EQ(name, m_folder + "marlin2." + vg.ConvertTypeToExt(PX_TYPE_JPEG));
  vg.GetTempFilename(name, PX_TYPE_TIFF, m_folder);
  EXPECT_EQ(name, m_folder + "marlin3." + vg.ConvertTypeToExt(PX_TYPE_TIFF));
}

TEST_F(TempNamesTest, EmptyFolderMeansTemporaryFolder) {
  ValueGetter vg("");
  std::string name;
  vg.GetTempFilename(name, "pdf", "");
  EXPECT_EQ(name, (m_dir / "tmp").string() + "/NxScan/marlin1.pdf");
  EXPECT_TRUE(fs::exists(name));
}

TEST_F(TempNamesTest, FolderEntryOfSameNameIsSkipped) {
  fs::create_directories(m_folder + "marlin1.tif");
  ValueGetter vg("");
  std::string name;
  vg.GetTempFilename(name, "tif", m_folder);
  EXPECT_EQ(name, m_folder + "marlin2.tif");
}

TEST_F(TempNamesTest, MissingFolderStillGivesName) {
  const std::string missing = (m_dir / "later").string() + "/";
  ValueGetter vg("");
  std::string name;
  vg.GetTempFilename(name, "tif", missing);
  EXPECT_EQ(name, missing + "marlin1.tif");
  EXPECT_FALSE(fs::exists(m_dir / "later"));
  EXPECT_NE(Log().find("TempFiles.cpp: GetTempFilename> Could not reserve '" + name + "': ("),
            std::string::npos);
}

TEST_F(TempNamesTest, NoNameTwiceEvenWhenNumberCannotBeStored) {
  // Without the main key "LastTmpNum" cannot be written; the names must differ all the same.
  RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Nexora");
  ValueGetter vg("");
  std::set<std::string> names;
  for (int i = 0; i < 5; ++i) {
    std::string name;
    vg.GetTempFilename(name, "jpg", m_folder);
    EXPECT_TRUE(names.insert(name).second) << name;
  }
}

TEST_F(TempNamesTest, TwoProcessesNeverGetSameName) {
  constexpr int kCount = 150;
  const std::string worker = std::string(MARLIN3_BIN_DIR) + "/m3utils_tempnames";
  const std::string go = (m_dir / "go").string();
  std::vector<pid_t> pids;
  for (int w = 0; w < 2; ++w) {
    const std::string out = (m_dir / ("names" + std::to_string(w) + ".txt")).string();
    std::vector<std::string> args = {worker, m_folder, std::to_string(kCount), out, go};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, worker.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    pids.push_back(pid);
  }
  Touch(go);  // both start asking together
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::set<std::string> all;
  for (int w = 0; w < 2; ++w) {
    std::istringstream lines(ReadFile(m_dir / ("names" + std::to_string(w) + ".txt")));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      EXPECT_EQ(line.rfind(m_folder + "marlin", 0), 0u) << line;
      EXPECT_TRUE(all.insert(line).second) << "given twice: " << line;
      EXPECT_TRUE(fs::exists(line)) << line;
    }
    EXPECT_EQ(count, kCount);
  }
  EXPECT_EQ(all.size(), 2u * kCount);
}

}  // namespace
}  // namespace utils_test
