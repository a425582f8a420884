// SANE's test backend set up for one test process: a scratch folder holding dll.conf (naming only
// "test") and a test.conf written per test, with SANE_CONFIG_DIR pointing at it, plus a scratch
// registry. The machine's own SANE set-up is never read or changed. The backend reads test.conf when a
// session initialises SANE, so each test writes its options before it opens a session.
#pragma once

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "tests/common/ScratchEnvironment.h"

// SANE's dll layer and the test backend leak a little on every sane_init (names, device list, buffers).
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions() {
  return "leak:libsane-test.so\nleak:libsane.so\n";
}

namespace twain_test {

class SaneTestBackend {
 public:
  SaneTestBackend() {
    m_dir.path = test_common::NewScratch("/tmp/m3twain.XXXXXX", "registry");
    std::ofstream(m_dir.path / "dll.conf") << "test\n";
    setenv("SANE_CONFIG_DIR", m_dir.path.c_str(), 1);
    // SANE unloads its backend at sane_exit, and unloading the TWAIN library unloads SANE; held open
    // here, their own leaks are reported with their names and the suppressions below tell them from ours.
    m_sane = dlopen("libsane.so.1", RTLD_NOW | RTLD_NODELETE);
    for (const char* dir :
         {"/usr/lib/x86_64-linux-gnu/sane/", "/usr/lib/aarch64-linux-gnu/sane/", "/usr/lib/sane/"}) {
      m_backend = dlopen((std::string(dir) + "libsane-test.so.1").c_str(), RTLD_NOW | RTLD_NODELETE);
      if (m_backend != nullptr) break;
    }
  }

  // Writes test.conf: two devices, a 300 mm square area without steps, then the given options
  // (test.conf's own names, e.g. {"test-picture", "\"Solid white\""}).
  void Configure(const std::map<std::string, std::string>& options = {}) {
    std::ofstream conf(m_dir.path / "test.conf");
    // Every option the tests change is written each time: the backend stays loaded between sessions
    // and keeps the values of the last test.conf it read for the options a new one leaves out.
    conf << "number_of_devices 2\ngeometry_max 300.0\ngeometry_quant 0.0\nbr_x 300.0\nbr_y 300.0\n"
            "test-picture \"Solid black\"\nthree-pass false\nhand-scanner false\nread-limit false\n"
            "read-limit-size 1\nread-delay false\nread-delay-duration 1000\nread-status-code \"Default\"\n"
            "ppl-loss 0\n";
    for (const auto& [name, value] : options) conf << name << ' ' << value << '\n';
  }

  const test_common::fs::path& Dir() const { return m_dir.path; }

 private:
  test_common::ScratchDir m_dir;
  void* m_backend = nullptr;
  void* m_sane = nullptr;
};

// The one backend set-up of a test program: SANE reads SANE_CONFIG_DIR once per process, so every
// test file of a program must write its test.conf into the same folder.
inline SaneTestBackend& SharedBackend() {
  static SaneTestBackend backend;
  return backend;
}

}  // namespace twain_test
