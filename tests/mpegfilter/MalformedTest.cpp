// Truncated, corrupt and hostile streams end with a result code. The saved fuzz findings under
// tests/data/mpegfilter/malformed/ run here too.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "pxkernel/PxKernel.h"

using namespace testmpeg;

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::string Write(const std::string& name, const std::vector<uint8_t>& b) {
  const std::string path = TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return path;
}

int32_t Drop(void*, PxLoadInfo*, uint8_t*, int32_t, int32_t, int32_t, intptr_t) {
  return 1;
}

bool IsResult(int32_t rc) {
  return rc == PXM_OK || rc == PXM_END_OF_STREAM || rc == PXM_ERR_BAD_DATA || rc == PXM_ERR_NO_MEMORY ||
         rc == PXM_ERR_READ;
}

// Info and two pages; every answer must be one of the filter's results.
void Exercise(const std::string& path, const std::string& what) {
  const PxKernelImports& k = PxKernel();
  const int32_t h = k.pfnOpen(path.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
  ASSERT_GE(h, 0);
  PxFileInfo info{};
  const int32_t ri = fltInfo(h, &info, 1);
  k.pfnClose(h);
  EXPECT_TRUE(IsResult(ri)) << what << " info " << ri;
  for (int page : {1, 3}) {
    PxLoadInfo load{};
    load.nBitsPerPixel = 24;
    load.nPage = page;
    load.pfnRow = Drop;
    const int32_t rl = fltLoad(path.c_str(), &load);
    EXPECT_TRUE(IsResult(rl)) << what << " page " << page << " " << rl;
  }
}

class Malformed : public ::testing::Test {
 protected:
  void SetUp() override {
    DecoderLimits limits;
    limits.nMaxWidth = 4096;
    limits.nMaxHeight = 4096;
    limits.nMaxMemory = 64 << 20;
    MpegFilter::SetLimits(limits);
  }
  void TearDown() override { MpegFilter::SetLimits(DecoderLimits{}); }
  static std::vector<uint8_t> Good() {
    const std::string f = MakeStream("good_small.m2v", "testsrc2=size=96x64:rate=25",
                                     "-frames:v 6 -c:v mpeg2video -bf 2 -flags +ilme+ildct -g 4");
    return ReadAll(f);
  }
};

TEST_F(Malformed, Truncated) {
  const std::vector<uint8_t> good = Good();
  ASSERT_GT(good.size(), 100u);
  for (size_t n = 4; n < good.size(); n += good.size() / 37 + 1) {
    std::vector<uint8_t> b(good.begin(), good.begin() + static_cast<long>(n));
    Exercise(Write("trunc.m2v", b), "truncated at " + std::to_string(n));
  }
}

TEST_F(Malformed, Corrupted) {
  const std::vector<uint8_t> good = Good();
  uint32_t seed = 12345;
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> b = good;
    for (int i = 0; i < 1 + round % 8; ++i) {
      seed = seed * 1103515245 + 12345;
      const size_t pos = 12 + (seed >> 8) % (b.size() - 12);
      b[pos] ^= static_cast<uint8_t>(1 + (seed >> 3) % 255);
    }
    Exercise(Write("corrupt.m2v", b), "corrupt round " + std::to_string(round));
  }
}

