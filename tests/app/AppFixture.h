// Shared set-up of the application tests: one scratch folder per test process, used as the registry
// directory of this process and of the marlin3 children it starts, and helpers to read and write
// registry values and resource strings.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "platform/resource/Resource.h"
#include "tests/common/ResourceString.h"
#include "tests/common/ScratchEnvironment.h"

namespace app_test {

namespace fs = std::filesystem;
using test_common::KeyExists;
using test_common::kProductKey;
using test_common::ReadFile;
using test_common::SetDword;
using test_common::SetString;
using test_common::Stored;

inline const fs::path& Scratch() {
  static const test_common::ScratchDir scratch{test_common::NewScratch("/tmp/m3apptest.XXXXXX")};
  return scratch.path;
}

using test_common::ResString;

inline std::string MainKey() {
  return "SOFTWARE\\Nexora\\" + ResString(230);
}

inline void ClearRegistry() {
  Scratch();
  test_common::ClearNexoraKeys();
}

}  // namespace app_test
