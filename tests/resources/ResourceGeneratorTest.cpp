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

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a program as its own process (no shell) and collects what it writes.
RunResult RunProgram(std::vector<std::string> args) {
  RunResult result;
  const std::string stem = "m3restest-" + std::to_string(getpid());
  const fs::path outFile = fs::temp_directory_path() / (stem + ".out");
  const fs::path errFile = fs::temp_directory_path() / (stem + ".err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  result.output = ReadWhole(outFile);
  result.errors = ReadWhole(errFile);
  fs::remove(outFile);
  fs::remove(errFile);
  return result;
}

RunResult RunGenerator(const fs::path& source, const fs::path& output) {
  return RunProgram(
      {MARLIN3_PYTHON, MARLIN3_RESOURCE_GENERATOR, "--source", source.string(), "--output", output.string()});
}

const fs::path kData = fs::path(MARLIN3_SOURCE_DIR) / "tests/data/resources";

TEST(ResourceGeneratorTest, AcceptsTheGoodSource) {
  const fs::path out = fs::temp_directory_path() / ("m3resgen-good-" + std::to_string(getpid()) + ".cpp");
  const RunResult r = RunGenerator(kData / "good", out);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(fs::exists(out));
  fs::remove(out);
}

TEST(ResourceGeneratorTest, RefusesEveryMalformedSourceWithItsReason) {
  int cases = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kData / "malformed")) {
    if (!entry.is_directory()) continue;
    ++cases;
    std::ifstream expectedFile(entry.path() / "expected.txt");
    std::string expected;
    std::getline(expectedFile, expected);
    ASSERT_FALSE(expected.empty()) << entry.path();
    const fs::path out = fs::temp_directory_path() / ("m3resgen-bad-" + std::to_string(getpid()) + ".cpp");
    const RunResult r = RunGenerator(entry.path(), out);
    EXPECT_EQ(r.status, 1) << entry.path().filename();
    EXPECT_NE(r.errors.find(expected), std::string::npos)
        << entry.path().filename() << ": expected \"" << expected << "\" in:\n"
        << r.errors;
    EXPECT_NE(r.errors.find(": error: "), std::string::npos) << r.errors;
    EXPECT_FALSE(fs::exists(out)) << "a faulty source must not leave a library source behind";
  }
  EXPECT_GE(cases, 20);
}

TEST(ResourceGeneratorTest, RefusesAMissingSourceFolder) {
  const RunResult r = RunGenerator(kData / "no-such-folder", fs::temp_directory_path() / "m3resgen-none.cpp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.errors.find("error"), std::string::npos);
}

}  // namespace

namespace {

TEST(ResourceLibraryExportsTest, OnlyTheTableFunctionsLeaveTheLibrary) {
  const RunResult r = RunProgram({"nm", "-D", "--defined-only", MARLIN3_BIN_DIR "/libmarlin3.so"});
  if (r.status == -1) GTEST_SKIP() << "nm is not installed";
  ASSERT_EQ(r.status, 0) << r.errors;
  std::istringstream lines(r.output);
  std::vector<std::string> exported;
  std::string address, type, name;
  while (lines >> address >> type >> name) exported.push_back(name);
  std::sort(exported.begin(), exported.end());
  const std::vector<std::string> expected = {"m3res_dialogs", "m3res_format_version", "m3res_icons",
                                             "m3res_localized_dialogs", "m3res_strings"};
  EXPECT_EQ(exported, expected);
}

}  // namespace
