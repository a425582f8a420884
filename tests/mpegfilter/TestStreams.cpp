#include "TestStreams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"

namespace testmpeg {

const std::string& TempDir() {
  static const std::string s_dir = [] {
    char tmpl[] = "/tmp/mpegfilter_test_XXXXXX";
    const char* d = mkdtemp(tmpl);
    return std::string(d ? d : "/tmp");
  }();
  return s_dir;
}

bool Run(const std::string& cmd) {
  return std::system(cmd.c_str()) == 0;
}

std::string MakeStream(const std::string& name, const std::string& source, const std::string& args) {
  const std::string path = TempDir() + "/" + name;
  if (access(path.c_str(), R_OK) == 0) return path;
  const std::string cmd =
      "ffmpeg -nostdin -v error -y -f lavfi -i '" + source + "' " + args + " '" + path + "' 2>/dev/null";
  return Run(cmd) ? path : std::string();
}

std::vector<unsigned char> ReferenceDecode(const std::string& file, const std::string& pixFmt) {
  std::vector<unsigned char> out;
  const std::string cmd = "ffmpeg -nostdin -v error -i '" + file +
                          "' -fps_mode passthrough -f rawvideo -pix_fmt " + pixFmt + " -";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  unsigned char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.insert(out.end(), buf, buf + n);
  pclose(p);
  return out;
}

int ProbeFrames(const std::string& file) {
  const std::string cmd =
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
      "-of default=nokey=1:noprint_wrappers=1 '" +
      file + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  int n = -1;
  if (fscanf(p, "%d", &n) != 1) n = -1;
  pclose(p);
  return n;
}

namespace {
int32_t Grab(void* pUser, const FrameStore& f, const SequenceParams& seq, const PlaneGeometry& g) {
  Planes& out = *static_cast<Planes*>(pUser);
  out.w = seq.nWidth;
  out.h = seq.nHeight;
  out.cw = (seq.nWidth + (1 << g.nChromaShiftX) - 1) >> g.nChromaShiftX;
  out.ch = (seq.nHeight + (1 << g.nChromaShiftY) - 1) >> g.nChromaShiftY;
  auto copy = [](std::vector<unsigned char>& v, const uint8_t* p, int stride, int w, int h) {
    v.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) v[static_cast<size_t>(y) * w + x] = p[static_cast<size_t>(y) * stride + x];
  };
  copy(out.y, f.pY, g.nLumaStride, out.w, out.h);
  copy(out.cb, f.pCb, g.nChromaStride, out.cw, out.ch);
  copy(out.cr, f.pCr, g.nChromaStride, out.cw, out.ch);
  return PXM_OK;
}
}  // namespace

int DecodePlanes(const std::string& file, int nPage, Planes* pOut) {
  return MpegFilter::LoadPlanes(file.c_str(), nPage, Grab, pOut);
}

double Psnr(const unsigned char* a, const unsigned char* b, size_t n) {
  double se = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se);
}

int ExpectKeptEqualsFresh(const std::string& file) {
  MpegFilter::SetSettleTime(0);
  MpegFilter::ReleaseKept();
  std::vector<Planes> kept;
  std::vector<int64_t> keptBytes;
  for (int page = 1;; ++page) {
    Planes p, again;
    const int rc = DecodePlanes(file, page, &p);
    if (rc != PXM_OK) {
      EXPECT_EQ(rc, PXM_END_OF_STREAM) << file << " page " << page;
      break;
    }
    keptBytes.push_back(MpegFilter::KeptBytes());
    EXPECT_EQ(DecodePlanes(file, page, &again), PXM_OK);
    EXPECT_TRUE(again.y == p.y && again.cb == p.cb && again.cr == p.cr)
        << file << " page " << page << " twice";
    kept.push_back(std::move(p));
  }
  // Kept while pages lie ahead, released after the last.
  for (size_t i = 0; i < keptBytes.size(); ++i)
    EXPECT_EQ(keptBytes[i] > 0, i + 1 < keptBytes.size()) << file << " page " << i + 1;
  for (size_t i = 0; i < kept.size(); ++i) {
    MpegFilter::ReleaseKept();
    Planes fresh;
    EXPECT_EQ(DecodePlanes(file, static_cast<int>(i) + 1, &fresh), PXM_OK);
    EXPECT_TRUE(fresh.w == kept[i].w && fresh.h == kept[i].h && fresh.y == kept[i].y &&
                fresh.cb == kept[i].cb && fresh.cr == kept[i].cr)
        << file << " page " << i + 1 << " differs from a fresh decode";
  }
  MpegFilter::ReleaseKept();
  MpegFilter::SetSettleTime(MpegFilter::kDefaultSettleNs);
  return static_cast<int>(kept.size());
}

}  // namespace testmpeg
