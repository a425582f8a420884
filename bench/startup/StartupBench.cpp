// Measures "marlin3 /Task 15" from exec to exit: the whole start-up chain (log, resource library,
// registry defaults, Quick Set selection) plus the smallest task. Runs the real executable many times
// against a scratch registry and temporary folder, and prints the median, the 95th percentile and the
// largest peak resident size (ru_maxrss) of the children. The first run (which writes the first-run
// defaults) is a warm-up and is not counted.
// Beside it, the peer for the same work (task 15 clears values of the user's hive): the sqlite3 shell
// opening that hive and counting its values, the least any program reading the store pays.
//
// Usage: bench_startup [runs] [path to marlin3]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  if (runs < 1) runs = 1;
  std::string exe = argc > 2 ? argv[2] : std::string(MARLIN3_BIN_DIR) + "/marlin3";

  char pattern[] = "/tmp/m3bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path scratch = pattern;
  fs::create_directory(scratch / "tmp");

  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "MARLIN3_", 8) == 0 || std::strncmp(*e, "TMPDIR=", 7) == 0) continue;
    envText.emplace_back(*e);
  }
  envText.push_back("MARLIN3_REGISTRY_DIR=" + scratch.string());
  envText.push_back("TMPDIR=" + (scratch / "tmp").string() + "/");
  envText.push_back("MARLIN3_UI=scripted");
  envText.push_back("MARLIN3_UI_SCRIPT=/dev/null");
  envText.push_back("MARLIN3_UI_TRANSCRIPT=" + (scratch / "transcript.txt").string());
  std::vector<char*> envp;
  for (std::string& s : envText) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::string arg0 = exe, arg1 = "/Task", arg2 = "15";
  char* args[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};

  struct Timing {
    std::vector<double> millis;
    std::vector<double> cpuMillis;  // user + system time of the child: less sensitive to a busy machine
    long peakKb = 0;
  };
  posix_spawn_file_actions_t quiet;  // the peer prints its count
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  auto measure = [&](char* const* argv, Timing& timing) {
    for (int i = 0; i <= runs; ++i) {
      auto start = std::chrono::steady_clock::now();
      pid_t pid = 0;
      if (posix_spawnp(&pid, argv[0], &quiet, nullptr, argv, envp.data()) != 0) {
        std::perror("posix_spawn");
        return false;
      }
      int status = 0;
      struct rusage usage {};
      if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0], status);
        return false;
      }
      auto elapsed =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      if (i == 0) continue;  // first run: first-run defaults
      timing.millis.push_back(elapsed);
      auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0; };
      timing.cpuMillis.push_back(ms(usage.ru_utime) + ms(usage.ru_stime));
      timing.peakKb = std::max(timing.peakKb, usage.ru_maxrss);
    }
    std::sort(timing.millis.begin(), timing.millis.end());
    std::sort(timing.cpuMillis.begin(), timing.cpuMillis.end());
    return true;
  };
  auto percentile = [](const std::vector<double>& sorted, double p) {
    size_t index = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
  };
  auto report = [&](const char* name, const Timing& t) {
    std::printf("%s: %d runs, exec to exit: median %.2f ms, p95 %.2f ms, min %.2f ms, max %.2f ms\n", name,
                runs, percentile(t.millis, 0.5), percentile(t.millis, 0.95), t.millis.front(),
                t.millis.back());
    std::printf("  CPU time (user + system) of the child: median %.2f ms, p95 %.2f ms\n",
                percentile(t.cpuMillis, 0.5), percentile(t.cpuMillis, 0.95));
    std::printf("  peak memory (ru_maxrss of the child): %ld KiB\n", t.peakKb);
  };

  Timing ours;
  if (!measure(args, ours)) return 1;
  report("marlin3 /Task 15", ours);
  std::string peer0 = "sqlite3", peer1 = "-readonly", peer2 = (scratch / "HKCU.db").string(),
              peer3 = "SELECT count(*) FROM vals;";
  char* peerArgs[] = {peer0.data(), peer1.data(), peer2.data(), peer3.data(), nullptr};
  Timing peer;
  if (fs::exists(peer2) && measure(peerArgs, peer)) {
    report("peer: sqlite3 -readonly HKCU.db (count the values)", peer);
    std::printf("  median time ratio (ours / peer): %.2f\n",
                percentile(ours.millis, 0.5) / percentile(peer.millis, 0.5));
  }

  std::error_code ec;
  fs::remove_all(scratch, ec);
  return 0;
}