TEST_F(Malformed, HostileHeaders) {
  const std::vector<uint8_t> seq = {0, 0, 1, 0xB3};
  auto header = [&](int w, int h, int rate) {
    std::vector<uint8_t> b = seq;
    b.push_back(static_cast<uint8_t>(w >> 4));
    b.push_back(static_cast<uint8_t>(((w & 15) << 4) | (h >> 8)));
    b.push_back(static_cast<uint8_t>(h & 255));
    b.push_back(static_cast<uint8_t>(0x10 | rate));
    for (uint8_t v : {0xFF, 0xFF, 0xE0, 0x18}) b.push_back(v);  // bit rate, marker, vbv, no matrices
    return b;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t expectInfo;
  };
  std::vector<Case> cases;
  cases.push_back({"zero width", header(0, 64, 3), PXM_ERR_BAD_DATA});
  cases.push_back({"no frame rate", header(64, 64, 0), PXM_ERR_BAD_DATA});
  cases.push_back({"header only", header(64, 64, 3), PXM_END_OF_STREAM});
  {
    // 4095 x 4095 beyond the 64 MiB memory limit, with one picture and slices: fltInfo already
    // refuses what no load could deliver.
    std::vector<uint8_t> b = header(4095, 4095, 3);
    for (int i = 0; i < 3; ++i)
      for (uint8_t v : {0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8, 0, 0, 1, 1, 0x12, 0x34})
        b.push_back(static_cast<uint8_t>(v));
    cases.push_back({"huge picture", b, PXM_ERR_NO_MEMORY});
  }
  {
    // A picture followed by a megabyte of zeros, then one of 0xFF.
    std::vector<uint8_t> b = header(64, 64, 3);
    for (uint8_t v : {0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8}) b.push_back(static_cast<uint8_t>(v));
    b.insert(b.end(), 1 << 20, 0);
    b.insert(b.end(), 1 << 20, 0xFF);
    cases.push_back({"zero and one runs", b, PXM_OK});
  }
  {
    // Tens of thousands of slices, each with macroblock stuffing and an escape run.
    std::vector<uint8_t> b = header(64, 64, 3);
    for (int p = 0; p < 2; ++p) {
      for (uint8_t v : {0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8}) b.push_back(static_cast<uint8_t>(v));
      for (int s = 0; s < 20000; ++s)
        for (int v : {0, 0, 1, 1 + s % 4, 0x10, 0x1E, 0x03, 0xC0, 0x78, 0x0F})
          b.push_back(static_cast<uint8_t>(v));
    }
    cases.push_back({"many slices", b, PXM_OK});
  }
  {
    // A program stream whose packets claim lengths past the end and nest pack headers.
    std::vector<uint8_t> b = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xFF};
    for (int i = 0; i < 100; ++i)
      for (uint8_t v : {0, 0, 1, 0xE0, 0xFF, 0xFF, 0x80, 0x80, 0xFF, 0, 0, 1, 0xBA})
        b.push_back(static_cast<uint8_t>(v));
    cases.push_back({"program stream lengths", b, PXM_END_OF_STREAM});
  }
  for (const Case& c : cases) {
    const std::string path = Write("hostile.m2v", c.bytes);
    const PxKernelImports& k = PxKernel();
    const int32_t h = k.pfnOpen(path.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
    PxFileInfo info{};
    EXPECT_EQ(fltInfo(h, &info, 1), c.expectInfo) << c.name;
    k.pfnClose(h);
    Exercise(path, c.name);
  }
}

TEST_F(Malformed, SavedFindings) {
  const std::string dir = std::string(MARLIN3_SOURCE_DIR) + "/tests/data/mpegfilter/malformed";
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  int n = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    Exercise(dir + "/" + e->d_name, e->d_name);
    ++n;
  }
  closedir(d);
  EXPECT_GT(n, 0);
}

// The default memory limit is what the largest MPEG-2 High-level picture needs: such a picture is
// accepted, a larger one is refused by fltInfo already (no page count promising what cannot
// load) and by fltLoad, with -1, before anything large is allocated.
TEST(DefaultLimits, HighLevelPictureFitsLargerIsRefused) {
  MpegFilter::SetLimits(DecoderLimits{});
  auto stream = [](int w, int h) {
    std::vector<uint8_t> b = {0,
                              0,
                              1,
                              0xB3,
                              static_cast<uint8_t>(w >> 4),
                              static_cast<uint8_t>(((w & 15) << 4) | (h >> 8)),
                              static_cast<uint8_t>(h & 255),
                              0x13,
                              0xFF,
                              0xFF,
                              0xE0,
                              0x18};
    for (int i = 0; i < 3; ++i)
      for (uint8_t v : {0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8, 0, 0, 1, 1, 0x12, 0x34})
        b.push_back(static_cast<uint8_t>(v));
    return b;
  };
  struct Case {
    int w, h;
    int32_t expect;
  } cases[] = {{1920, 1152, PXM_OK},
               {1920, 1088, PXM_OK},
               {4095, 2304, PXM_ERR_NO_MEMORY},
               {4095, 4095, PXM_ERR_NO_MEMORY}};
  for (const Case& c : cases) {
    const std::string path = Write("limits.m1v", stream(c.w, c.h));
    const PxKernelImports& k = PxKernel();
    const int32_t h = k.pfnOpen(path.c_str(), PX_O_RDONLY | PX_O_BINARY, PX_S_IREAD);
    PxFileInfo info{};
    EXPECT_EQ(fltInfo(h, &info, 1), c.expect) << c.w << "x" << c.h;
    k.pfnClose(h);
    PxLoadInfo load{};
    load.nBitsPerPixel = 24;
    load.nPage = 1;
    load.pfnRow = Drop;
    EXPECT_EQ(fltLoad(path.c_str(), &load), c.expect) << c.w << "x" << c.h;
  }
}

}  // namespace
