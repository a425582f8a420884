// marlin3-faxwrap: wraps the pages of a TIFF file (any compression and depth; pages are made 1-bit at
// half grey) as the device's wrapped fax stream, for trying the convert task's fax input (MfpDtf).
//   marlin3-faxwrap [--record-bytes N] [--suspend-every N] [--no-filler] in.tif out.mfp
// --suspend-every pauses each page after about N fax bytes and resumes it, as a device does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/faxwrap/FaxWrapWriter.h"

int main(int argc, char** argv) {
  FaxWrapWriter::Options options;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    if (std::strcmp(argv[i], "--record-bytes") == 0 && i + 1 < argc) {
      const long n = std::strtol(argv[++i], nullptr, 10);
      if (n < 1 || n > 32767) {
        std::fprintf(stderr, "marlin3-faxwrap: --record-bytes takes 1 to 32767\n");
        return 2;
      }
      options.recordBytes = static_cast<uint32_t>(n);
    } else if (std::strcmp(argv[i], "--suspend-every") == 0 && i + 1 < argc) {
      const long n = std::strtol(argv[++i], nullptr, 10);
      if (n < 1 || n > 1 << 30) {
        std::fprintf(stderr, "marlin3-faxwrap: --suspend-every takes a byte count from 1\n");
        return 2;
      }
      options.suspendEvery = static_cast<uint32_t>(n);
    } else if (std::strcmp(argv[i], "--no-filler") == 0) {
      options.fillerBetweenPages = false;
    } else {
      std::fprintf(stderr, "marlin3-faxwrap: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (argc - i != 2) {
    std::fprintf(
        stderr,
        "usage: marlin3-faxwrap [--record-bytes N] [--suspend-every N] [--no-filler] in.tif out.mfp\n");
    return 2;
  }
  std::vector<FaxWrapWriter::Page> pages;
  std::string error;
  if (!FaxWrapWriter::ReadTiffPages(argv[i], pages, error)) {
    std::fprintf(stderr, "marlin3-faxwrap: %s\n", error.c_str());
    return 1;
  }
  const std::vector<uint8_t> stream = FaxWrapWriter::Wrap(pages, options);
  FILE* out = std::fopen(argv[i + 1], "wb");
  if (out == nullptr || std::fwrite(stream.data(), 1, stream.size(), out) != stream.size() ||
      std::fclose(out) != 0) {
    std::fprintf(stderr, "marlin3-faxwrap: cannot write %s\n", argv[i + 1]);
    return 1;
  }
  std::printf("%zu page(s), %zu bytes\n", pages.size(), stream.size());
  return 0;
}
