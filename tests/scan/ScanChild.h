// Runs scan_test_runner as a child on the scripted host, in a scratch folder of its own (registry,
// temporary folder, script, transcript), so that a failing script ends only the child.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class ScanChild {
 public:
  explicit ScanChild(std::string scenario) : m_scenario(std::move(scenario)) {
    m_dir = std::filesystem::temp_directory_path() /
            ("m3scan-" + std::to_string(::getpid()) + "-" + std::to_string(++Counter()));
    std::filesystem::create_directories(m_dir / "registry");
    std::filesystem::create_directories(m_dir / "tmp");
  }
  ~ScanChild() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  const std::filesystem::path& Dir() const { return m_dir; }
  // Extra "NAME=value" assignments for the child's environment.
  void SetEnv(const std::string& assignments) { m_env = assignments; }

  int Run(const std::string& args, const std::string& script, std::string& out, std::string& transcript) {
    std::ofstream(m_dir / "script.txt") << script;
    std::filesystem::remove(m_dir / "transcript.txt");
    const std::string command =
        "cd '" + m_dir.string() + "' && MARLIN3_UI=scripted MARLIN3_REGISTRY_DIR='" +
        (m_dir / "registry").string() + "' TMPDIR='" + (m_dir / "tmp").string() + "' MARLIN3_UI_SCRIPT='" +
        (m_dir / "script.txt").string() + "' MARLIN3_UI_TRANSCRIPT='" + (m_dir / "transcript.txt").string() +
        "' " + m_env + " '" + MARLIN3_BIN_DIR + "/scan_test_runner' " + m_scenario + " " + args + " > '" +
        (m_dir / "out.txt").string() + "' 2>'" + (m_dir / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    out = Read(m_dir / "out.txt");
    transcript = Read(m_dir / "transcript.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  static int& Counter() {
    static int n = 0;
    return n;
  }
  std::string m_scenario;
  std::string m_env;
  std::filesystem::path m_dir;
};
