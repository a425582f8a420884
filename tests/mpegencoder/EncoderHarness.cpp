// Harness implementation; see EncoderHarness.h.
#include "EncoderHarness.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "mpegfilter/MpegFilter.h"
#include "mpegfilter/PxResult.h"
#include "mpegfilter/encoder/EncoderInternal.h"
#include "tools/mpegenc/ImageSeries.h"

namespace enctest {

PxEncodeParams DefaultParams() {
  return PxEncodeParams{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, nullptr};
}

Harness::Harness() {
  char tmpl[] = "/tmp/mpegenc_test.XXXXXX";
  const char* d = mkdtemp(tmpl);
  m_dir = d ? d : "/tmp";
}

Harness::~Harness() {
  if (m_dir.rfind("/tmp/mpegenc_test.", 0) == 0) Run("rm -rf '" + m_dir + "'", nullptr);
}

int Harness::Run(const std::string& cmd, std::string* pOut) {
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = pclose(p);
  if (pOut) *pOut = out;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool Harness::HaveFfmpeg() {
  static const bool s_b = Run("ffmpeg -version && ffprobe -version", nullptr) == 0;
  return s_b;
}

std::string Harness::MakeYuv(const std::string& filter, int w, int h, int frames, const std::string& post) {
  const std::string out =
      Path(filter.substr(0, filter.find_first_of("=,")) + (post.empty() ? "" : "_post") + "_" +
           std::to_string(w) + "x" + std::to_string(h) + "_" + std::to_string(frames) + ".yuv");
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i '" + filter + "=size=" + std::to_string(w) + "x" +
                          std::to_string(h) + ":rate=25" + post + "' -frames:v " + std::to_string(frames) +
                          " -pix_fmt yuv420p -f rawvideo '" + out + "'";
  std::string log;
  return Run(cmd, &log) == 0 ? out : std::string();
}

namespace {

void KeepRecon(void* pUser, int32_t nDisplay, const pxenc::Frame& f, const pxenc::Geometry& g) {
  auto& map = *static_cast<std::map<int, Planes>*>(pUser);
  Planes p;
  p.w = g.nWidth;
  p.h = g.nHeight;
  p.cw = (g.nWidth + (1 << g.nChromaShiftX) - 1) >> g.nChromaShiftX;
  p.ch = (g.nHeight + (1 << g.nChromaShiftY) - 1) >> g.nChromaShiftY;
  for (int y = 0; y < p.h; ++y) p.y.insert(p.y.end(), f.y.p + y * f.y.nStride, f.y.p + y * f.y.nStride + p.w);
  for (int y = 0; y < p.ch; ++y) {
    p.cb.insert(p.cb.end(), f.cb.p + y * f.cb.nStride, f.cb.p + y * f.cb.nStride + p.cw);
    p.cr.insert(p.cr.end(), f.cr.p + y * f.cr.nStride, f.cr.p + y * f.cr.nStride + p.cw);
  }
  map[nDisplay] = std::move(p);
}

int32_t KeepPlanes(void* pUser, const FrameStore& f, const SequenceParams& seq, const PlaneGeometry& g) {
  Planes& p = *static_cast<Planes*>(pUser);
  p.w = seq.nWidth;
  p.h = seq.nHeight;
  p.cw = (seq.nWidth + (1 << g.nChromaShiftX) - 1) >> g.nChromaShiftX;
  p.ch = (seq.nHeight + (1 << g.nChromaShiftY) - 1) >> g.nChromaShiftY;
  for (int y = 0; y < p.h; ++y)
    p.y.insert(p.y.end(), f.pY + y * g.nLumaStride, f.pY + y * g.nLumaStride + p.w);
  for (int y = 0; y < p.ch; ++y) {
    p.cb.insert(p.cb.end(), f.pCb + y * g.nChromaStride, f.pCb + y * g.nChromaStride + p.cw);
    p.cr.insert(p.cr.end(), f.pCr + y * g.nChromaStride, f.pCr + y * g.nChromaStride + p.cw);
  }
  return PXM_OK;
}

}  // namespace

Harness::Encoded Harness::EncodeYuv(const std::string& yuv, int w, int h, const PxEncodeParams& p,
                                    int32_t nFormat, const std::string& out, int first, int count) {
  Encoded e;
  PxBitmap desc{};
  desc.nWidth = w;
  desc.nHeight = h;
  e.result = Px_EncodeSetParams(&e.state, &desc, &p, nFormat);
  if (e.result == PXM_OK) e.result = Px_InitializeEncoder(&e.state);
  if (e.result == PXM_OK) e.result = Px_InitBits(out.c_str(), &e.state.writer);
  if (e.result == PXM_OK) {
    FILE* f = std::fopen(yuv.c_str(), "rb");
    if (!f) {
      e.result = PXM_ERR_OPEN;
    } else {
      e.state.nFirstFrame = first;
      e.state.nFrameCount = count;
      pxenc::SetReconHook(&e.state, KeepRecon, &e.recon);
      pxenc_tool::RawYuvSource src(f, w, h, e.state.nMpeg2 && e.state.nFieldCoding != 0);
      e.result = pxenc::PutSequenceFrom(&e.state, &p, src);
      std::fclose(f);
    }
  }
  if (const pxenc::PredictionCounts* c = pxenc::PredictionCountsOf(&e.state)) {
    e.n16x8 = c->n16x8;
    e.nFieldInFrame = c->nFieldInFrame;
  }
  const PxEncoderState copy = e.state;
  Px_FreeEncodeParams(&e.state);
  e.state = copy;
  e.state.pCore = nullptr;
  e.state.pMotion = nullptr;
  return e;
}

bool Harness::DecodePage(const std::string& file, int nPage, Planes* pOut) {
  *pOut = Planes{};
  return MpegFilter::LoadPlanes(file.c_str(), nPage, KeepPlanes, pOut) == PXM_OK;
}

std::map<std::string, std::string> Harness::Probe(const std::string& file) {
  std::string out;
  Run("ffprobe -v error -count_frames -show_streams '" + file + "'", &out);
  std::map<std::string, std::string> m;
  size_t pos = 0;
  while (pos < out.size()) {
    const size_t e = out.find('\n', pos);
    const std::string line = out.substr(pos, e == std::string::npos ? std::string::npos : e - pos);
    const size_t eq = line.find('=');
    if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    if (e == std::string::npos) break;
    pos = e + 1;
  }
  return m;
}

double Harness::Psnr(const std::string& file, const std::string& yuv, int w, int h) {
  const std::string dec = Path("psnr_dec.yuv");
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  std::string out;
  if (Run("ffmpeg -v error -y -i '" + file + "' -vsync passthrough -f rawvideo -pix_fmt yuv420p '" + dec +
              "'",
          &out) != 0)
    return 0;
  Run("ffmpeg -s " + size + " -pix_fmt yuv420p -f rawvideo -i '" + dec + "' -s " + size +
          " -pix_fmt yuv420p -f rawvideo -i '" + yuv + "' -lavfi '[0:v][1:v]psnr' -f null -",
      &out);
  const size_t at = out.find("average:");
  return at == std::string::npos ? 0 : std::atof(out.c_str() + at + 8);
}

std::vector<double> Harness::PsnrPerPicture(const std::string& file, const std::string& yuv, int w, int h) {
  const std::string dec = Path("psnr_dec.yuv"), stats = Path("psnr_stats.log");
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  std::string out;
  std::vector<double> v;
  if (Run("ffmpeg -v error -y -i '" + file + "' -vsync passthrough -f rawvideo -pix_fmt yuv420p '" + dec +
              "'",
          &out) != 0)
    return v;
  Run("ffmpeg -s " + size + " -pix_fmt yuv420p -f rawvideo -i '" + dec + "' -s " + size +
          " -pix_fmt yuv420p -f rawvideo -i '" + yuv + "' -lavfi '[0:v][1:v]psnr=stats_file=" + stats +
          "' -f null -",
      &out);
  std::ifstream in(stats);
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find("psnr_y:");
    if (at == std::string::npos) continue;
    // "inf" for an exact picture.
    v.push_back(line.compare(at + 7, 3, "inf") == 0 ? 100.0 : std::atof(line.c_str() + at + 7));
  }
  return v;
}

}  // namespace enctest
