// Conversion speed and peak memory of the toolkit beside ImageMagick's convert. The toolkit is
// single-threaded; convert runs twice, with MAGICK_THREAD_LIMIT=1 (the per-core figure) and with its
// own default thread count. Each job runs in a child process so that its peak resident memory
// (wait4's ru_maxrss) is its own.
//   bench_toolkit [work folder] [pages] [--ours] [--only Deflate|LZW|JPEG|uncompressed]
//   (default /tmp/pxtk-bench, 20 pages; --ours skips convert; --only times one TIFF input alone)
// Inputs, made once: colour letter pages at 300 dpi (2550 x 3300) as JPEG files, and as multi-page TIFFs:
// Deflate with predictor (the toolkit's type 17), LZW with predictor and JPEG (YCbCr, quality 75), both
// by tiffcp, and uncompressed. ImageMagick writes PDF through its PDFA coder (Debian's policy
// blocks "PDF"; the writer is the same). convert holds every page in its pixel cache, which Debian's
// resource policy (1 GiB of disk) refuses for 20 letter pages, so the peer runs with a policy of its
// own in the work folder (MAGICK_CONFIGURE_PATH) that raises the resource limits, nothing else.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxFile.h"
#include "pxclass/PxFileTypes.h"

extern char** environ;

namespace {

std::string g_magickConfig;
bool g_oneThread = true;

struct Result {
  double seconds = 0;
  double cpu = 0;  // user + system seconds: steadier than wall time on a shared machine
  long peakKb = 0;
  bool ok = false;
};

Result InChild(const std::function<bool()>& job) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(job() ? 0 : 1);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Result r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakKb = usage.ru_maxrss;
  r.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

Result Command(const std::vector<std::string>& args) {
  return InChild([&] {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (g_oneThread)
      setenv("MAGICK_THREAD_LIMIT", "1", 1);
    else
      unsetenv("MAGICK_THREAD_LIMIT");
    setenv("MAGICK_CONFIGURE_PATH", g_magickConfig.c_str(), 1);
    execvp(argv[0], argv.data());
    return false;
  });
}

// A colour page with detail JPEG has to work for: gradients, a grid and pseudo-random speckle.
void MakeColourPage(PxBitmapBase& bitmap, int seed) {
  PxPage* page = PxPageAlloc(2550, 3300, 24);
  uint32_t state = 0x9E3779B9u * uint32_t(seed + 1);
  for (int y = 0; y < page->height; ++y) {
    uint8_t* row = PxPageRow(page, y);
    for (int x = 0; x < page->width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = int(state >> 28);
      const bool grid = (x % 150) < 3 || (y % 110) < 3;
      row[x * 3] = uint8_t(grid ? 20 : (x * 255 / page->width + noise) & 255);
      row[x * 3 + 1] = uint8_t(grid ? 20 : (y * 255 / page->height + noise) & 255);
      row[x * 3 + 2] = uint8_t(grid ? 20 : ((x + y + seed * 40) * 255 / 5850 + noise) & 255);
    }
  }
  page->xDpi = page->yDpi = 300;
  bitmap.AttachPage(page);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

void Line(const char* who, const Result& r) {
  std::printf("  %-18s %7.2f s wall, %7.2f s cpu, peak %7.1f MB%s\n", who, r.seconds, r.cpu,
              r.peakKb / 1024.0, r.ok ? "" : "  (FAILED)");
}

void Ratio(const char* who, const Result& ours, const Result& peer) {
  std::printf("  %-18s wall x%.2f, cpu x%.2f, memory x%.2f\n", who,
              ours.seconds > 0 ? peer.seconds / ours.seconds : 0.0, ours.cpu > 0 ? peer.cpu / ours.cpu : 0.0,
              ours.peakKb > 0 ? double(peer.peakKb) / ours.peakKb : 0.0);
}

// The toolkit's run beside convert on one thread and, when run, convert on its default threads.
void Report(const std::string& what, const Result& ours, const Result* one, const Result* many) {
  std::printf("%s\n", what.c_str());
  Line("toolkit:", ours);
  if (one) Line("convert, 1 thread:", *one);
  if (many) Line("convert, threads:", *many);
  if (one) Ratio("convert1 / toolkit:", ours, *one);
  if (many) Ratio("convertN / toolkit:", ours, *many);
}

// convert's run on one thread, and on its default threads when asked for.
void RunPeer(bool skip, const std::vector<std::string>& args, Result& one, Result& many) {
  if (skip) return;
  g_oneThread = true;
  one = Command(args);
  g_oneThread = false;
  many = Command(args);
  g_oneThread = true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  bool oursOnly = false;
  std::string only;  // --only KIND: one TIFF input and nothing else (for profiling)
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--ours")
      oursOnly = true;
    else if (std::string(argv[i]) == "--only" && i + 1 < argc)
      only = argv[++i], oursOnly = true;
    else
      positional.push_back(argv[i]);
  }
  const std::string dir = positional.size() > 0 ? positional[0] : "/tmp/pxtk-bench";
  const int pages = positional.size() > 1 ? std::atoi(positional[1].c_str()) : 20;
  mkdir(dir.c_str(), 0755);
  g_magickConfig = dir + "/magick";
  mkdir(g_magickConfig.c_str(), 0755);
  if (FILE* policy = std::fopen((g_magickConfig + "/policy.xml").c_str(), "w")) {
    std::fputs(
        "<policymap>\n"
        "  <policy domain=\"resource\" name=\"memory\" value=\"2GiB\"/>\n"
        "  <policy domain=\"resource\" name=\"map\" value=\"4GiB\"/>\n"
        "  <policy domain=\"resource\" name=\"disk\" value=\"8GiB\"/>\n"
        "  <policy domain=\"resource\" name=\"area\" value=\"1GP\"/>\n"
        "</policymap>\n",
        policy);
    std::fclose(policy);
  }
  if ((PxBase::LoadLibraries(PxBase::PX_FIL) & PxBase::PX_FIL) == 0) {
    std::fprintf(stderr, "file library did not load: %s\n", PxBase::LastLoadError().c_str());
    return 1;
  }
  const std::string tiff = dir + "/pages.tif";         // compressed (17: Deflate)
  const std::string plain = dir + "/pages-plain.tif";  // uncompressed (3)
  const std::string lzw = dir + "/pages-lzw.tif";
  const std::string jpegTiff = dir + "/pages-jpeg.tif";
  std::vector<std::string> jpegs;
  for (int i = 1; i <= pages; ++i) jpegs.push_back(dir + "/page" + std::to_string(i) + ".jpg");
  if (!Exists(tiff) || !Exists(plain) || !Exists(jpegs.back())) {
    std::printf("making %d colour 300 dpi letter pages in %s ...\n", pages, dir.c_str());
    for (int i = 1; i <= pages; ++i) {
      PxBitmapBase page;
      MakeColourPage(page, i);
      const PxSaveOptions options = PxSaveOptions::ForPage(i);
      if (page.Save(jpegs[size_t(i - 1)].c_str(), PX_TYPE_JPEG, 0, 100, 1, nullptr) < 1 ||
          page.Save(tiff.c_str(), PX_TYPE_TIFF_PACKED, 0, 100, 1, &options) < 1 ||
          page.Save(plain.c_str(), PX_TYPE_TIFF, 0, 100, 1, &options) < 1) {
        std::fprintf(stderr, "making the inputs failed\n");
        return 1;
      }
    }
  }
  if (!Exists(lzw) && !Command({"tiffcp", "-c", "lzw:2", plain, lzw}).ok) return 1;
  if (!Exists(jpegTiff) && !Command({"tiffcp", "-c", "jpeg:75", "-r", "64", plain, jpegTiff}).ok) return 1;

  // 1. JPEG pages to one PDF (JPEG pages in the PDF, quality 75 on both sides).
  const std::string pdf = dir + "/ours.pdf";
  const Result oursPdf = InChild([&] {
    if (!only.empty()) return true;
    for (int i = 1; i <= pages; ++i) {
      PxBitmapBase page;
      const PxSaveOptions options = PxSaveOptions::ForPage(i);
      if (page.Load(jpegs[size_t(i - 1)].c_str(), 0, 4, 1) < 1) return false;
      if (page.Save(pdf.c_str(), PX_TYPE_PDF, 0, 100, 1, &options) < 1) return false;
    }
    return true;
  });
  std::vector<std::string> args = {"convert"};
  args.insert(args.end(), jpegs.begin(), jpegs.end());
  args.insert(args.end(), {"-quality", "75", "PDFA:" + dir + "/magick.pdf"});
  Result one, many;
  RunPeer(oursOnly, args, one, many);
  if (only.empty())
    Report(std::to_string(pages) + " JPEG pages -> one PDF", oursPdf, oursOnly ? nullptr : &one,
           oursOnly ? nullptr : &many);

  // 2. A multi-page TIFF to one JPEG file per page (quality 75 on both sides).
  bool allOk = oursPdf.ok && (oursOnly || (one.ok && many.ok));
  const std::pair<std::string, const char*> inputs[] = {
      {tiff, "Deflate"}, {lzw, "LZW"}, {jpegTiff, "JPEG"}, {plain, "uncompressed"}};
  for (const auto& [input, kind] : inputs) {
    if (!only.empty() && only != kind) continue;
    const Result ours = InChild([&, input = input] {
      PxFile file;
      PxFileInfo info{};
      file.SetFileName(input.c_str());
      if (file.GetInfo(&info, 1) < 1) return false;
      for (int i = 1; i <= info.nPages; ++i) {
        PxBitmapBase page;
        if (page.Load(input.c_str(), 0, 4, i) < 1) return false;
        const std::string out = dir + "/ours-" + std::to_string(i) + ".jpg";
        if (page.Save(out.c_str(), PX_TYPE_JPEG, 0, 100, 1, nullptr) < 1) return false;
      }
      return true;
    });
    RunPeer(oursOnly, {"convert", input, "-quality", "75", dir + "/magick-%d.jpg"}, one, many);
    Report(std::to_string(pages) + "-page TIFF (" + kind + ") -> JPEG files", ours, oursOnly ? nullptr : &one,
           oursOnly ? nullptr : &many);
    allOk = allOk && ours.ok && (oursOnly || (one.ok && many.ok));
  }
  return allOk ? 0 : 1;
}
