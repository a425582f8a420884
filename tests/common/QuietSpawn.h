// Starts a helper program (the device simulator) with its output discarded and waits for the file it
// writes once it is ready. Shared by the device and Quick Set whole-run tests.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace test_common {

// The process id once `ready` exists (about 5 s at most), else 0 (a program that ended is reaped).
inline pid_t SpawnQuietUntilReady(std::vector<std::string> args, const std::filesystem::path& ready) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return 0;
  for (int i = 0; i < 250 && !std::filesystem::exists(ready); ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return 0;
    usleep(20000);
  }
  return pid;
}

}  // namespace test_common
