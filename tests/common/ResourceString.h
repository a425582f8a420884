// The built resource library's strings, for tests that compare what a run shows or stores with the
// text it must be (the test fails when the library was not built).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/module/Module.h"
#include "platform/resource/Resource.h"

namespace test_common {

inline std::string ResString(UINT id) {
  static HMODULE module = LoadLibraryA("marlin3.dll");
  std::string text;
  EXPECT_NE(module, nullptr) << "libmarlin3.so not built";
  if (module != nullptr) platform::resource::LoadString(module, id, text);
  return text;
}

}  // namespace test_common
