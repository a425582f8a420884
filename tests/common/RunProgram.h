// Runs a program as its own process (posix_spawnp: no shell; a name without "/" is looked up in PATH)
// with this process's environment, and collects its exit code and output. The output goes through
// files in a private temporary folder, so nothing is written into /tmp by a name another user could
// have taken first. Shared by the test folders that run the tools.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/TestFiles.h"

extern char** environ;

namespace test_common {

struct ProgramRun {
  int exitCode = -1;  // -1 when it could not be started or ended by a signal
  std::string out;
  std::string err;
};

// input, when given, is the program's standard input; else /dev/null.
inline ProgramRun RunProgram(std::vector<std::string> args,
                             const std::optional<std::string>& input = std::nullopt) {
  ProgramRun run;
  const TempFolder folder("m3run");
  if (folder.Path().empty() || args.empty()) return run;
  const std::string in = (folder.Path() / "stdin").string();
  const std::string out = (folder.Path() / "stdout").string();
  const std::string err = (folder.Path() / "stderr").string();
  if (input) WriteFile(in, *input);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input ? in.c_str() : "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

}  // namespace test_common
