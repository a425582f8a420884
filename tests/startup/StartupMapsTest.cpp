// libcurl and libxml2 are loaded on first use: "marlin3 /Task 15" maps neither (read from its maps at
// the moment it exits, stopped there through ptrace), nor Qt, a program that uses them maps them then,
// and a program that cannot load them fails those calls with a line naming the library. The Qt host
// loads into marlin3 itself (which has libstdc++ linked in) and shows its main dialog.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/xmldom/XmlDom.h"
#include "tests/common/TestFiles.h"

namespace fs = std::filesystem;

namespace {

using test_common::ReadFile;

// The environment of the children: this one's, with a scratch registry and temporary folder, no
// dialogs, and no leak check in sanitizer builds (LeakSanitizer attaches with ptrace, which a traced
// process cannot allow).
std::vector<std::string> ChildEnvironment(const fs::path& scratch, const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "MARLIN3_", 8) == 0 || std::strncmp(*e, "TMPDIR=", 7) == 0 ||
        std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0)
      continue;
    env.emplace_back(*e);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
                "detect_leaks=0");
  env.push_back("MARLIN3_REGISTRY_DIR=" + scratch.string());
  env.push_back("TMPDIR=" + scratch.string() + "/");
  env.push_back("MARLIN3_UI=scripted");
  env.push_back("MARLIN3_UI_SCRIPT=/dev/null");
  env.push_back("MARLIN3_UI_TRANSCRIPT=" + (scratch / "transcript.txt").string());
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

struct Exited {
  int status = -1;
  std::string maps;  // /proc/<pid>/maps as the process exits (traced runs)
};

// Runs the program to its end with its output in files; traced, it is stopped once as it exits so
// its maps can be read.
Exited RunChild(const std::vector<std::string>& args, const std::vector<std::string>& env, bool traced,
                const fs::path& out = "/dev/null", const fs::path& err = "/dev/null") {
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  Exited result;
  const pid_t pid = fork();
  if (pid == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) _exit(126);
    if (traced) ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) return result;
  int status = 0;
  bool first = true;
  while (waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      result.status = status;
      break;
    }
    int deliver = 0;
    if (first && WSTOPSIG(status) == SIGTRAP) {
      first = false;  // the stop after execve
      ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
    } else if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      result.maps = ReadFile("/proc/" + std::to_string(pid) + "/maps");
    } else {
      deliver = WSTOPSIG(status);
    }
    ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(deliver)));
  }
  return result;
}

bool Mapped(const std::string& maps, const char* library) {
  return maps.find(std::string("/") + library) != std::string::npos;
}

TEST(StartupMaps, Task15MapsNeitherCurlNorXml) {
  const test_common::TempFolder scratch("m3startup");
  ASSERT_FALSE(scratch.Path().empty());
  const std::string marlin3 = std::string(MARLIN3_BIN_DIR) + "/marlin3";
  const auto env = ChildEnvironment(scratch.Path(), {});
  // The first run writes the first-run defaults; the second is the plain start-up.
  for (int run = 0; run < 2; ++run) {
    const Exited exited = RunChild({marlin3, "/Task", "15"}, env, true);
    ASSERT_TRUE(WIFEXITED(exited.status)) << exited.status;
    EXPECT_EQ(WEXITSTATUS(exited.status), 0);
    ASSERT_TRUE(Mapped(exited.maps, "libc.so")) << "its maps were not read at exit";
    EXPECT_FALSE(Mapped(exited.maps, "libcurl")) << exited.maps;
    EXPECT_FALSE(Mapped(exited.maps, "libxml2")) << exited.maps;
    EXPECT_FALSE(Mapped(exited.maps, "libQt6")) << exited.maps;
    EXPECT_FALSE(Mapped(exited.maps, "libm3uiqt")) << exited.maps;
  }
}

