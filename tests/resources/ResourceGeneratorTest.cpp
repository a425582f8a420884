// The resource generator refuses every faulty source in tests/data/resources/malformed/ with a
// message naming the fault, and accepts the good one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string errors;
};

// Runs the generator as its own process (no shell) and collects its standard error.
RunResult RunGenerator(const fs::path& source, const fs::path& output) {
  RunResult result;
  const fs::path errFile = fs::temp_directory_path() / ("m3resgen-" + std::to_string(getpid()) + ".err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string python = MARLIN3_PYTHON, script = MARLIN3_RESOURCE_GENERATOR, src = source.string(),
              out = output.string();
  std::string a1 = "--source", a3 = "--output";
  char* argv[] = {python.data(), script.data(), a1.data(), src.data(), a3.data(), out.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, python.c_str(), &actions, nullptr, argv, environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(errFile);
  std::stringstream text;
  text << in.rdbuf();
  result.errors = text.str();
  fs::remove(errFile);
  return result;
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
