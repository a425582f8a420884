// marlin3-product run as a program against a scratch registry and SANE's test backend: the product key
// values and source table entry it writes (read back through the registry layer), the devices it lists,
// and the input it refuses without writing anything.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/common/SaneConfig.h"
#include "tests/common/ScratchEnvironment.h"
#include "toolkit/twain/SourceTable.h"

namespace {

using test_common::kProductKey;
using test_common::Stored;

class ProductTool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test_common::ScratchDir{test_common::NewScratch("/tmp/m3product.XXXXXX", "registry")};
    test_common::WriteSaneConfig(s_dir->path, "number_of_devices 2\n");
    setenv("SANE_CONFIG_DIR", s_dir->path.c_str(), 1);
  }
  static void TearDownTestSuite() { delete s_dir; }
  void SetUp() override {
    test_common::ClearNexoraKeys();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, pxtwain::kSourceTableKey);
  }

  // Runs the tool (its environment is ours, plus env: "NAME=VALUE " assignments); exit code, standard output
  // in out.
  int Run(const std::string& args, std::string* out = nullptr, const std::string& env = "") {
    const std::string outPath = (s_dir->path / "out.txt").string();
    const std::string command = env + "'" + MARLIN3_BIN_DIR + "/marlin3-product' " + args + " > '" + outPath +
                                "' 2>/dev/null </dev/null";
    const int status = std::system(command.c_str());
    if (out != nullptr) *out = test_common::ReadFile(outPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string Table(const std::string& name) {
    return Stored(HKEY_LOCAL_MACHINE, pxtwain::kSourceTableKey, name);
  }

  static test_common::ScratchDir* s_dir;
};

test_common::ScratchDir* ProductTool::s_dir = nullptr;

TEST_F(ProductTool, NetworkThenDirectWritesTheProductKeyAndTheSourceTable) {
  std::string out;
  ASSERT_EQ(Run("network --ip 127.0.0.1 --hostname printer-1.local --device test:1", &out), 0);
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type"), "Network");
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "IP Address"), "127.0.0.1");
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "Hostname"), "printer-1.local");
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "TWAIN"), "NX Pressline");
  EXPECT_EQ(Table("NX Pressline TWAIN"), "test:1");
  EXPECT_NE(out.find("NX Pressline TWAIN -> test:1"), std::string::npos) << out;

  // Direct: the network values go, the table entry stays; a renamed source takes its entry along.
  ASSERT_EQ(Run("direct --port localhost:60000 --twain \"NX Office\""), 0);
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "Connection Type"), "Direct");
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "Port"), "localhost:60000");
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "IP Address"), "<absent>");
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kProductKey, "Hostname"), "<absent>");
  EXPECT_EQ(Table("NX Pressline TWAIN"), "<absent>");
  EXPECT_EQ(Table("NX Office TWAIN"), "test:1");

  ASSERT_EQ(Run("show", &out), 0);
  EXPECT_NE(out.find("Direct"), std::string::npos);
  ASSERT_EQ(Run("remove"), 0);
  EXPECT_FALSE(test_common::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
  EXPECT_EQ(Table("NX Office TWAIN"), "<absent>");
}

// Run as root with a strict umask, the tool still leaves a hive every user can read.
TEST_F(ProductTool, TheHiveIsReadableWhateverTheUmask) {
  const std::filesystem::path hives = s_dir->path / "strict";
  std::filesystem::create_directories(hives);
  const std::string env = "umask 077; MARLIN3_REGISTRY_DIR='" + hives.string() + "' ";
  ASSERT_EQ(Run("network --ip 192.0.2.10", nullptr, env), 0);
  ASSERT_TRUE(std::filesystem::exists(hives / "HKLM.db"));
  for (const auto& entry : std::filesystem::directory_iterator(hives)) {
    if (entry.path().filename().string().rfind("HKLM.db", 0) != 0) continue;
    SCOPED_TRACE(entry.path().string());
    EXPECT_NE(std::filesystem::status(entry).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);
  }
}

