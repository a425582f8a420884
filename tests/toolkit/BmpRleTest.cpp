// Run-length BMP (BI_RLE8, BI_RLE4): files written by ImageMagick and hand-made streams with every
// escape code, each compared pixel by pixel with ImageMagick's own decoding; hostile streams end with a
// failure code or a clipped page (ASan watches the writes).
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "ToolkitFixture.h"
#include "pxclass/PxError.h"
#include "pxclass/PxPageAlloc.h"

namespace toolkit_test {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void Put16(Bytes& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}

// A BMP with a 40-byte info header, the given palette (RGB) and run-length data. ImageMagick reads two
// bytes past the end-of-bitmap code, so oracle files carry `tail` (an end of line that means nothing).
std::string RleBmp(int width, int height, int bpp, const Bytes& palette, Bytes data, bool tail = false) {
  if (tail) data.insert(data.end(), {0, 0});
  const uint32_t colours = uint32_t(palette.size() / 3);
  const uint32_t offset = 14 + 40 + colours * 4;
  Bytes v = {'B', 'M'};
  Put32(v, offset + uint32_t(data.size())), Put32(v, 0), Put32(v, offset);
  Put32(v, 40), Put32(v, uint32_t(width)), Put32(v, uint32_t(height));
  Put16(v, 1), Put16(v, uint16_t(bpp)), Put32(v, bpp == 8 ? 1 : 2), Put32(v, uint32_t(data.size()));
  Put32(v, 11811), Put32(v, 11811), Put32(v, colours), Put32(v, 0);
  for (uint32_t i = 0; i < colours; ++i)
    v.insert(v.end(), {palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 0});
  v.insert(v.end(), data.begin(), data.end());
  return std::string(v.begin(), v.end());
}

// Sixteen distinct colours.
Bytes Palette16() {
  Bytes p;
  for (int i = 0; i < 16; ++i)
    p.insert(p.end(), {uint8_t(i * 16), uint8_t(255 - i * 9), uint8_t(i * 40 % 256)});
  return p;
}

TEST_F(ToolkitTest, LoadsRunLengthBmpLikeImageMagick) {
  struct Case {
    const char* name;
    std::string made;  // an ImageMagick command with OUT, or the bytes of a hand-made file
    bool command;
    int bpp;
  };
  const Bytes grey4 = [] {
    Bytes p;
    for (int i = 0; i < 16; ++i) p.insert(p.end(), 3, uint8_t(i * 17));
    return p;
  }();
  const Case cases[] = {
      {"im_colour.bmp",
       "convert -size 64x48 gradient:red-blue -colors 16 -type Palette -compress RLE BMP3:OUT", true, 24},
      {"im_odd.bmp",
       "convert -size 61x47 plasma:fractal -seed 3 -colors 200 -type Palette -compress RLE BMP3:OUT", true,
       24},
      {"im_grey.bmp",
       "convert -size 33x9 gradient: -colorspace Gray -colors 7 -type Palette -compress RLE BMP3:OUT", true,
       8},
      // RLE8: a run, an odd absolute run (padded), end of line, a delta over a skipped area, end of bitmap.
      {"rle8.bmp",
       RleBmp(9, 4, 8, Palette16(), {4, 3, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0, 0, 2, 2, 1, 3, 7, 0, 0, 5, 9, 0, 1},
              true),
       false, 24},
      // RLE4: runs alternate two nibbles, an odd absolute run of nibbles (padded to a word), a delta,
      // an end of bitmap with rows left (they stay index 0).
      {"rle4.bmp",
       RleBmp(12, 5, 4, Palette16(),
              {5, 0x12, 0, 7, 0x34, 0x56, 0x78, 0x90, 0, 0, 0, 3, 0xAB, 0xC0, 0, 2, 3, 1, 4, 0xEF, 0, 1},
              true),
       false, 24},
      {"rle4grey.bmp", RleBmp(6, 2, 4, grey4, {6, 0x1F, 0, 0, 0, 6, 0x23, 0x45, 0x67, 0, 0, 1}, true), false,
       8},
  };
  for (const Case& c : cases) {
    const std::string file = Path(c.name);
    if (c.command) {
      std::string command = c.made;
      command.replace(command.find("OUT"), 3, file);
      int status = -1;
      Shell(command, &status);
      ASSERT_EQ(status, 0) << command;
      std::ifstream in(file, std::ios::binary);
      std::string head(34, '\0');
      in.read(head.data(), 34);
      ASSERT_EQ(head[30], 1) << c.name << ": ImageMagick did not write RLE8";
    } else {
      WriteBytes(file, c.made);
    }
    PxBitmapBase page;
    ASSERT_EQ(page.Load(file.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK) << c.name;
    EXPECT_EQ(page.GetBitsPerPixel(), c.bpp) << c.name;
    const Bytes theirs = MagickRgb(file);
    const Bytes ours = PageRgb(page.Page());
    ASSERT_EQ(ours.size(), theirs.size()) << c.name;
    size_t differing = 0;
    for (size_t i = 0; i < ours.size(); ++i) differing += ours[i] != theirs[i];
    EXPECT_EQ(differing, 0u) << c.name;
  }
}

// Damaged or hostile run-length data: a failure code, or a page where overlong runs are clipped.
TEST_F(ToolkitTest, RunLengthBmpSurvivesHostileData) {
  struct Case {
    const char* name;
    std::string bytes;
    int result;  // PX_OK when the page loads clipped
  };
  const Bytes pal = Palette16();
  std::string topDown = RleBmp(4, 2, 8, pal, {4, 1, 0, 1});
  topDown[22] = char(0xFE), topDown[23] = topDown[24] = topDown[25] = char(0xFF);  // height -2
  std::string wrongDepth = RleBmp(4, 2, 8, pal, {4, 1, 0, 1});
  wrongDepth[28] = 4;  // RLE8 data in a 4-bit file
  const Case cases[] = {
      {"run_past_line", RleBmp(4, 2, 8, pal, {255, 3, 0, 0, 255, 4, 0, 1}), PX_OK},
      {"absolute_past_line", RleBmp(3, 1, 8, pal, {0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 1}), PX_OK},
      {"delta_outside", RleBmp(4, 3, 4, pal, {0, 2, 200, 0, 4, 0x11, 0, 2, 0, 250, 4, 0x22, 0, 1}), PX_OK},
      {"rows_past_bottom", RleBmp(2, 2, 8, pal, {2, 1, 0, 0, 2, 2, 0, 0, 2, 3, 0, 0, 2, 4, 0, 0}), PX_OK},
      {"no_data", RleBmp(4, 2, 8, pal, {}), PX_ERR_READ},
      {"cut_in_pair", RleBmp(4, 2, 8, pal, {4}), PX_ERR_READ},
      {"cut_in_delta", RleBmp(4, 2, 8, pal, {0, 2, 1}), PX_ERR_READ},
      {"cut_in_absolute", RleBmp(8, 2, 8, pal, {0, 5, 1, 2, 3}), PX_ERR_READ},
      {"unpadded_absolute", RleBmp(8, 1, 4, pal, {0, 5, 0x12, 0x34, 0x50}), PX_ERR_READ},
      {"ends_without_code", RleBmp(4, 2, 8, pal, {4, 1, 0, 0}), PX_ERR_READ},
      {"huge_size", RleBmp(60000, 60000, 8, pal, {0, 1}), PX_ERR_TOO_LARGE},
      {"top_down", topDown, PX_ERR_CORRUPT},
      {"wrong_depth", wrongDepth, PX_ERR_CORRUPT},
  };
  for (const Case& c : cases) {
    const std::string file = Path(std::string(c.name) + ".bmp");
    WriteBytes(file, c.bytes);
    PxBitmapBase page;
    EXPECT_EQ(page.Load(file.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), c.result) << c.name;
    if (c.result == PX_OK) {
      EXPECT_GT(page.GetWidth(), 0) << c.name;
    }
  }
}

}  // namespace
}  // namespace toolkit_test
