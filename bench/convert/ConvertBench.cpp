// Runs one FileConvert::Convert, as the file delivery and the convert task do, and prints the
// result, the files written and the CPU time of the call.
//   convert_bench TYPE FAX(0|1) OUTPUT INPUT...
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scan/FileConvert.h"

namespace {
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: convert_bench TYPE FAX(0|1) OUTPUT INPUT...\n");
    return 2;
  }
  std::vector<std::string> outputs = {argv[3]};
  std::vector<std::string> inputs(argv + 4, argv + argc);
  ConvertRequest request(outputs, inputs);
  request.nType = std::stoi(argv[1]);
  request.bMfpDtf = std::stoi(argv[2]) != 0;
  const double start = CpuSeconds();
  FileConvert convert;
  const int result = convert.Convert(request);
  const double cpu = CpuSeconds() - start;
  std::printf("result %d, %zu file(s), cpu %.3f s\n", result, outputs.size(), cpu);
  return result == 0 ? 0 : 1;
}