TEST_F(ProductTool, RefusedInputWritesNothing) {
  const struct {
    const char* args;
    int code;
  } cases[] = {
      {"network", 1},
      {"network --ip 300.1.1.1", 1},
      {"network --hostname -bad-.example", 1},
      {"network --ip 127.0.0.1 --twain Scanner", 1},  // not a qualifying name
      {"network --ip 127.0.0.1 --twain \"NX A Name Much Too Long For A Source\"", 1},
      {"network --ip 127.0.0.1 --twain \"WIA NX\"", 1},
      {"direct", 1},
      {"direct --ip 127.0.0.1", 1},
      {"direct --port", 1},
      {"frobnicate", 1},
      {"network --ip 127.0.0.1 --device choose", 2},  // no terminal to choose on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(Run(c.args), c.code);
    EXPECT_FALSE(test_common::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
  }
}

TEST_F(ProductTool, DevicesListsWhatSaneFinds) {
  std::string out;
  ASSERT_EQ(Run("devices", &out), 0);
  EXPECT_NE(out.find("1. test:0  (Noname frontend-tester, virtual device)"), std::string::npos) << out;
  EXPECT_NE(out.find("2. test:1"), std::string::npos) << out;
}

// Driverless network scanners come from sane-airscan: its devices configured by hand (discovery off, a
// loopback address nobody answers on) are listed without being contacted, with their protocol as the
// vendor and their name as the model, and one can be chosen by its number on a terminal.
TEST_F(ProductTool, DriverlessScannersAreListedAndChosen) {
  const std::filesystem::path sane = s_dir->path / "airscan";
  std::filesystem::create_directories(sane);
  test_common::WriteSaneConfig(sane, "number_of_devices 1\n", "test\nairscan\n");
  std::ofstream(sane / "airscan.conf") << "[devices]\n\"Office MFP\" = http://127.0.0.1:9/eSCL, eSCL\n"
                                          "\"Hall Copier\" = http://127.0.0.1:9/wsd, WSD\n"
                                          "[options]\ndiscovery = disable\n";
  // sane-airscan leaves a few blocks at sane_exit, after SANE has unloaded it: LeakSanitizer could neither
  // name nor suppress them, so leak checking is off for these runs (memory errors are still caught).
  const std::string env =
      "SANE_CONFIG_DIR='" + sane.string() + "' ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" ";
  std::string out;
  ASSERT_EQ(Run("devices", &out, env), 0);
  EXPECT_NE(out.find("test:0  (Noname frontend-tester, virtual device)"), std::string::npos) << out;
  EXPECT_NE(out.find("airscan:e0:Office MFP  (eSCL Office MFP, ip=127.0.0.1)"), std::string::npos) << out;
  EXPECT_NE(out.find("airscan:w1:Hall Copier  (WSD Hall Copier, ip=127.0.0.1)"), std::string::npos) << out;

  // By name, quoted as the list shows it.
  ASSERT_EQ(Run("network --ip 192.0.2.10 --device 'airscan:e0:Office MFP'", nullptr, env), 0);
  EXPECT_EQ(Table("NX Pressline TWAIN"), "airscan:e0:Office MFP");

  // By number, on a terminal (script(1) gives the tool one); the number is that of the list it printed.
  std::string number;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.find(". airscan:w1:Hall Copier  ") != std::string::npos) number = line.substr(0, line.find('.'));
  ASSERT_FALSE(number.empty()) << out;
  const std::string tool = std::string(MARLIN3_BIN_DIR) + "/marlin3-product";
  const std::string command = "printf '" + number + "\\n' | " + env + "script -qec \"'" + tool +
                              "' network --ip 192.0.2.10 --device choose\" /dev/null > '" +
                              (s_dir->path / "choose.txt").string() + "' 2>&1";
  const int status = std::system(command.c_str());
  const std::string dialog = test_common::ReadFile(s_dir->path / "choose.txt");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << dialog;
  EXPECT_NE(dialog.find("Scanner number: "), std::string::npos) << dialog;
  EXPECT_EQ(Table("NX Pressline TWAIN"), "airscan:w1:Hall Copier") << dialog;
}

}  // namespace