TEST(StartupMaps, QtHostShowsTheMainDialogInTheProgram) {
  const test_common::TempFolder scratch("m3startup");
  ASSERT_FALSE(scratch.Path().empty());
  const std::string marlin3 = std::string(MARLIN3_BIN_DIR) + "/marlin3";
  std::vector<std::string> env = ChildEnvironment(scratch.Path(), {"QT_QPA_PLATFORM=offscreen"});
  for (std::string& e : env)
    if (e == "MARLIN3_UI=scripted") e = "MARLIN3_UI=qt";
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = marlin3;
  char* argv[] = {arg0.data(), nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet < 0 || dup2(quiet, 1) < 0 || dup2(quiet, 2) < 0) _exit(126);
    execve(argv[0], argv, envp.data());
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  // The dialog waits for a person: the program is still running with the Qt host mapped, then ended.
  bool shown = false;
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 200 && !shown && ended == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ended = waitpid(pid, &status, WNOHANG);
    const std::string maps = ReadFile("/proc/" + std::to_string(pid) + "/maps");
    shown = ended == 0 && Mapped(maps, "libm3uiqt") && Mapped(maps, "libQt6Widgets");
  }
  if (shown) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ended = waitpid(pid, &status, WNOHANG);
  }
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(shown) << "the Qt host was not loaded";
  EXPECT_EQ(ended, 0) << "marlin3 ended with the dialog up, status " << status;
}

struct Probe {
  std::string out;
  std::string err;
  int status = -1;
};

Probe RunProbe(const fs::path& scratch, const std::vector<std::string>& extraEnv) {
  const std::string probe = std::string(MARLIN3_BIN_DIR) + "/lazy_probe";
  Probe result;
  result.status = RunChild({probe, scratch.string()}, ChildEnvironment(scratch, extraEnv), false,
                           scratch / "out", scratch / "err")
                      .status;
  result.out = ReadFile(scratch / "out");
  result.err = ReadFile(scratch / "err");
  return result;
}

TEST(StartupMaps, LibrariesMappedOnFirstUse) {
  const test_common::TempFolder scratch("m3startup");
  ASSERT_FALSE(scratch.Path().empty());
  const Probe probe = RunProbe(scratch.Path(), {});
  ASSERT_TRUE(WIFEXITED(probe.status) && WEXITSTATUS(probe.status) == 0) << probe.status << probe.err;
  EXPECT_NE(probe.out.find("mapped-before 0 0\n"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("xml ok\n"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("http ok\n"), std::string::npos) << probe.out;
  // libcurl itself got as far as the closed port.
  EXPECT_NE(probe.out.find("smtp the mail server could not be reached"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("mapped-after 1 1\n"), std::string::npos) << probe.out;
  EXPECT_EQ(probe.err.find("could not be loaded"), std::string::npos) << probe.err;
}

TEST(StartupMaps, MissingLibrariesFailWithTheirNames) {
  const test_common::TempFolder scratch("m3startup");
  ASSERT_FALSE(scratch.Path().empty());
  // Files of the sonames that are no libraries, found first through LD_LIBRARY_PATH.
  const fs::path fake = scratch.Path() / "fake";
  fs::create_directories(fake);
  std::ofstream(fake / "libcurl.so.4") << "not a library";
  std::ofstream(fake / "libxml2.so.2") << "not a library";
  const Probe probe = RunProbe(scratch.Path(), {"LD_LIBRARY_PATH=" + fake.string()});
  ASSERT_TRUE(WIFEXITED(probe.status) && WEXITSTATUS(probe.status) == 0) << probe.status << probe.err;
  // Not an allocation failure: E_FAIL, and the reason names the library that is missing.
  EXPECT_NE(probe.out.find("xml failed " + std::to_string(static_cast<long>(E_FAIL)) +
                           " libxml2.so.2 could not be loaded: " + (fake / "libxml2.so.2").string()),
            std::string::npos)
      << probe.out;
  EXPECT_NE(probe.out.find("http failed 12004 libcurl.so.4 could not be loaded: " +
                           (fake / "libcurl.so.4").string()),
            std::string::npos)
      << probe.out;
  EXPECT_NE(probe.out.find("smtp sending failed"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("mapped-after 0 0\n"), std::string::npos) << probe.out;
  EXPECT_NE(probe.err.find("marlin3: libcurl.so.4 could not be loaded: " + (fake / "libcurl.so.4").string()),
            std::string::npos)
      << probe.err;
  EXPECT_NE(probe.err.find("marlin3: libxml2.so.2 could not be loaded: "), std::string::npos) << probe.err;
}

}  // namespace
