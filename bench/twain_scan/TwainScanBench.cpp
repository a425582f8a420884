// A letter page (215.9 x 279.4 mm) from SANE's test backend ("Color pattern"), saved as JPEG: the
// toolkit (PxTwain acquiring into a PxBitmapBase, Save as type 10) beside `scanimage --format=jpeg` of
// the same area, mode and resolution, at colour 300 dpi, grey 300 dpi and colour 150 dpi. Both run as
// child processes (start-up included on both sides) against the same scratch SANE set-up (the area
// limit raised to 300 mm, since the test device's default glass is 200 mm). Quality factor 100 is JPEG
// quality 75, what scanimage writes: the two files decode to the same pixels. Wall time and CPU time
// (user + system of the child and its threads) are medians of the runs; CPU time is the steadier
// figure on a shared machine. Memory is the largest peak resident size (ru_maxrss).
//
// Usage: bench_twain_scan [runs] [toolkit quality factor]
//        bench_twain_scan --child OUT.jpg QUALITY MODE DPI     (one toolkit scan; what the parent times)
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
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

int Child(const char* out, int quality, bool colour, int dpi) {
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
  props.pixelType = colour ? PX_TWN_PIXEL_RGB : PX_TWN_PIXEL_GRAY;
  props.bitDepth = colour ? 24 : 8;
  props.resolution = dpi;
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
  double cpuMillis = 0;
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
  // A child that hangs (scanimage was once seen stuck in SANE's exit) is killed after a minute.
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!ended.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) kill(pid, SIGKILL);
  });
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  ended.notify_one();
  watchdog.join();
  run.millis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.peakKb = usage.ru_maxrss;
  run.cpuMillis = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Setting {
  const char* name;
  bool colour;
  int dpi;
};

// Times one setting; false when a run failed.
bool Measure(const Setting& setting, int runs, const std::string& quality, const fs::path& dir) {
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::string ours = (dir / "ours.jpg").string();
  const std::string theirs = (dir / "scanimage.jpg").string();
  const std::string dpi = std::to_string(setting.dpi);
  std::vector<double> oursMs, theirsMs, oursCpu, theirsCpu;
  long oursKb = 0, theirsKb = 0;
  for (int i = 0; i <= runs; ++i) {  // the first round warms the caches and is not counted
    const Run a = Spawn({self, "--child", ours, quality, setting.colour ? "colour" : "grey", dpi});
    const Run b =
        Spawn({"scanimage", "-d", "test:0", "--mode", setting.colour ? "Color" : "Gray", "--resolution", dpi,
               "-l", "0", "-t", "0", "-x", "215.9", "-y", "279.4", "--format=jpeg", "-o", theirs});
    if (a.status != 0 || b.status != 0) {
      std::fprintf(stderr, "a run failed or was killed after a minute: toolkit %d, scanimage %d\n", a.status,
                   b.status);
      return false;
    }
    if (i == 0) continue;
    oursMs.push_back(a.millis);
    theirsMs.push_back(b.millis);
    oursCpu.push_back(a.cpuMillis);
    theirsCpu.push_back(b.cpuMillis);
    oursKb = std::max(oursKb, a.peakKb);
    theirsKb = std::max(theirsKb, b.peakKb);
  }
  const double mo = Median(oursMs), mt = Median(theirsMs), co = Median(oursCpu), ct = Median(theirsCpu);
  std::printf("letter page, %s, test backend, %d runs\n", setting.name, runs);
  std::printf("  toolkit   median %7.1f ms wall %7.1f ms cpu  peak %7ld KB  file %8ju bytes\n", mo, co,
              oursKb, static_cast<uintmax_t>(fs::file_size(ours)));
  std::printf("  scanimage median %7.1f ms wall %7.1f ms cpu  peak %7ld KB  file %8ju bytes\n", mt, ct,
              theirsKb, static_cast<uintmax_t>(fs::file_size(theirs)));
  std::printf("  ratio toolkit/scanimage: wall %.2f, cpu %.2f, peak memory %.2f\n", mo / mt, co / ct,
              static_cast<double>(oursKb) / static_cast<double>(theirsKb));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--child") == 0)
    return Child(argv[2], std::atoi(argv[3]), std::strcmp(argv[4], "colour") == 0, std::atoi(argv[5]));
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
  const Setting settings[] = {
      {"300 dpi colour", true, 300}, {"300 dpi grey", false, 300}, {"150 dpi colour", true, 150}};
  bool ok = true;
  for (const Setting& setting : settings) ok = Measure(setting, runs, quality, dir) && ok;
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
