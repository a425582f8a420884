// The LZW strip decoder and the predictor, against libtiff on files libtiff's own encoder and
// ffmpeg's (a separate LZW encoder) wrote: every strip must be taken (no quiet fallback to libtiff)
// and decode to libtiff's bytes.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "toolkit/file/TiffLzw.h"

namespace {

struct TempDir {
  std::string path;
  TempDir() {
    char pattern[] = "/tmp/tifflzw.XXXXXX";
    path = mkdtemp(pattern) ? pattern : "/tmp";
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

TEST(TiffLzw, EveryStripOfLibtiffsEncoderDecodesLikeLibtiff) {
  struct Case {
    const char* make;    // ImageMagick source, SRC as the output
    const char* tiffcp;  // null: `make` writes the LZW file itself
  };
  const Case cases[] = {
      {"convert -size 641x480 plasma:fractal -depth 8 -seed 21 SRC", "-c lzw:2 -r 100"},  // table clears
      {"convert -size 641x480 plasma:fractal -depth 8 -seed 22 SRC", "-c lzw -r 7"},
      {"convert -size 333x257 xc:gray -seed 23 +noise Gaussian -colorspace Gray -depth 8 SRC",
       "-c lzw -r 257"},
      {"convert -size 203x101 gradient:white-black -type bilevel -depth 1 SRC", "-c lzw -r 9"},
      {"convert -size 333x257 xc:gray -seed 24 +noise Gaussian -colorspace Gray -depth 8 SRC",
       "-c lzw:2 -r 20"},
      {"convert -size 64x64 xc:white -depth 8 SRC", "-c lzw -r 64"},  // one long run
      {"ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=321x207 -frames:v 1 -c:v tiff "
       "-compression_algo lzw -pix_fmt rgb24 SRC",
       nullptr},
      {"ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=321x207 -frames:v 1 -c:v tiff "
       "-compression_algo lzw -pix_fmt gray SRC",
       nullptr},
  };
  TempDir dir;
  int strips = 0;
  for (const Case& c : cases) {
    const std::string src = dir.path + "/src.tif", out = dir.path + "/lzw.tif";
    std::string make = c.make;
    make.replace(make.find("SRC"), 3, src);
    const std::string command = c.tiffcp ? make + " && tiffcp " + c.tiffcp + " " + src + " " + out
                                         : make + " && mv " + src + " " + out;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    TIFF* tif = TIFFOpen(out.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint16_t predictor = PREDICTOR_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
    uint16_t spp = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    const tmsize_t scan = TIFFScanlineSize(tif);
    uint64_t* counts = nullptr;
    ASSERT_EQ(TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts), 1);
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s, ++strips) {
      std::vector<uint8_t> raw(counts[s]), expected(size_t(TIFFStripSize(tif)));
      ASSERT_EQ(TIFFReadRawStrip(tif, s, raw.data(), tmsize_t(raw.size())), tmsize_t(raw.size()));
      const tmsize_t n = TIFFReadEncodedStrip(tif, s, expected.data(), tmsize_t(-1));
      ASSERT_GT(n, 0);
      expected.resize(size_t(n));
      std::vector<uint8_t> ours(expected.size());
      ASSERT_TRUE(pxfile::TiffLzwDecode(raw.data(), raw.size(), ours.data(), ours.size()))
          << c.make << " strip " << s << ": refused";
      if (predictor == PREDICTOR_HORIZONTAL)
        for (size_t row = 0; row < ours.size(); row += size_t(scan))
          pxfile::TiffUndoPredictor8(ours.data() + row, ours.data() + row, size_t(scan), spp);
      ASSERT_EQ(ours, expected) << c.make << " strip " << s;
      // Half of the strip's data, or one byte more asked for than it holds: refused.
      if (raw.size() > 4) {
        EXPECT_FALSE(pxfile::TiffLzwDecode(raw.data(), raw.size() / 2, ours.data(), ours.size()));
        std::vector<uint8_t> more(ours.size() + 1);
        EXPECT_FALSE(pxfile::TiffLzwDecode(raw.data(), raw.size(), more.data(), more.size()));
      }
    }
    TIFFClose(tif);
  }
  EXPECT_GT(strips, 80);
}

// Old-style (LSB-first) strips and a code past the table are left to libtiff, never guessed at.
TEST(TiffLzw, RefusesWhatItDoesNotKnow) {
  uint8_t out[16];
  const uint8_t oldStyle[] = {0x00, 0x01, 0x20, 0x40, 0x80};
  EXPECT_FALSE(pxfile::TiffLzwDecode(oldStyle, sizeof oldStyle, out, sizeof out));
  // Clear (256), then code 300 with no string before it: 9-bit codes 100000000 100101100.
  const uint8_t pastTable[] = {0x80, 0x4B, 0x00, 0x00};
  EXPECT_FALSE(pxfile::TiffLzwDecode(pastTable, sizeof pastTable, out, sizeof out));
  // Clear, 'A' (65), code 258 (= "AA", the string being defined), end: "AAA".
  const uint8_t selfReference[] = {0x80, 0x10, 0x60, 0x50, 0x10};
  uint8_t three[3];
  ASSERT_TRUE(pxfile::TiffLzwDecode(selfReference, sizeof selfReference, three, sizeof three));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(three), 3), "AAA");
}

}  // namespace
