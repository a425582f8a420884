// Replays kept inputs through a fuzz target's entry point without libFuzzer, so every input that once
// crashed a parser (the corpus keeps them) runs in the ordinary and the sanitizer test builds.
// Usage: replay_<target> FOLDER_OR_FILE...   Fails when a folder is missing or nothing was replayed;
// a crash, a sanitizer report or a leak fails it as it fails the fuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

// A custom mutator calls libFuzzer's; replaying never mutates.
extern "C" __attribute__((weak)) std::size_t LLVMFuzzerMutate(std::uint8_t*, std::size_t, std::size_t) {
  std::fputs("replay: LLVMFuzzerMutate called outside libFuzzer\n", stderr);
  std::abort();
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    const fs::path arg = argv[i];
    if (fs::is_regular_file(arg, ec)) {
      inputs.push_back(arg);
      continue;
    }
    if (!fs::is_directory(arg, ec)) {
      std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", argv[i]);
      return 1;
    }
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(arg, ec))
      if (entry.is_regular_file()) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
  }
  if (inputs.empty()) {
    std::fputs("replay: no inputs\n", stderr);
    return 1;
  }
  for (const fs::path& path : inputs) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    // A block of the input's exact size (never null, as libFuzzer gives it), so a read past its end
    // is an overflow the sanitizers see.
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size > 0 ? size : 1]);
    if (size < 0 || !in.seekg(0) || !in.read(reinterpret_cast<char*>(bytes.get()), size)) {
      std::fprintf(stderr, "replay: %s could not be read\n", path.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(bytes.get(), static_cast<std::size_t>(size));
  }
  std::printf("replay: %zu inputs\n", inputs.size());
  return 0;
}
