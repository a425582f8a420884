// Raw CCITT fax data made by libtiff's own encoders, loaded through LoadInfoCallBack; resampling
// against known sizes and averages; trim, copy, free and pixel reads.
#include <tiffio.h>

#include <cstring>
#include <vector>

#include "ToolkitFixture.h"

namespace toolkit_test {
namespace {

// The file object as the conversion layer uses it: it describes raw data when asked.
class FaxFile : public PxFile {
 public:
  PxLoadInfo record{};
  int calls = 0;
  int LoadInfoCallBack(PxLoadInfo* info) override {
    ++calls;
    *info = record;
    return 1;
  }
};

struct Memory {
  std::vector<uint8_t> data;
  uint64_t pos = 0;
};
tmsize_t MRead(thandle_t h, void* b, tmsize_t n) {
  auto* m = static_cast<Memory*>(h);
  const uint64_t take =
      std::min<uint64_t>(uint64_t(n), m->data.size() - std::min<uint64_t>(m->pos, m->data.size()));
  std::memcpy(b, m->data.data() + m->pos, take);
  m->pos += take;
  return tmsize_t(take);
}
tmsize_t MWrite(thandle_t h, void* b, tmsize_t n) {
  auto* m = static_cast<Memory*>(h);
  if (m->pos + uint64_t(n) > m->data.size()) m->data.resize(m->pos + uint64_t(n));
  std::memcpy(m->data.data() + m->pos, b, size_t(n));
  m->pos += uint64_t(n);
  return n;
}
toff_t MSeek(thandle_t h, toff_t o, int w) {
  auto* m = static_cast<Memory*>(h);
  m->pos = (w == SEEK_SET ? 0 : w == SEEK_CUR ? m->pos : m->data.size()) + o;
  return m->pos;
}
int MClose(thandle_t) {
  return 0;
}
toff_t MSize(thandle_t h) {
  return static_cast<Memory*>(h)->data.size();
}
int MMap(thandle_t, void**, toff_t*) {
  return 0;
}
void MUnmap(thandle_t, void*, toff_t) {}

// The page coded by libtiff's fax encoder, as the bare strip (no TIFF around it).
std::vector<uint8_t> LibtiffFax(const PxPage* page, uint16_t compression, uint32_t g3options, bool lsbFirst) {
  Memory m;
  TIFF* t = TIFFClientOpen("fax", "w", &m, MRead, MWrite, MSeek, MClose, MSize, MMap, MUnmap);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(page->width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(page->height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, g3options);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(page->height));
  TIFFSetField(t, TIFFTAG_FILLORDER, lsbFirst ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB);
  std::vector<uint8_t> row(size_t(page->stride));
  for (int y = 0; y < page->height; ++y) {
    for (int i = 0; i < page->stride; ++i) row[size_t(i)] = uint8_t(~PxPageRow(page, y)[i]);
    if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0) {
      TIFFClose(t);
      return {};
    }
  }
  TIFFWriteDirectory(t);
  TIFFClose(t);
  m.pos = 0;
  t = TIFFClientOpen("fax", "r", &m, MRead, MWrite, MSeek, MClose, MSize, MMap, MUnmap);
  uint64_t* counts = nullptr;
  TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
  std::vector<uint8_t> strip(static_cast<size_t>(counts[0]));
  TIFFReadRawStrip(t, 0, strip.data(), tmsize_t(strip.size()));
  TIFFClose(t);
  return strip;
}

struct FaxCase {
  const char* name;
  uint16_t compression;
  uint32_t g3options;
  int flags;
};

class RawFax : public ToolkitTest, public ::testing::WithParamInterface<FaxCase> {};

TEST_P(RawFax, DecodesWhatLibtiffEncoded) {
  const FaxCase& c = GetParam();
  PxBitmapBase original;
  MakePage(original, 1728, 150, 1, 204, 98);
  const std::vector<uint8_t> strip =
      LibtiffFax(original.Page(), c.compression, c.g3options, (c.flags & PX_FAX_LSB_FIRST) != 0);
  ASSERT_FALSE(strip.empty());
  const std::string name = Path("fax.raw");
  WriteBytes(name, std::string(strip.begin(), strip.end()));

  PxBitmapBase bitmap;
  FaxFile file;
  file.SetBitmap(&bitmap);
  file.SetFileName(name.c_str());
  file.record = {PX_RAW_FAX, 1728, 150, 1, 204, 98, 0, c.flags};
  EXPECT_EQ(file.LoadFile(0, 4, 3), PX_ERR_FORMAT) << "callback disabled: unknown data is refused";
  file.EnableLoadInfoCallBack(1);
  ASSERT_EQ(file.LoadFile(0, 4, 3), PX_OK);
  EXPECT_EQ(file.calls, 1);
  EXPECT_EQ(bitmap.GetXResolution(), 204);
  EXPECT_EQ(bitmap.GetYResolution(), 98);
  EXPECT_EQ(MaxDifference(original, bitmap), 0);

  // Cut short with the height given: a failure, not a padded page.
  WriteBytes(name, std::string(strip.begin(), strip.begin() + long(strip.size() / 3)));
  EXPECT_LT(file.LoadFile(0, 4, 3), 0);
  // Noise: a failure or a page, never more than asked for.
  std::string noise(4000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
  WriteBytes(name, noise);
  const int result = file.LoadFile(0, 4, 3);
  if (result == PX_OK) {
    EXPECT_EQ(bitmap.GetHeight(), 150);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codings, RawFax,
    ::testing::Values(FaxCase{"G3_1D_EOL", COMPRESSION_CCITTFAX3, 0, PX_FAX_G3_1D},
                      FaxCase{"G3_1D_EOL_aligned", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, PX_FAX_G3_1D},
                      FaxCase{"G3_1D_no_EOL", COMPRESSION_CCITTRLE, 0, PX_FAX_G3_1D},
                      FaxCase{"G3_2D", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, PX_FAX_G3_2D},
                      FaxCase{"G4", COMPRESSION_CCITTFAX4, 0, PX_FAX_G4},
                      FaxCase{"G3_1D_EOL_lsb_first", COMPRESSION_CCITTFAX3, 0,
                              PX_FAX_G3_1D | PX_FAX_LSB_FIRST},
                      FaxCase{"G4_lsb_first", COMPRESSION_CCITTFAX4, 0, PX_FAX_G4 | PX_FAX_LSB_FIRST}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ToolkitTest, RawFaxRecordOutOfRangeIsRefused) {
  const std::string name = Path("fax.raw");
  WriteBytes(name, std::string(100, '\x01'));
  PxBitmapBase bitmap;
  FaxFile file;
  file.SetBitmap(&bitmap);
  file.SetFileName(name.c_str());
  file.EnableLoadInfoCallBack(1);
  const PxLoadInfo bad[] = {
      {PX_RAW_FAX, 0, 10, 1, 200, 200, 0, 1},        {PX_RAW_FAX, 1728, -1, 1, 200, 200, 0, 1},
      {PX_RAW_FAX, 1000000, 10, 1, 200, 200, 0, 1},  {PX_RAW_FAX, 1728, 10, 1, 200, 200, 500, 1},
      {PX_RAW_FAX, 1728, 60000, 1, 200, 200, 0, 1},  {67, 1728, 10, 1, 200, 200, 0, 1},
      {PX_RAW_FAX, 60000, 60000, 1, 200, 200, 0, 1},
  };
  for (const PxLoadInfo& record : bad) {
    file.record = record;
    EXPECT_LT(file.LoadFile(0, 4, 3), 0) << record.nWidth << "x" << record.nHeight;
    EXPECT_FALSE(bitmap.IsAllocated());
  }
}

TEST_F(ToolkitTest, ResizeAveragesWhenShrinkingAndInterpolatesWhenEnlarging) {
  PxPage* page = PxPageAlloc(2, 2, 8);
  PxPageRow(page, 0)[0] = 0, PxPageRow(page, 0)[1] = 100, PxPageRow(page, 1)[0] = 200,
                  PxPageRow(page, 1)[1] = 50;
  PxBitmapBase bitmap;
  bitmap.AttachPage(page);
  ASSERT_EQ(bitmap.Resize(1, 1), PX_OK);
  EXPECT_EQ(bitmap.GetPixel(0, 0), 88);  // (0 + 100 + 200 + 50) / 4 = 87.5

  PxPage* ramp = PxPageAlloc(2, 1, 8);
  PxPageRow(ramp, 0)[0] = 0, PxPageRow(ramp, 0)[1] = 200;
  bitmap.AttachPage(ramp);
  ASSERT_EQ(bitmap.Resize(4, 1), PX_OK);
  // Centres at source 0, 0.25, 0.75 and 1 (clamped at the edges).
  EXPECT_EQ(bitmap.GetPixel(0, 0), 0);
  EXPECT_EQ(bitmap.GetPixel(0, 1), 50);
  EXPECT_EQ(bitmap.GetPixel(0, 2), 150);
  EXPECT_EQ(bitmap.GetPixel(0, 3), 200);

  const struct {
    int bpp, w, h, toW, toH;
  } sizes[] = {{24, 301, 203, 150, 101},
               {24, 100, 80, 333, 77},
               {8, 2550, 3300, 850, 1100},
               {1, 1728, 1000, 1728, 2000}};
  for (const auto& s : sizes) {
    PxBitmapBase b;
    MakePage(b, s.w, s.h, s.bpp, 300, 300);
    ASSERT_EQ(b.Resize(s.toW, s.toH), PX_OK);
    EXPECT_EQ(b.GetWidth(), s.toW);
    EXPECT_EQ(b.GetHeight(), s.toH);
    EXPECT_EQ(b.GetBitsPerPixel(), s.bpp);
    EXPECT_EQ(b.GetXResolution(), (300 * s.toW + s.w / 2) / s.w);
  }
  PxBitmapBase b;
  MakePage(b, 10, 10, 8);
  EXPECT_EQ(b.Resize(0, 10), PX_ERR_PARAMETER);
  EXPECT_EQ(b.Resize(100000, 10), PX_ERR_TOO_LARGE);
  EXPECT_EQ(b.GetWidth(), 10);
}

// A one-pixel line on a bilevel page survives shrinking to half.
TEST_F(ToolkitTest, BilevelShrinkKeepsThinStrokes) {
  PxPage* page = PxPageAlloc(64, 64, 1);
  for (int y = 0; y < 64; ++y) PxPageRow(page, y)[3] &= uint8_t(~0x10);  // column 27 black
  PxBitmapBase bitmap;
  bitmap.AttachPage(page);
  ASSERT_EQ(bitmap.Resize(32, 32), PX_OK);
  for (int y = 0; y < 32; ++y) EXPECT_EQ(bitmap.GetPixel(y, 13), 0) << y;
  EXPECT_EQ(bitmap.GetPixel(5, 20), 1);
}

TEST_F(ToolkitTest, TrimCopyFreeAndPixels) {
  for (int bpp : {1, 8, 24}) {
    PxBitmapBase bitmap;
    MakePage(bitmap, 100, 80, bpp, 300, 200);
    PxBitmapBase copy;
    ASSERT_EQ(copy.Copy(bitmap), PX_OK);
    EXPECT_EQ(MaxDifference(copy, bitmap), 0);
    const int inside = bitmap.GetPixel(40, 30);
    ASSERT_EQ(bitmap.Trim(10, 20, 50, 30), PX_OK);
    EXPECT_EQ(bitmap.GetWidth(), 50);
    EXPECT_EQ(bitmap.GetHeight(), 30);
    EXPECT_EQ(bitmap.GetPixel(20, 20), inside);
    EXPECT_EQ(bitmap.GetXResolution(), 300);
    EXPECT_EQ(bitmap.GetPixel(0, 0), copy.GetPixel(20, 10));
    EXPECT_EQ(bitmap.GetPixel(30, 0), -1);
    EXPECT_EQ(bitmap.GetPixel(-1, 0), -1);
    EXPECT_EQ(bitmap.Trim(0, 0, 51, 30), PX_ERR_PARAMETER);
    EXPECT_EQ(bitmap.Trim(-1, 0, 10, 10), PX_ERR_PARAMETER);
    EXPECT_EQ(copy.GetPixel(0, 0), 0) << "frame is black";
    EXPECT_EQ(bitmap.Free(), PX_OK);
    EXPECT_FALSE(bitmap.IsAllocated());
    EXPECT_EQ(bitmap.Free(), PX_OK);
    EXPECT_EQ(bitmap.Save(Path("x.png").c_str(), PX_TYPE_PNG, 0, 6, 1, nullptr), PX_ERR_NO_BITMAP);
    EXPECT_EQ(copy.Save(Path("x.xyz").c_str(), 99, 0, 6, 1, nullptr), PX_ERR_TYPE);
  }
}

// Save with a depth converts first; 0 keeps the page's depth.
TEST_F(ToolkitTest, SaveAtAnotherDepth) {
  PxBitmapBase bitmap;
  MakePage(bitmap, 64, 48, 24);
  ASSERT_EQ(bitmap.Save(Path("g.png").c_str(), PX_TYPE_PNG, 8, 6, 1, nullptr), PX_OK);
  ASSERT_EQ(bitmap.Save(Path("b.tif").c_str(), PX_TYPE_TIFF_PACKED, 1, 6, 1, nullptr), PX_OK);
  PxBitmapBase loaded;
  ASSERT_EQ(loaded.Load(Path("g.png").c_str(), 0, 4, 1), PX_OK);
  EXPECT_EQ(loaded.GetBitsPerPixel(), 8);
  ASSERT_EQ(loaded.Load(Path("b.tif").c_str(), 0, 4, 1), PX_OK);
  EXPECT_EQ(loaded.GetBitsPerPixel(), 1);
  ASSERT_EQ(loaded.Load(Path("b.tif").c_str(), 24, 4, 1), PX_OK);
  EXPECT_EQ(loaded.GetBitsPerPixel(), 24);
  EXPECT_EQ(loaded.Load(Path("b.tif").c_str(), 0, 3, 1), PX_ERR_PARAMETER);
  EXPECT_EQ(bitmap.Save(Path("q.png").c_str(), PX_TYPE_PNG, 4, 6, 1, nullptr), PX_ERR_PARAMETER);
}

}  // namespace
}  // namespace toolkit_test
