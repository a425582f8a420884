// The resource generator refuses every faulty source in tests/data/resources/malformed/ with a
// message naming the fault, and accepts the good one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/RunProgram.h"

namespace {

namespace fs = std::filesystem;

using test_common::ProgramRun;
using test_common::RunProgram;

ProgramRun RunGenerator(const fs::path& source, const fs::path& output) {
  return RunProgram(
      {MARLIN3_PYTHON, MARLIN3_RESOURCE_GENERATOR, "--source", source.string(), "--output", output.string()});
}

const fs::path kData = fs::path(MARLIN3_SOURCE_DIR) / "tests/data/resources";

TEST(ResourceGeneratorTest, AcceptsTheGoodSource) {
  const test_common::TempFolder folder("m3resgen");
  const fs::path out = folder.Path() / "good.cpp";
  const ProgramRun r = RunGenerator(kData / "good", out);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(out));
}

TEST(ResourceGeneratorTest, RefusesEveryMalformedSourceWithItsReason) {
  const test_common::TempFolder folder("m3resgen");
  int cases = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kData / "malformed")) {
    if (!entry.is_directory()) continue;
    ++cases;
    std::ifstream expectedFile(entry.path() / "expected.txt");
    std::string expected;
    std::getline(expectedFile, expected);
    ASSERT_FALSE(expected.empty()) << entry.path();
    const fs::path out = folder.Path() / "bad.cpp";
    const ProgramRun r = RunGenerator(entry.path(), out);
    EXPECT_EQ(r.exitCode, 1) << entry.path().filename();
    EXPECT_NE(r.err.find(expected), std::string::npos)
        << entry.path().filename() << ": expected \"" << expected << "\" in:\n"
        << r.err;
    EXPECT_NE(r.err.find(": error: "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out)) << "a faulty source must not leave a library source behind";
  }
  EXPECT_GE(cases, 20);
}

TEST(ResourceGeneratorTest, RefusesAMissingSourceFolder) {
  const test_common::TempFolder folder("m3resgen");
  const ProgramRun r = RunGenerator(kData / "no-such-folder", folder.Path() / "none.cpp");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("error"), std::string::npos);
}

}  // namespace

namespace {

TEST(ResourceLibraryExportsTest, OnlyTheTableFunctionsLeaveTheLibrary) {
  const ProgramRun r = RunProgram({"nm", "-D", "--defined-only", MARLIN3_BIN_DIR "/libmarlin3.so"});
  if (r.exitCode == -1) GTEST_SKIP() << "nm is not installed";
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> exported;
  std::string address, type, name;
  while (lines >> address >> type >> name) exported.push_back(name);
  std::sort(exported.begin(), exported.end());
  const std::vector<std::string> expected = {"m3res_dialogs", "m3res_format_version", "m3res_icons",
                                             "m3res_localized_dialogs", "m3res_strings"};
  EXPECT_EQ(exported, expected);
}

}  // namespace
