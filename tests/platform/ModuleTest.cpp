// LoadLibraryA's search order and the module functions; the debugger output switch.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "platform/debugout/DebugOut.h"
#include "platform/module/Module.h"

namespace {

using AnswerFn = int (*)();

int AnswerOf(HMODULE module) {
  auto fn = reinterpret_cast<AnswerFn>(GetProcAddress(module, "M3TestModuleAnswer"));
  return fn ? fn() : -1;
}

TEST(ModuleTest, DllNameFindsLibSoBesideTheExecutable) {
  testutil::ScopedEnv noDir("MARLIN3_MODULE_DIR", nullptr);
  HMODULE module = LoadLibraryA("M3TestModule.dll");
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(1, AnswerOf(module));
  EXPECT_EQ(testutil::BinDir() + "/libM3TestModule.so", GetModuleFileNameA(module));
  EXPECT_EQ(nullptr, GetProcAddress(module, "NoSuchFunction"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), platform::GetLastError());
  EXPECT_TRUE(FreeLibrary(module));
  // The suffix is matched in any case.
  module = LoadLibraryA("M3TestModule.DLL");
  ASSERT_NE(nullptr, module);
  FreeLibrary(module);
}

TEST(ModuleTest, ModuleDirComesFirst) {
  testutil::ScopedEnv dir("MARLIN3_MODULE_DIR", MARLIN3_TEST_MODULE_ALT_DIR);
  HMODULE module = LoadLibraryA("M3TestModule.dll");
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(2, AnswerOf(module));
  EXPECT_EQ(std::string(MARLIN3_TEST_MODULE_ALT_DIR) + "/libM3TestModule.so", GetModuleFileNameA(module));
  FreeLibrary(module);
}

// The order: the variable's folders, the installed private folder relative to the executable, and (here,
// in the build tree) the executable's own folder; empty entries of the variable are skipped.
TEST(ModuleTest, SearchFoldersInOrder) {
  const std::string bin = testutil::BinDir() + "/";
  testutil::ScopedEnv dirs("MARLIN3_MODULE_DIR", "/one::/two/");
  EXPECT_EQ(platform::module::SearchFolders(),
            (std::vector<std::string>{"/one/", "/two/", bin + "../lib/marlin3/", bin}));
  testutil::ScopedEnv none("MARLIN3_MODULE_DIR", nullptr);
  EXPECT_EQ(platform::module::SearchFolders(), (std::vector<std::string>{bin + "../lib/marlin3/", bin}));
}

TEST(ModuleTest, AnUnloadableFileInModuleDirHidesTheLibrary) {
  testutil::TempDir hide;
  testutil::WriteFile(hide / "libM3TestModule.so", "");
  testutil::ScopedEnv dir("MARLIN3_MODULE_DIR", hide.path().c_str());
  platform::SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA("M3TestModule.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), platform::GetLastError());
}

TEST(ModuleTest, MissingLibrary) {
  EXPECT_EQ(nullptr, LoadLibraryA("NoSuchLibraryAnywhere.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), platform::GetLastError());
  EXPECT_EQ(nullptr, LoadLibraryA(""));
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(ModuleTest, SystemOrderAndNamesWithoutDll) {
  HMODULE libc = LoadLibraryA("libc.so.6");  // as given, through the system's order
  ASSERT_NE(nullptr, libc);
  EXPECT_NE(nullptr, GetProcAddress(libc, "strlen"));
  FreeLibrary(libc);
  if (!std::filesystem::exists("/usr/lib/x86_64-linux-gnu/libz.so") &&
      !std::filesystem::exists("/usr/lib/libz.so"))
    GTEST_SKIP() << "no libz.so development link";
  HMODULE z = LoadLibraryA("z.dll");  // libz.so from the system
  ASSERT_NE(nullptr, z);
  EXPECT_NE(nullptr, GetProcAddress(z, "zlibVersion"));
  FreeLibrary(z);
}

TEST(ModuleTest, ExecutableFileName) {
  const std::string exe = GetModuleFileNameA(nullptr);
  EXPECT_EQ(testutil::BinDir() + "/platform_tests", exe);
  EXPECT_EQ(testutil::BinDir() + "/", platform::module::ExecutableFolder());
}

TEST(DebugOutTest, SilentUnlessEnabled) {
  testutil::ScopedEnv off("MARLIN3_DEBUGOUT", nullptr);
  testing::internal::CaptureStderr();
  OutputDebugStringA("***hidden\r\n");
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  testutil::ScopedEnv on("MARLIN3_DEBUGOUT", "1");
  testing::internal::CaptureStderr();
  OutputDebugStringA("***shown\r\n");
  EXPECT_EQ("***shown\r\n", testing::internal::GetCapturedStderr());
}

}  // namespace
