// SANE set up for a test through SANE_CONFIG_DIR, never the machine's: dll.conf naming the backends and
// test.conf holding the test backend's options. Shared by every folder whose tests scan.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace test_common {

// The product's scanner in whole runs: one test device, a 300 mm square glass without steps, the colour
// pattern.
inline constexpr const char* kProductTestDevice =
    "number_of_devices 1\ngeometry_max 300.0\ngeometry_quant 0.0\ntest-picture \"Color pattern\"\n";

// Writes folder/dll.conf and folder/test.conf (the folder must exist).
inline void WriteSaneConfig(const std::filesystem::path& folder, const std::string& testConf,
                            const std::string& backends = "test\n") {
  std::ofstream(folder / "dll.conf") << backends;
  std::ofstream(folder / "test.conf") << testConf;
}

}  // namespace test_common
