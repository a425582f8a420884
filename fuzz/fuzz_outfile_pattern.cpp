// "OutFile" placeholders: any bytes as the name, with names taken by a rule of the input, must expand
// without a crash or an endless count, keep the folder part as it was and never put a "/" into the
// file name part.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "log/DebugTrace.h"
#include "scan/OutFilePattern.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 4096) return 0;
  const std::size_t files = data[0] % 12;
  const unsigned taken = data[1];  // names whose length is below this are taken
  const std::string outFile(reinterpret_cast<const char*>(data + 2), size - 2);
  DebugTrace trace("fuzz", __FILE__);
  std::tm now{};
  now.tm_year = 126;
  now.tm_mday = 9;
  const std::string result = scanjob::ExpandOutFile(
      outFile, now, files, "pdf", [&](const std::string& name) { return name.size() % 251 < taken; }, trace);
  const std::size_t slash = outFile.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : outFile.substr(0, slash + 1);
  if (result.compare(0, folder.size(), folder) != 0) std::abort();
  if (result.find('/', folder.size()) != std::string::npos) std::abort();
  return 0;
}
