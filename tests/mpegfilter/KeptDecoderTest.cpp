// The decoder kept between fltLoad calls: a file changed in place or replaced is never served
// from the old state, a freshly changed file is not kept at all, and the state goes when the last
// page is read or the limits change. (Page-by-page equality with fresh decodes is checked on every
// stream kind by ExpectKeptEqualsFresh in the stream tests.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "TestStreams.h"
#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"

using namespace testmpeg;

namespace {

std::vector<unsigned char> ReadAll(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Rewrites the file in place (same inode, same size when b is).
void WriteInPlace(const std::string& f, const std::vector<unsigned char>& b) {
  FILE* out = std::fopen(f.c_str(), "r+b");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), out), b.size());
  std::fclose(out);
}

bool Same(const Planes& a, const Planes& b) {
  return a.w == b.w && a.h == b.h && a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

class KeptDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MpegFilter::SetSettleTime(0);
    const std::string a =
        MakeStream("kept_a.m2v", "testsrc2=size=96x64:rate=25", "-frames:v 12 -c:v mpeg2video -bf 2");
    const std::string b = MakeStream("kept_b.m2v", "testsrc2=size=96x64:rate=25",
                                     "-frames:v 12 -c:v mpeg2video -bf 2 -qscale:v 20");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    m_a = ReadAll(a);
    m_b = ReadAll(b);
    // The same length as A with B's content at the front: in-place rewrites keep the size.
    m_bSameSize = m_a;
    std::copy(m_b.begin(), m_b.begin() + std::min(m_a.size(), m_b.size()), m_bSameSize.begin());
  }
  void TearDown() override {
    MpegFilter::ReleaseKept();
    MpegFilter::SetSettleTime(MpegFilter::kDefaultSettleNs);
  }
  static Planes Fresh(const std::vector<unsigned char>& bytes, int page) {
    const std::string f = TempDir() + "/kept_fresh.m2v";
    std::ofstream(f, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    MpegFilter::ReleaseKept();
    Planes p;
    EXPECT_EQ(DecodePlanes(f, page, &p), PXM_OK);
    MpegFilter::ReleaseKept();
    return p;
  }
  std::vector<unsigned char> m_a, m_b, m_bSameSize;
};

TEST_F(KeptDecoderTest, ChangedOrReplacedFileIsDecodedAfresh) {
  const std::string path = TempDir() + "/kept_target.m2v";
  for (bool bReplace : {false, true}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(m_a.data()), static_cast<std::streamsize>(m_a.size()));
    Planes p;
    for (int page = 1; page <= 3; ++page) ASSERT_EQ(DecodePlanes(path, page, &p), PXM_OK);
    ASSERT_GT(MpegFilter::KeptBytes(), 0);
    // Past the file system's time granularity, then the change.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (bReplace) {
      const std::string tmp = path + ".new";
      std::ofstream(tmp, std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(m_b.data()), static_cast<std::streamsize>(m_b.size()));
      ASSERT_EQ(std::rename(tmp.c_str(), path.c_str()), 0);
    } else {
      WriteInPlace(path, m_bSameSize);
    }
    const std::vector<unsigned char>& now = bReplace ? m_b : m_bSameSize;
    for (int page : {4, 5}) {
      ASSERT_EQ(DecodePlanes(path, page, &p), PXM_OK);
      const Planes want = Fresh(now, page);
      EXPECT_TRUE(Same(p, want)) << (bReplace ? "replaced" : "rewritten") << " page " << page;
      EXPECT_FALSE(Same(p, Fresh(m_a, page))) << "the two versions must differ for the test to mean anything";
    }
  }
}

TEST_F(KeptDecoderTest, KeptOnlyWhileUseful) {
  const std::string path = TempDir() + "/kept_life.m2v";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(m_a.data()), static_cast<std::streamsize>(m_a.size()));
  Planes p;
  // A file changed a moment ago is not kept: its times could hide a change made right after.
  MpegFilter::SetSettleTime(MpegFilter::kDefaultSettleNs);
  ASSERT_EQ(DecodePlanes(path, 1, &p), PXM_OK);
  EXPECT_EQ(MpegFilter::KeptBytes(), 0);
  MpegFilter::SetSettleTime(0);
  ASSERT_EQ(DecodePlanes(path, 1, &p), PXM_OK);
  EXPECT_EQ(MpegFilter::KeptBytes(), 3 * (96 * 64 * 3 / 2));  // three 4:2:0 frame stores
  // Another file takes its place; new limits release it; the last page releases it.
  const std::string other =
      MakeStream("kept_other.m2v", "testsrc2=size=64x48:rate=25", "-frames:v 4 -c:v mpeg2video");
  ASSERT_EQ(DecodePlanes(other, 1, &p), PXM_OK);
  EXPECT_EQ(MpegFilter::KeptBytes(), 3 * (64 * 48 * 3 / 2));
  MpegFilter::SetLimits(MpegFilter::Limits());
  EXPECT_EQ(MpegFilter::KeptBytes(), 0);
  ASSERT_EQ(DecodePlanes(path, 10, &p), PXM_OK);
  EXPECT_GT(MpegFilter::KeptBytes(), 0);
  ASSERT_EQ(DecodePlanes(path, 11, &p), PXM_OK);  // the last page
  EXPECT_EQ(MpegFilter::KeptBytes(), 0);
  // An earlier page starts afresh and gives the same picture as before.
  Planes first, again;
  ASSERT_EQ(DecodePlanes(path, 1, &first), PXM_OK);
  ASSERT_EQ(DecodePlanes(path, 6, &p), PXM_OK);
  ASSERT_EQ(DecodePlanes(path, 1, &again), PXM_OK);
  EXPECT_TRUE(Same(first, again));
}

}  // namespace
