// The main of every test program (in place of gtest_main). Tests that trace in process write the
// diagnostic log "nxDebug.log" into the current folder, as the program does before it sets its log
// path; run by hand from the checkout, that folder is the source tree. A program started anywhere in
// the source tree but outside a build folder therefore moves to its own build folder first, where
// ctest runs it anyway.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Inside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // a trailing "/"
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

void LeaveSourceTree() {
  std::error_code ec;
  const fs::path here = fs::current_path(ec);
  const fs::path source = fs::weakly_canonical(MARLIN3_SOURCE_DIR, ec);
  const fs::path build = fs::weakly_canonical(MARLIN3_BUILD_DIR, ec);
  if (ec || !Inside(here, source) || Inside(here, build)) return;
  fs::current_path(MARLIN3_TEST_WORK_DIR, ec);
  if (!ec) std::fprintf(stderr, "(running in %s, not in the source tree)\n", MARLIN3_TEST_WORK_DIR);
}

}  // namespace

int main(int argc, char** argv) {
  LeaveSourceTree();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
