// Test helpers: streams made by ffmpeg (lavfi sources) in a temporary folder at test time, the
// reference decode of ffmpeg as raw planes, and plane access through MpegFilter::LoadPlanes.
#pragma once

#include <string>
#include <vector>

namespace testmpeg {

// Folder for generated streams, created once per test program.
const std::string& TempDir();
// Runs a shell command; true when it exits 0.
bool Run(const std::string& cmd);
// Makes FILE in TempDir() with "ffmpeg -f lavfi -i SOURCE ARGS"; returns its path ("" on failure).
std::string MakeStream(const std::string& name, const std::string& source, const std::string& args);
// ffmpeg's decode as raw planes (pix_fmt yuv420p/yuv422p), all frames concatenated.
std::vector<unsigned char> ReferenceDecode(const std::string& file, const std::string& pixFmt);
// Frames counted by ffprobe.
int ProbeFrames(const std::string& file);

struct Planes {
  int w = 0, h = 0, cw = 0, ch = 0;
  std::vector<unsigned char> y, cb, cr;
};
// Our decode of page nPage; returns the filter's result code.
int DecodePlanes(const std::string& file, int nPage, Planes* pOut);
double Psnr(const unsigned char* a, const unsigned char* b, size_t n);
// Reads pages 1..N of file one call at a time through the kept decoder, each page twice, and
// checks every one equal, sample for sample, to a fresh decode of that page; returns N.
int ExpectKeptEqualsFresh(const std::string& file);

}  // namespace testmpeg
