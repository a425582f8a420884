// Files of a test: a whole file read or written at once, and a private temporary folder removed with
// everything in it when it goes. Shared by every test folder (no other layer needed).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace test_common {

// A file's bytes ("" when it cannot be read).
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder /tmp/<name>.XXXXXX (mkdtemp: 0700, a name nobody else holds); Path() is empty when it
// could not be made.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name = "m3test") {
    std::string pattern = (std::filesystem::temp_directory_path() / (name + ".XXXXXX")).string();
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempFolder() {
    if (m_path.empty()) return;
    std::error_code ec;
    // A test may have taken its own rights away from a subfolder.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

}  // namespace test_common
