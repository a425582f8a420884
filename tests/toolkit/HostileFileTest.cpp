// Damaged and hostile files of every format end with a failure code, quickly and without a page
// larger than the limits: truncation, huge and zero declared sizes, decompression bombs, noise.
#include <zlib.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "ToolkitFixture.h"
#include "platform/module/Module.h"

namespace toolkit_test {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Be32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (24 - 8 * i));
}
void Le32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (8 * i));
}
void Le16(std::string& s, size_t at, uint16_t v) {
  s[at] = char(v), s[at + 1] = char(v >> 8);
}

// Fixes the CRC of the PNG chunk whose type starts at `at`.
void PngCrc(std::string& s, size_t at, uint32_t length) {
  const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data() + at), length + 4));
  Be32(s, at + 4 + length, crc);
}

class Hostile : public ToolkitTest {
 protected:
  // Loads and answers the result; a success must be a page within the limits.
  int LoadResult(const std::string& bytes, const char* what) {
    const std::string name = Path("hostile.bin");
    WriteBytes(name, bytes);
    const auto start = std::chrono::steady_clock::now();
    PxFile file;
    PxFileInfo info{};
    file.SetFileName(name.c_str());
    file.GetInfo(&info, 1);
    PxBitmapBase bitmap;
    const int result = bitmap.Load(name.c_str(), 0, 4, 1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty(what, std::to_string(seconds));
    if (result == PX_OK) {
      EXPECT_LE(int64_t(bitmap.GetWidth()) * bitmap.GetHeight(), 100LL * 1000 * 1000) << what;
    } else {
      EXPECT_FALSE(bitmap.IsAllocated()) << what;
    }
    return result;
  }

  std::string Saved(int type, const char* ext, int bpp, int width = 200, int height = 150) {
    PxBitmapBase page;
    MakePage(page, width, height, bpp);
    const std::string name = Path(std::string("good.") + ext);
    EXPECT_EQ(page.Save(name.c_str(), type, 0, 100, 1, nullptr), PX_OK);
    return Bytes(name);
  }
};

TEST_F(Hostile, TruncatedFilesOfEveryFormatFail) {
  const struct {
    int type;
    const char* ext;
    int bpp;
  } formats[] = {{PX_TYPE_JPEG, "jpg", 24},        {PX_TYPE_TIFF, "tif", 8}, {PX_TYPE_TIFF_PACKED, "tif", 1},
                 {PX_TYPE_TIFF_PACKED, "tif", 24}, {PX_TYPE_PNG, "png", 24}, {PX_TYPE_GIF, "gif", 8},
                 {PX_TYPE_BMP, "bmp", 24},         {PX_TYPE_PDF, "pdf", 24}, {PX_TYPE_PDF, "pdf", 1}};
  for (const auto& f : formats) {
    const std::string good = Saved(f.type, f.ext, f.bpp);
    for (double cut : {0.02, 0.3, 0.6, 0.9}) {
      const std::string what =
          std::string(f.ext) + "_" + std::to_string(f.bpp) + "_cut" + std::to_string(int(cut * 100));
      const int result = LoadResult(good.substr(0, size_t(good.size() * cut)), what.c_str());
      // PDF readers recover what the cross-reference table no longer reaches; the rest must fail.
      if (f.type != PX_TYPE_PDF || cut < 0.9) {
        EXPECT_LT(result, 0) << what;
      }
    }
  }
}

TEST_F(Hostile, HugeAndZeroDeclaredSizesFail) {
  // PNG: IHDR says 60000 x 60000 (CRC fixed up so only the size is wrong).
  std::string png = Saved(PX_TYPE_PNG, "png", 24);
  for (uint32_t size : {60000u, 0u}) {
    std::string p = png;
    Be32(p, 16, size), Be32(p, 20, size);
    PngCrc(p, 12, 13);
    EXPECT_LT(LoadResult(p, "png_size"), 0) << size;
  }
  // BMP: width and height fields.
  std::string bmp = Saved(PX_TYPE_BMP, "bmp", 24);
  for (int32_t size : {60000, 0, -2147483647 - 1}) {
    std::string b = bmp;
    Le32(b, 18, uint32_t(size)), Le32(b, 22, uint32_t(size));
    EXPECT_LT(LoadResult(b, "bmp_size"), 0) << size;
  }
  // BMP palette count beyond the file, and a data offset past its end.
  std::string b2 = Saved(PX_TYPE_BMP, "bmp", 8);
  Le32(b2, 46, 0xFFFFFFFF);
  EXPECT_GE(LoadResult(b2, "bmp_colours"), PX_ERR_INTERNAL);
  Le32(b2, 10, 0x7FFFFFFF);
  EXPECT_LT(LoadResult(b2, "bmp_offset"), 0);
  // GIF: logical screen and image descriptor.
  std::string gif = Saved(PX_TYPE_GIF, "gif", 8);
  const size_t desc = gif.find(std::string("\x2C\0\0\0\0", 5));  // image descriptor at (0, 0)
  ASSERT_NE(desc, std::string::npos);
  for (uint16_t size : {uint16_t(65535), uint16_t(0)}) {
    std::string g = gif;
    Le16(g, 6, size), Le16(g, 8, size);
    Le16(g, desc + 5, size), Le16(g, desc + 7, size);
    EXPECT_LT(LoadResult(g, "gif_size"), 0) << size;
  }
  // JPEG: the frame header's height and width.
  std::string jpg = Saved(PX_TYPE_JPEG, "jpg", 24);
  const size_t sof = jpg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  for (uint16_t size : {uint16_t(65000), uint16_t(0)}) {
    std::string j = jpg;
    j[sof + 5] = char(size >> 8), j[sof + 6] = char(size), j[sof + 7] = char(size >> 8),
            j[sof + 8] = char(size);
    EXPECT_LT(LoadResult(j, "jpeg_size"), 0) << size;
  }
  // PDF: the image claims 60000 x 60000.
  std::string pdf = Saved(PX_TYPE_PDF, "pdf", 24);
  const size_t at = pdf.find("/Width 200/Height 150");
  ASSERT_NE(at, std::string::npos);
  pdf.replace(at, 21, "/Width 60000/Height 60000");
  EXPECT_LT(LoadResult(pdf, "pdf_size"), 0);
  // TIFF: the image width tag of an uncompressed file.
  std::string tif = Saved(PX_TYPE_TIFF, "tif", 8);
  size_t tag = tif.find(std::string("\x00\x01\x04\x00\x01\x00\x00\x00", 8));  // ImageWidth, LONG
  std::string t = tif;
  if (tag == std::string::npos) {
    tag = tif.find(std::string("\x00\x01\x03\x00\x01\x00\x00\x00", 8));  // ImageWidth, SHORT
    ASSERT_NE(tag, std::string::npos);
    t[tag + 2] = 4;  // becomes LONG
  }
  Le32(t, tag + 8, 0xFFFFFFF0u);
  EXPECT_LT(LoadResult(t, "tiff_width"), 0);
}

// Small files that would inflate to pages far beyond the pixel budget.
TEST_F(Hostile, DecompressionBombsAreRefusedBeforeDecoding) {
  auto setLimit = reinterpret_cast<void (*)(int64_t)>(
      GetProcAddress(static_cast<HMODULE>(PxBase::LibraryHandle(PxBase::PX_FIL)), "PxfSetPixelLimit"));
  ASSERT_NE(setLimit, nullptr);
  setLimit(4 * 1000 * 1000);
  for (const char* command :
       {"convert -size 3000x3000 xc:black PNG8:OUT", "convert -size 3000x3000 xc:black -compress zip OUT.tif",
        "convert -size 3000x3000 xc:black -quality 10 OUT.jpg", "convert -size 3000x3000 xc:black OUT.gif"}) {
    std::string c = command;
    const std::string out = Path("bomb");
    c.replace(c.find("OUT"), 3, out);
    int status = -1;
    Shell(c, &status);
    ASSERT_EQ(status, 0) << c;
    const std::string name = c.substr(c.rfind(' ') + 1);
    const std::string file = name.find(':') != std::string::npos ? name.substr(name.find(':') + 1) : name;
    PxBitmapBase bitmap;
    EXPECT_EQ(bitmap.Load(file.c_str(), 0, 4, 1), PX_ERR_TOO_LARGE) << c;
  }
  setLimit(0);
}

// The loader fuzz target's corpus (seeds of every format, the new ones too), each file as it is, cut
// in half and with bits flipped: every load ends with a code, and a failure hands out no page. Under
// the sanitizers this is the corpus run of CI.
TEST_F(Hostile, FuzzCorpusTruncatedAndBitFlippedFailsCleanly) {
  auto setLimit = reinterpret_cast<void (*)(int64_t)>(
      GetProcAddress(static_cast<HMODULE>(PxBase::LibraryHandle(PxBase::PX_FIL)), "PxfSetPixelLimit"));
  ASSERT_NE(setLimit, nullptr);
  setLimit(2 * 1000 * 1000);
  const fs::path corpus = fs::path(MARLIN3_SOURCE_DIR) / "fuzz" / "corpus" / "toolkit_load";
  size_t files = 0;
  uint32_t random = 29;
  const std::string file = Path("case");
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const std::string original = Bytes(entry.path().string());
    std::vector<std::string> variants = {original, original.substr(0, original.size() / 2)};
    for (int k = 0; k < 2 && !original.empty(); ++k) {
      std::string flipped = original;
      for (int n = 0; n < 4; ++n) {
        random = random * 1103515245u + 12345u;
        flipped[(random >> 8) % flipped.size()] ^= char(1 << (random % 8));
      }
      variants.push_back(flipped);
    }
    for (const std::string& bytes : variants) {
      WriteBytes(file, bytes);
      PxFile info;
      PxFileInfo record{};
      info.SetFileName(file.c_str());
      info.GetInfo(&record, 1);
      for (int page = 1; page <= 2; ++page) {
        PxBitmapBase bitmap;
        const int result = bitmap.Load(file.c_str(), 0, 4, page);
        if (result >= 1)
          EXPECT_TRUE(bitmap.IsAllocated() && bitmap.GetWidth() > 0 && bitmap.GetHeight() > 0)
              << entry.path();
        else
          EXPECT_FALSE(bitmap.IsAllocated()) << entry.path();
      }
    }
    ++files;
  }
  EXPECT_GT(files, 300u);
  setLimit(0);
}

TEST_F(Hostile, EmptyMissingAndUnknownFiles) {
  PxBitmapBase bitmap;
  EXPECT_EQ(bitmap.Load(Path("missing.png").c_str(), 0, 4, 1), PX_ERR_OPEN);
  EXPECT_EQ(LoadResult("", "empty"), PX_ERR_READ);
  EXPECT_EQ(LoadResult("hello, this is no image at all", "text"), PX_ERR_FORMAT);
  EXPECT_LT(LoadResult("%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF", "pdf_no_pages"), 0);
  EXPECT_LT(LoadResult(std::string("II*\0\x08\0\0\0\xFF\xFF", 10), "tiff_bad_ifd"), 0);
  EXPECT_LT(LoadResult("GIF89a", "gif_header_only"), 0);
  EXPECT_LT(LoadResult("BM", "bmp_header_only"), 0);
}

}  // namespace
}  // namespace toolkit_test
