// A letter page (215.9 x 279.4 mm) at 300 dpi in colour from SANE's test backend ("Color pattern"),
// saved as JPEG: the toolkit (PxTwain acquiring into a PxBitmapBase, Save as type 10) beside
// `scanimage --format=jpeg` of the same area and resolution. Both run as child processes against the
// same scratch SANE set-up (the area limit raised to 300 mm, since the test device's default glass is
// 200 mm); wall time is the median of the runs, memory the largest peak resident size (ru_maxrss).
//
// Usage: bench_twain_scan [runs] [toolkit quality factor; 100 = JPEG quality 75, scanimage's]
//        bench_twain_scan --child OUT.jpg QUALITY     (one toolkit scan; what the parent times)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxSaveOptions.h"
#include "pxclass/PxTwain.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

constexpr int kLetterWidth = 12240;   // 8.5 inch in 1/1440 inch
constexpr int kLetterHeight = 15840;  // 11 inch

class SavingTwain : public PxTwain {
 public:
  SavingTwain(std::string name, int quality) : m_name(std::move(name)), m_quality(quality) {}
  int AcquireCallBack() override {
    PxSaveOptions options = PxSaveOptions::ForPage(1);
    result = GetBitmap()->Save(m_name.c_str(), 10, 0, m_quality, 1, &options);
    GetBitmap()->Free();
    return 1;
  }
  int result = 0;

 private:
  std::string m_name;
  int m_quality;
};

int Child(const char* out, int quality) {
  const int loaded = PxBase::LoadLibraries(PxBase::PX_KRN | PxBase::PX_FIL | PxBase::PX_TWN);
  if ((loaded & (PxBase::PX_FIL | PxBase::PX_TWN)) != (PxBase::PX_FIL | PxBase::PX_TWN)) {
    std::fprintf(stderr, "toolkit libraries missing: %s\n", PxBase::LastLoadError().c_str());
    return 3;
  }
  SavingTwain twain(out, quality);
  PxBitmapBase bitmap;
  twain.SetBitmap(&bitmap);
  twain.EnableCallBack(1);
  PxTwainProps props{};
  twain.GetProperties(&props);
  props.pixelType = PX_TWN_PIXEL_RGB;
  props.bitDepth = 24;
  props.resolution = 300;
  props.width = kLetterWidth;
  props.height = kLetterHeight;
  if (twain.SetProperties(&props, 0x30) != 1) return 4;
  const int pages = twain.Acquire(4);
  twain.CloseSession();
  if (pages != 1 || twain.result != 1) {
    std::fprintf(stderr, "scan %d, save %d: %s\n", pages, twain.result, twain.GetLastErrorText().c_str());
    return 5;
  }
  return 0;
}

struct Run {
  double millis = 0;
  long peakKb = 0;
  int status = -1;
};

Run Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Run run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  run.millis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.peakKb = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], std::atoi(argv[3]));
  const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 5);
  const std::string quality = argc > 2 ? argv[2] : "100";  // JPEG quality 75, as scanimage writes

  char pattern[] = "/tmp/m3scanbench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = pattern;
  std::ofstream(dir / "dll.conf") << "test\n";
  std::ofstream(dir / "test.conf") << "number_of_devices 1\ngeometry_max 300.0\ngeometry_quant 0.0\n"
                                      "test-picture \"Color pattern\"\n";
  setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
  setenv("MARLIN3_REGISTRY_DIR", dir.c_str(), 1);

  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::string ours = (dir / "ours.jpg").string();
  const std::string theirs = (dir / "scanimage.jpg").string();
  std::vector<double> oursMs, theirsMs;
  long oursKb = 0, theirsKb = 0;
  for (int i = 0; i <= runs; ++i) {  // the first round warms the caches and is not counted
    const Run a = Spawn({self, "--child", ours, quality});
    const Run b = Spawn({"scanimage", "-d", "test:0", "--mode", "Color", "--resolution", "300", "-l", "0",
                         "-t", "0", "-x", "215.9", "-y", "279.4", "--format=jpeg", "-o", theirs});
    if (a.status != 0 || b.status != 0) {
      std::fprintf(stderr, "a run failed: toolkit %d, scanimage %d\n", a.status, b.status);
      fs::remove_all(dir);
      return 1;
    }
    if (i == 0) continue;
    oursMs.push_back(a.millis);
    theirsMs.push_back(b.millis);
    oursKb = std::max(oursKb, a.peakKb);
    theirsKb = std::max(theirsKb, b.peakKb);
  }
  const double mo = Median(oursMs), mt = Median(theirsMs);
  std::printf("letter page, 300 dpi colour (2550 x 3300), test backend, %d runs\n", runs);
  std::printf("  toolkit   median %8.1f ms  peak %7ld KB  file %8ju bytes\n", mo, oursKb,
              static_cast<uintmax_t>(fs::file_size(ours)));
  std::printf("  scanimage median %8.1f ms  peak %7ld KB  file %8ju bytes\n", mt, theirsKb,
              static_cast<uintmax_t>(fs::file_size(theirs)));
  std::printf("  ratio toolkit/scanimage: time %.2f, peak memory %.2f\n", mo / mt,
              static_cast<double>(oursKb) / static_cast<double>(theirsKb));
  fs::remove_all(dir);
  return 0;
}
