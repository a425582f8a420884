// A system library loaded on the first call that needs it, by its soname, rather than when the program
// starts: a task that never talks HTTP or reads XML then never maps libcurl or libxml2 and their long
// chains (TLS, Kerberos, LDAP, ICU). The layer over such a library defines the library's functions
// under their own names (hidden, so they never stand in for another module's use of the real library)
// and forwards each to the symbol found here, resolved once. A library that cannot be loaded is said
// once on standard error with dlerror's reason; its functions then fail as they do on bad input.
// Header-only: the mail core uses it without the other platform layers.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace platform::module {

class LazyLibrary {
 public:
  explicit LazyLibrary(const char* soname) : m_soname(soname) {}
  LazyLibrary(const LazyLibrary&) = delete;
  LazyLibrary& operator=(const LazyLibrary&) = delete;

  // The symbol's address, or null when the library or the symbol is missing.
  void* Find(const char* name) {
    Load();
    return m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
  }
  // Why the library could not be loaded ("" while it loads fine).
  const std::string& Failure() {
    Load();
    return m_failure;
  }
  const char* Soname() const { return m_soname; }

 private:
  void Load() {
    std::call_once(m_once, [this] {
      m_handle = dlopen(m_soname, RTLD_NOW | RTLD_LOCAL);
      if (m_handle != nullptr) return;
      const char* reason = dlerror();
      m_failure = std::string(m_soname) + " could not be loaded: " + (reason != nullptr ? reason : "unknown");
      std::fprintf(stderr, "marlin3: %s\n", m_failure.c_str());
    });
  }

  const char* m_soname;
  std::once_flag m_once;
  void* m_handle = nullptr;  // kept until exit: the library's threads and caches outlive any unload
  std::string m_failure;
};

}  // namespace platform::module
