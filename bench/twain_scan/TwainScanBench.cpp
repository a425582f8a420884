// A letter page (215.9 x 279.4 mm) from SANE's test backend ("Color pattern" unless another test
// picture is named), saved as JPEG three ways: the toolkit acquiring into a PxBitmapBase and saving it
// (Save as type 10), the toolkit's file transfer (the page written while it is scanned), and
// `scanimage --format=jpeg` of the same area, mode and resolution; at colour 300 dpi, grey 300 dpi and
// colour 150 dpi. All run as child processes (start-up included) against the same scratch SANE set-up
// (the area limit raised to 300 mm, since the test device's default glass is 200 mm). Quality factor
// 100 is JPEG quality 75, what scanimage writes: the files decode to the same pixels. Wall time and CPU
// time (user + system of the child and its threads) are medians of the runs; memory is the largest
// peak resident size (ru_maxrss). Like scanimage's -d, the toolkit is told its device: the source
// table names it, as marlin3-product writes it for a product's scanner.
//
// Usage: bench_twain_scan [runs] [toolkit quality factor] [test picture: "Grid", "Solid black", ...]
//        bench_twain_scan --child OUT.jpg QUALITY MODE DPI [transfer]  (one toolkit scan, as timed)
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
#include "pxclass/PxFileTypes.h"
#include "pxclass/PxSaveOptions.h"
#include "pxclass/PxTwain.h"
#include "toolkit/twain/SourceTable.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

constexpr int kLetterWidth = 12240;   // 8.5 inch in 1/1440 inch
constexpr int kLetterHeight = 15840;  // 11 inch
constexpr const char* kSource = "Test scanner";

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

int Child(const char* out, int quality, bool colour, int dpi, bool transfer) {
  // What a scan uses, as docs/toolkit-twain.md shows: the kernel library serves the MPEG plug-in.
  const int loaded = PxBase::LoadLibraries(PxBase::PX_FIL | PxBase::PX_TWN);
  if ((loaded & (PxBase::PX_FIL | PxBase::PX_TWN)) != (PxBase::PX_FIL | PxBase::PX_TWN)) {
    std::fprintf(stderr, "toolkit libraries missing: %s\n", PxBase::LastLoadError().c_str());
    return 3;
  }
  SavingTwain twain(out, quality);
  PxBitmapBase bitmap;
  if (transfer) {
    twain.SetFileTransfer(out, PX_TYPE_JPEG, quality);
  } else {
    twain.SetBitmap(&bitmap);
    twain.EnableCallBack(1);
  }
  PxTwainProps props{};
  twain.GetProperties(&props);
  std::snprintf(props.sourceName, sizeof props.sourceName, "%s", kSource);
  props.pixelType = colour ? PX_TWN_PIXEL_RGB : PX_TWN_PIXEL_GRAY;
  props.bitDepth = colour ? 24 : 8;
  props.resolution = dpi;
  props.width = kLetterWidth;
  props.height = kLetterHeight;
  if (twain.SetProperties(&props, 0x30) != 1) return 4;
  const int pages = twain.Acquire(4);
  twain.CloseSession();
  if (pages != 1 || (!transfer && twain.result != 1)) {
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
  const std::string dpi = std::to_string(setting.dpi);
  const std::string mode = setting.colour ? "colour" : "grey";
  struct Side {
    const char* name;
    std::string file;
    std::vector<std::string> args;
    std::vector<double> ms, cpu;
    long kb = 0;
  };
  Side sides[3] = {
      {"toolkit, page in a bitmap, then Save", (dir / "bitmap.jpg").string(), {}, {}, {}, 0},
      {"toolkit, file transfer", (dir / "transfer.jpg").string(), {}, {}, {}, 0},
      {"scanimage --format=jpeg", (dir / "scanimage.jpg").string(), {}, {}, {}, 0},
  };
  sides[0].args = {self, "--child", sides[0].file, quality, mode, dpi};
  sides[1].args = {self, "--child", sides[1].file, quality, mode, dpi, "transfer"};
  sides[2].args = {"scanimage",
                   "-d",
                   "test:0",
                   "--mode",
                   setting.colour ? "Color" : "Gray",
                   "--resolution",
                   dpi,
                   "-l",
                   "0",
                   "-t",
                   "0",
                   "-x",
                   "215.9",
                   "-y",
                   "279.4",
                   "--format=jpeg",
                   "-o",
                   sides[2].file};
  for (int i = 0; i <= runs; ++i) {  // the first round warms the caches and is not counted
    for (Side& side : sides) {
      const Run run = Spawn(side.args);
      if (run.status != 0) {
        std::fprintf(stderr, "%s: a run failed or was killed after a minute (status %d)\n", side.name,
                     run.status);
        return false;
      }
      if (i == 0) continue;
      side.ms.push_back(run.millis);
      side.cpu.push_back(run.cpuMillis);
      side.kb = std::max(side.kb, run.peakKb);
    }
  }
  std::printf("letter page, %s, test backend, %d runs\n", setting.name, runs);
  for (const Side& side : sides)
    std::printf("  %-38s median %7.1f ms wall %7.1f ms cpu  peak %7ld KB  file %8ju bytes\n", side.name,
                Median(side.ms), Median(side.cpu), side.kb, static_cast<uintmax_t>(fs::file_size(side.file)));
  const Side& theirs = sides[2];
  for (int i = 0; i < 2; ++i)
    std::printf("  ratio %s / scanimage: wall %.2f, cpu %.2f, peak memory %.2f\n",
                i == 0 ? "bitmap  " : "transfer", Median(sides[i].ms) / Median(theirs.ms),
                Median(sides[i].cpu) / Median(theirs.cpu),
                static_cast<double>(sides[i].kb) / static_cast<double>(theirs.kb));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "--child") == 0)
    return Child(argv[2], std::atoi(argv[3]), std::strcmp(argv[4], "colour") == 0, std::atoi(argv[5]),
                 argc == 7);
  if (argc == 2 && std::strcmp(argv[1], "--table") == 0)
    return pxtwain::SourceTable::Write({kSource, "test:0"}) == pxtwain::TableResult::kOk ? 0 : 1;
  const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 5);
  const std::string quality = argc > 2 ? argv[2] : "100";  // JPEG quality 75, as scanimage writes
  const std::string picture = argc > 3 ? argv[3] : "Color pattern";

  char pattern[] = "/tmp/m3scanbench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = pattern;
  std::ofstream(dir / "dll.conf") << "test\n";
  std::ofstream(dir / "test.conf") << "number_of_devices 1\ngeometry_max 300.0\ngeometry_quant 0.0\n"
                                      "test-picture \""
                                   << picture << "\"\n";
  setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
  setenv("MARLIN3_REGISTRY_DIR", dir.c_str(), 1);
  // Written by a child, so that no process of the bench but the timed ones has the registry open.
  if (Spawn({fs::canonical("/proc/self/exe").string(), "--table"}).status != 0) {
    std::fprintf(stderr, "the source table could not be written in %s\n", dir.c_str());
    return 1;
  }
  const Setting settings[] = {
      {"300 dpi colour", true, 300}, {"300 dpi grey", false, 300}, {"150 dpi colour", true, 150}};
  bool ok = true;
  for (const Setting& setting : settings) ok = Measure(setting, runs, quality, dir) && ok;
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
