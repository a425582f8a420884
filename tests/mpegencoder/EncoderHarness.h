// Test harness of the encoder tests: a temporary folder, ffmpeg/ffprobe run as black-box oracles,
// sources made by ffmpeg's lavfi generators, an encode of raw yuv420p through the encoder's
// interface that keeps every reconstructed frame (test seam), and our decoder's planes of a page.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mpegfilter/encoder/PxEncoderState.h"

namespace enctest {

struct Planes {
  int w = 0, h = 0, cw = 0, ch = 0;
  std::vector<uint8_t> y, cb, cr;
  bool operator==(const Planes& o) const {
    return w == o.w && h == o.h && cw == o.cw && ch == o.ch && y == o.y && cb == o.cb && cr == o.cr;
  }
};

class Harness {
 public:
  Harness();
  ~Harness();
  const std::string& Dir() const { return m_dir; }
  std::string Path(const std::string& name) const { return m_dir + "/" + name; }

  // Runs a shell command; returns its exit status, output (stdout+stderr) in *pOut.
  static int Run(const std::string& cmd, std::string* pOut);
  static bool HaveFfmpeg();
  // Raw yuv420p of a lavfi source (testsrc2, smptebars, mandelbrot ...), optionally followed by
  // more filters (",scroll=horizontal=0.1").
  std::string MakeYuv(const std::string& filter, int w, int h, int frames, const std::string& post = "");

  struct Encoded {
    int32_t result = 0;
    std::map<int, Planes> recon;  // by display index
    PxEncoderState state{};
    int64_t n16x8 = 0, nFieldInFrame = 0;  // macroblocks coded with those predictions
  };
  // Encodes raw yuv420p (w x h) through Px_EncodeSetParams/InitializeEncoder/InitBits and the
  // plane source; keeps the reconstruction of every frame.
  static Encoded EncodeYuv(const std::string& yuv, int w, int h, const PxEncodeParams& p, int32_t nFormat,
                           const std::string& out, int first = 0, int count = 0);
  // Our decoder's frame of page nPage (1-based, display order); false when it fails.
  static bool DecodePage(const std::string& file, int nPage, Planes* pOut);
  // ffprobe -show_streams (and counted frames) as key=value.
  static std::map<std::string, std::string> Probe(const std::string& file);
  // PSNR (average of Y, Cb, Cr as ffmpeg's psnr filter reports it) of ffmpeg's decode against yuv.
  double Psnr(const std::string& file, const std::string& yuv, int w, int h);
  // Luma PSNR of each picture of ffmpeg's decode against yuv, in display order.
  std::vector<double> PsnrPerPicture(const std::string& file, const std::string& yuv, int w, int h);

 private:
  std::string m_dir;
};

PxEncodeParams DefaultParams();

}  // namespace enctest
