// The fast paths of TIFF reading and JPEG writing. TIFF pages are read strip by strip (whole strips,
// so Deflate goes through libdeflate; LZW through the toolkit's own decoder, the predictor undone as
// rows are stored), row by row when a strip is too large, and JPEG-compressed YCbCr pages are decoded
// to RGB by libjpeg: each compared pixel by pixel with ImageMagick's decoding. Damaged LZW strips load
// or fail exactly as libtiff's own decoder has them. Large JPEG pages, written in bands, decode like a
// single pass, and so do JPEG files written while their rows arrive.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ToolkitFixture.h"
#include "platform/module/Module.h"
#include "pxclass/PxBase.h"
#include "pxclass/PxError.h"
#include "pxclass/PxPageAlloc.h"
#include "pxfile/PxFileApi.h"

namespace toolkit_test {
namespace {

TEST_F(ToolkitTest, ReadsTiffStripsLikeImageMagick) {
  struct Case {
    const char* name;
    const char* command;  // ImageMagick or libtiff's tools, with OUT as the output
    int bpp;
    int tolerance;  // largest difference per channel
  };
  const Case cases[] = {
      {"zip_odd_strips.tif",
       "convert -size 97x61 plasma:fractal -depth 8 -seed 5 -compress Zip -define tiff:rows-per-strip=7 OUT",
       24, 0},
      {"lzw_predictor.tif",
       "convert -size 97x61 plasma:fractal -depth 8 -seed 6 -compress LZW -define tiff:predictor=2 "
       "-define tiff:rows-per-strip=16 OUT",
       24, 0},
      // libtiff's encoder: long strips that fill the code table and clear it, predictor on RGB.
      {"lzw_tiffcp.tif",
       "convert -size 641x480 plasma:fractal -depth 8 -seed 11 OUT.src.tif && tiffcp -c lzw:2 -r 100 "
       "OUT.src.tif OUT",
       24, 0},
      // Noise without predictor (short strings, many clears); bilevel; odd grey strips.
      {"lzw_grey_noise.tif",
       "convert -size 333x257 xc:gray -seed 12 +noise Gaussian -colorspace Gray -depth 8 OUT.src.tif && "
       "tiffcp -c lzw -r 31 OUT.src.tif OUT",
       8, 0},
      {"lzw_bilevel.tif",
       "convert -size 203x101 gradient:white-black -monochrome -type bilevel -depth 1 OUT.src.tif && tiffcp "
       "-c lzw -r 9 OUT.src.tif "
       "OUT",
       1, 0},
      // ImageMagick writes grey as min-is-black whatever it is asked; tiffset turns the tag over.
      {"grey_min_is_white.tif",
       "convert -size 97x61 plasma:fractal -depth 8 -seed 7 -colorspace Gray -compress Zip "
       "-define tiff:rows-per-strip=5 OUT && tiffset -s 262 0 OUT",
       8, 0},
      // The predictor undone by the toolkit on grey samples, then min-is-white inverted.
      {"zip_grey_predictor.tif",
       "convert -size 97x61 plasma:fractal -depth 8 -seed 14 -colorspace Gray -compress Zip "
       "-define tiff:predictor=2 -define tiff:rows-per-strip=9 OUT && tiffset -s 262 0 OUT",
       8, 0},
      {"one_strip.tif",
       "convert -size 97x61 gradient:red-blue -depth 8 -compress None -define tiff:rows-per-strip=61 OUT", 24,
       0},
      // 17 MB in one strip: read row by row.
      {"huge_strip.tif",
       "convert -size 2400x2400 gradient:red-blue -depth 8 -compress Zip -define tiff:rows-per-strip=2400 "
       "OUT",
       24, 0},
      // YCbCr 4:2:0: libjpeg's upsampling, where ImageMagick may use its own.
      {"jpeg_ycbcr.tif",
       "convert -size 97x61 plasma:fractal -depth 8 -seed 8 -compress JPEG -quality 90 -define "
       "tiff:rows-per-strip=16 "
       "OUT",
       24, 3},
  };
  for (const Case& c : cases) {
    const std::string file = Path(c.name);
    std::string command = c.command;
    for (size_t at; (at = command.find("OUT")) != std::string::npos;) command.replace(at, 3, file);
    int status = -1;
    Shell(command, &status);
    ASSERT_EQ(status, 0) << command;
    PxBitmapBase page;
    ASSERT_EQ(page.Load(file.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK) << c.name;
    EXPECT_EQ(page.GetBitsPerPixel(), c.bpp) << c.name;
    const std::vector<uint8_t> ours = PageRgb(page.Page());
    const std::vector<uint8_t> theirs = MagickRgb(file);
    ASSERT_EQ(ours.size(), theirs.size()) << c.name;
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
    EXPECT_LE(worst, c.tolerance) << c.name;
  }
}

// A strip whose compressed data is damaged fails the page instead of leaving part of it blank.
TEST_F(ToolkitTest, DamagedTiffStripFailsThePage) {
  const std::string file = Path("damaged.tif");
  int status = -1;
  Shell("convert -size 97x61 plasma:fractal -depth 8 -seed 9 -compress Zip -define tiff:rows-per-strip=20 '" +
            file + "'",
        &status);
  ASSERT_EQ(status, 0);
  // The strips follow the 8-byte header; overwrite a stretch inside the first one.
  FILE* f = std::fopen(file.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 40, SEEK_SET);
  for (int i = 0; i < 200; ++i) std::fputc(0xA5 ^ i, f);
  std::fclose(f);
  PxBitmapBase page;
  EXPECT_LT(page.Load(file.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), 0);
  EXPECT_FALSE(page.IsAllocated());
}

// Damaged LZW data, byte runs flipped across the strips: where libtiff's own decoder (tiffcp to an
// uncompressed copy) fails, the page fails; where it decodes the damage to other pixels, the page has
// exactly those pixels.
TEST_F(ToolkitTest, DamagedLzwLoadsLikeLibtiff) {
  const std::string source = Path("lzw_source.tif"), clean = Path("lzw_clean.tif");
  int status = -1;
  Shell("convert -size 211x90 plasma:fractal -depth 8 -seed 13 '" + source + "' && tiffcp -c lzw:2 -r 10 '" +
            source + "' '" + clean + "'",
        &status);
  ASSERT_EQ(status, 0);
  std::ifstream in(clean, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 4000u);
  int failed = 0, loaded = 0;
  // The strips lie between the 8-byte header and the directory at the end.
  for (size_t at = 16; at + 64 < bytes.size() - 400; at += (bytes.size() - 480) / 23) {
    for (int run : {1, 9}) {
      std::string damaged = bytes;
      for (int i = 0; i < run; ++i)
        damaged[at + size_t(i) * 3] = char(damaged[at + size_t(i) * 3] ^ (0x21 << (i % 3)));
      const std::string file = Path("lzw_damaged.tif"), oracle = Path("lzw_oracle.tif");
      std::ofstream(file, std::ios::binary | std::ios::trunc) << damaged;
      std::remove(oracle.c_str());
      Shell("tiffcp -c none '" + file + "' '" + oracle + "' 2>/dev/null", &status);
      PxBitmapBase ours;
      const int result = ours.Load(file.c_str(), 0, PX_COLOUR_ORDER_RGB, 1);
      if (status != 0) {
        EXPECT_LT(result, 0) << "damage at " << at << ", run " << run << ": libtiff fails, the page must too";
        ++failed;
        continue;
      }
      PxBitmapBase expected;
      ASSERT_EQ(expected.Load(oracle.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK);
      ASSERT_EQ(result, PX_OK) << "damage at " << at << ", run " << run;
      EXPECT_EQ(MaxDifference(ours, expected), 0) << "damage at " << at << ", run " << run;
      ++loaded;
    }
  }
  EXPECT_GT(failed, 0) << "no damage made libtiff fail: the test would not see a refusal";
  EXPECT_GT(loaded, 0) << "every damage failed: the test would not compare pixels";
}

// Large pages are compressed in bands on two threads joined by restart markers: the file must decode
// to exactly the pixels of libjpeg's own single pass (cjpeg, same quality and defaults), colour and grey,
// including a last band shorter than the others, a width that is not a multiple of the MCU and a page
// wide enough for more than two bands.
// A JPEG of ours against a single pass of the same page: same size and depth, the same pixels, and
// ImageMagick reads ours the same as the toolkit does.
void ExpectDecodesAlike(const std::string& ours, const std::string& single, int width, int height, int bpp,
                        const std::string& tag) {
  PxBitmapBase a, b;
  ASSERT_EQ(a.Load(ours.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK) << tag;
  ASSERT_EQ(b.Load(single.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK) << tag;
  EXPECT_EQ(a.GetWidth(), width) << tag;
  EXPECT_EQ(a.GetHeight(), height) << tag;
  EXPECT_EQ(a.GetBitsPerPixel(), bpp) << tag;
  EXPECT_EQ(MaxDifference(a, b), 0) << tag;
  EXPECT_EQ(PageRgb(a.Page()), MagickRgb(ours)) << tag << ": ImageMagick reads it the same";
}

TEST_F(ToolkitTest, BandedJpegDecodesLikeASinglePass) {
  struct Case {
    int width, height, bpp;
  };
  // 9000 wide: a band may hold at most 65535 MCUs, so three bands and two restart markers.
  const Case cases[] = {{2001, 1203, 24}, {1733, 1401, 8}, {9000, 1200, 8}};
  for (const Case& c : cases) {
    const std::string tag = std::to_string(c.width) + "x" + std::to_string(c.bpp);
    PxBitmapBase page;
    MakePage(page, c.width, c.height, c.bpp, 300, 300);
    const std::string ours = Path(tag + ".jpg"), plain = Path(tag + ".bmp"), single = Path(tag + "-1.jpg");
    ASSERT_EQ(page.Save(ours.c_str(), PX_TYPE_JPEG, 0, 100, 1, nullptr), PX_OK);  // factor 100: quality 75
    ASSERT_EQ(page.Save(plain.c_str(), PX_TYPE_BMP, 0, 100, 1, nullptr), PX_OK);
    int status = -1;
    Shell("convert '" + plain + "' " + (c.bpp == 8 ? "pgm" : "ppm") + ":- | cjpeg -quality 75 -outfile '" +
              single + "'",
          &status);
    ASSERT_EQ(status, 0) << tag;
    std::ifstream in(ours, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Sanitizer builds compress in one pass (see JpegCodec.cpp), so only the pixels are compared there.
#if !defined(__SANITIZE_ADDRESS__)
    if (std::thread::hardware_concurrency() > 1) {
      EXPECT_NE(bytes.find("\xFF\xDD"), std::string::npos) << tag << ": no restart interval, so no bands";
      EXPECT_NE(bytes.find("\xFF\xD0"), std::string::npos) << tag;
    }
#endif
    ExpectDecodesAlike(ours, single, c.width, c.height, c.bpp, tag);
    // A PDF page is joined in memory instead of in the file: the same stream either way.
    const std::string pdf = Path(tag + ".pdf"), extracted = Path(tag + "-pdf");
    ASSERT_EQ(page.Save(pdf.c_str(), PX_TYPE_PDF, 0, 100, 1, nullptr), PX_OK);
    Shell("pdfimages -j '" + pdf + "' '" + extracted + "'", &status);
    ASSERT_EQ(status, 0) << tag;
    std::ifstream inPdf(extracted + "-000.jpg", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(inPdf)), std::istreambuf_iterator<char>()), bytes)
        << tag;
  }
}

struct JpegStreamApi {
  PxfJpegStreamOpenFn open = nullptr;
  PxfJpegStreamWriteFn write = nullptr;
  PxfJpegStreamCloseFn close = nullptr;
  JpegStreamApi() {
    auto* module = static_cast<HMODULE>(PxBase::LibraryHandle(PxBase::PX_FIL));
    open = reinterpret_cast<PxfJpegStreamOpenFn>(GetProcAddress(module, "PxfJpegStreamOpen"));
    write = reinterpret_cast<PxfJpegStreamWriteFn>(GetProcAddress(module, "PxfJpegStreamWrite"));
    close = reinterpret_cast<PxfJpegStreamCloseFn>(GetProcAddress(module, "PxfJpegStreamClose"));
  }
  // Streams the page's first `rows` rows in uneven runs, announcing `announced` rows.
  int Stream(const PxPage* page, const std::string& name, int announced, int rows) const {
    PxfJpegStream* stream = nullptr;
    int rc =
        open(name.c_str(), page->width, announced, page->bitsPerPixel, page->xDpi, page->yDpi, 100, &stream);
    if (rc != PX_OK) return rc;
    const int runs[] = {1, 7, 33, 16, 5, 64};
    for (int y = 0, i = 0; y < rows && rc == PX_OK; ++i) {
      const int n = std::min(runs[i % 6], rows - y);
      rc = write(stream, PxPageRow(page, y), n, page->stride);
      y += n;
    }
    const int closed = close(stream, 1);
    return rc != PX_OK ? rc : closed;
  }
};

// Large pages go in columns of whole restart intervals on two threads (two halves, or the fewest
// equal columns an odd MCU count divides into); a prime count, small pages and sanitizer builds in
// one part. Either way the file decodes to the pixels of a single pass, and a page
// that ends early is a shorter image of exactly the rows that came.
TEST_F(ToolkitTest, StreamedJpegDecodesLikeASinglePass) {
  const JpegStreamApi api;
  ASSERT_NE(api.open, nullptr);
  struct Case {
    int width, height, bpp, received;
    int interval;  // MCUs per restart interval when split (0: not split)
  };
  // MCUs per row: 160 (two halves), 125 (five columns of 25, two on the left), 218, 217 (seven of 31),
  // 127 (a prime: one part).
  const Case cases[] = {{2550, 1203, 24, 1203, 80}, {1985, 1207, 24, 1207, 25}, {1744, 1401, 8, 1401, 109},
                        {1733, 1401, 8, 1401, 31},  {2032, 1100, 24, 1100, 0},  {2550, 1300, 24, 777, 80},
                        {2550, 1300, 24, 1290, 80}, {1985, 1207, 24, 1000, 25}, {1744, 1401, 8, 9, 109},
                        {5, 3, 24, 3, 0},           {17, 40, 8, 1, 0}};
  for (const Case& c : cases) {
    const std::string tag =
        std::to_string(c.width) + "x" + std::to_string(c.bpp) + "-" + std::to_string(c.received);
    PxBitmapBase page;
    MakePage(page, c.width, c.height, c.bpp, 300, 300);
    const std::string streamed = Path(tag + ".jpg"), single = Path(tag + "-1.jpg");
    ASSERT_EQ(api.Stream(page.Page(), streamed, c.height, c.received), PX_OK) << tag;
    ASSERT_EQ(page.Trim(0, 0, c.width, c.received), PX_OK) << tag;
    ASSERT_EQ(page.Save(single.c_str(), PX_TYPE_JPEG, 0, 100, 1, nullptr), PX_OK);
    ExpectDecodesAlike(streamed, single, c.width, c.received, c.bpp, tag);
    // The restart interval shows how the page was cut (sanitizer builds use no threads: one part).
    std::ifstream in(streamed, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t dri = bytes.find("\xFF\xDD\x00\x04");
    ASSERT_NE(dri, std::string::npos) << tag;
    const int interval = uint8_t(bytes[dri + 4]) << 8 | uint8_t(bytes[dri + 5]);
    const int mcu = c.bpp == 24 ? 16 : 8, perRow = (c.width + mcu - 1) / mcu;
#if defined(__SANITIZE_ADDRESS__)
    const bool threads = false;
#else
    const bool threads = std::thread::hardware_concurrency() > 1;
#endif
    EXPECT_EQ(interval, threads && c.interval > 0 ? c.interval : perRow) << tag;
    PxFile file;
    PxFileInfo info{};
    file.SetFileName(streamed.c_str());
    ASSERT_GE(file.GetInfo(&info, 1), 1) << tag;
    EXPECT_EQ(info.nXDpi, 300) << tag;
  }
}

// The helper thread runs at a lower priority; when it cannot keep up (here two busy threads take the
// machine's cores), the writer compresses rows of its column itself. The file is the same either way.
// A file of the name is written over and cut to the new length.
TEST_F(ToolkitTest, StreamedJpegIsTheSameWhenTheHelperFallsBehind) {
  const JpegStreamApi api;
  ASSERT_NE(api.open, nullptr);
  PxBitmapBase page;
  MakePage(page, 2550, 1300, 24, 300, 300);
  const std::string calm = Path("calm.jpg"), busy = Path("busy.jpg"), cut = Path("cut.jpg");
  ASSERT_EQ(api.Stream(page.Page(), calm, 1300, 1300), PX_OK);
  WriteBytes(busy, std::string(size_t(8) << 20, 'x'));  // longer than the image
  std::atomic<bool> done{false};
  std::vector<std::thread> hogs;
  for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
    hogs.emplace_back([&] {
      for (volatile unsigned n = 0; !done.load(std::memory_order_relaxed);) n = n + 1;
    });
  const int full = api.Stream(page.Page(), busy, 1300, 1300);
  const int early = api.Stream(page.Page(), cut, 1300, 1011);
  done = true;
  for (std::thread& t : hogs) t.join();
  ASSERT_EQ(full, PX_OK);
  ASSERT_EQ(early, PX_OK);
  auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  EXPECT_TRUE(bytes(busy) == bytes(calm)) << fs::file_size(busy) << " bytes against " << fs::file_size(calm);
  const std::string single = Path("cut-1.jpg");
  ASSERT_EQ(page.Trim(0, 0, 2550, 1011), PX_OK);
  ASSERT_EQ(page.Save(single.c_str(), PX_TYPE_JPEG, 0, 100, 1, nullptr), PX_OK);
  ExpectDecodesAlike(cut, single, 2550, 1011, 24, "cut");
}

TEST_F(ToolkitTest, StreamedJpegLeavesNoFileWhenItFails) {
  const JpegStreamApi api;
  ASSERT_NE(api.open, nullptr);
  PxBitmapBase page;
  MakePage(page, 2550, 200, 24);
  const std::string name = Path("dropped.jpg");
  // Discarded half-way, or closed without a row: no file.
  PxfJpegStream* stream = nullptr;
  ASSERT_EQ(api.open(name.c_str(), 2550, 3300, 24, 300, 300, 100, &stream), PX_OK);
  ASSERT_EQ(api.write(stream, page.Page()->pixels, 200, page.Page()->stride), PX_OK);
  EXPECT_EQ(api.close(stream, 0), PX_OK);
  EXPECT_FALSE(fs::exists(name));
  ASSERT_EQ(api.open(name.c_str(), 2550, 3300, 24, 300, 300, 100, &stream), PX_OK);
  EXPECT_LT(api.close(stream, 1), 0);
  EXPECT_FALSE(fs::exists(name));
  // What a stream cannot take is refused before any file is made, so the caller saves the whole page.
  EXPECT_EQ(api.open(name.c_str(), 2550, 3300, 1, 300, 300, 100, &stream), PX_ERR_PARAMETER);
  EXPECT_EQ(api.open(name.c_str(), 70000, 10, 24, 300, 300, 100, &stream), PX_ERR_PARAMETER);
  EXPECT_EQ(api.open(name.c_str(), 0, 10, 8, 300, 300, 100, &stream), PX_ERR_PARAMETER);
  EXPECT_FALSE(fs::exists(name));
  // A refused stream leaves a file it never made alone.
  WriteBytes(name, "kept");
  EXPECT_EQ(api.open(name.c_str(), 2550, 3300, 1, 300, 300, 100, &stream), PX_ERR_PARAMETER);
  EXPECT_TRUE(fs::exists(name));
  fs::remove(name);
  EXPECT_LT(api.open(Path("no/such/folder/x.jpg").c_str(), 100, 100, 8, 0, 0, 100, &stream), 0);
}

}  // namespace
}  // namespace toolkit_test
