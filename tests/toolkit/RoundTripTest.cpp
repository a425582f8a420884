// Every file type saved and loaded back at 1, 8 and 24 bits, checked against the page itself and by
// independent readers; multi-page appends checked after every page.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ToolkitFixture.h"
#include "platform/module/Module.h"
#include "pxfile/PxFileApi.h"

namespace toolkit_test {
namespace {

// The page converted to a depth through the file library, to compare with what a type stores.
void Converted(const PxBitmapBase& source, int bpp, PxBitmapBase& out) {
  auto convert = reinterpret_cast<PxfConvertDepthFn>(
      GetProcAddress(static_cast<HMODULE>(PxBase::LibraryHandle(PxBase::PX_FIL)), "PxfConvertDepth"));
  ASSERT_NE(convert, nullptr);
  PxPage* page = nullptr;
  ASSERT_EQ(convert(source.Page(), bpp, &page), PX_OK);
  out.AttachPage(page);
}

struct Case {
  int type;
  const char* ext;
  int bpp;        // depth saved
  int loadedBpp;  // depth the file loads at
  int tolerance;  // mean channel difference allowed (0: lossless, exact)
  bool keepsDpi;
};

const Case kCases[] = {
    {PX_TYPE_GIF, "gif", 1, 1, 0, true},           {PX_TYPE_GIF, "gif", 8, 8, 0, true},
    {PX_TYPE_GIF, "gif", 24, 24, 8, true},         {PX_TYPE_TIFF, "tif", 1, 1, 0, true},
    {PX_TYPE_TIFF, "tif", 8, 8, 0, true},          {PX_TYPE_TIFF, "tif", 24, 24, 0, true},
    {PX_TYPE_TIFF_PACKED, "tif", 1, 1, 0, true},   {PX_TYPE_TIFF_PACKED, "tif", 8, 8, 0, true},
    {PX_TYPE_TIFF_PACKED, "tif", 24, 24, 0, true}, {PX_TYPE_BMP, "bmp", 1, 1, 0, true},
    {PX_TYPE_BMP, "bmp", 8, 8, 0, true},           {PX_TYPE_BMP, "bmp", 24, 24, 0, true},
    {PX_TYPE_JPEG, "jpg", 1, 8, 4, true},          {PX_TYPE_JPEG, "jpg", 8, 8, 2, true},
    {PX_TYPE_JPEG, "jpg", 24, 24, 3, true},        {PX_TYPE_PNG, "png", 1, 1, 0, true},
    {PX_TYPE_PNG, "png", 8, 8, 0, true},           {PX_TYPE_PNG, "png", 24, 24, 0, true},
    {PX_TYPE_PDF, "pdf", 1, 1, 0, true},           {PX_TYPE_PDF, "pdf", 8, 8, 2, true},
    {PX_TYPE_PDF, "pdf", 24, 24, 3, true},         {PX_TYPE_PDF_BILEVEL, "pdf", 8, 1, 0, true},
    {PX_TYPE_PDF_BILEVEL, "pdf", 24, 1, 0, true},  {PX_TYPE_PDF_GREY, "pdf", 24, 8, 2, true},
    {PX_TYPE_PDF_GREY, "pdf", 1, 8, 4, true},      {PX_TYPE_PDF_LOSSLESS, "pdf", 1, 1, 0, true},
    {PX_TYPE_PDF_LOSSLESS, "pdf", 8, 8, 0, true},  {PX_TYPE_PDF_LOSSLESS, "pdf", 24, 24, 0, true},
    {PX_TYPE_PDF_COLOUR, "pdf", 1, 1, 0, true},    {PX_TYPE_PDF_COLOUR, "pdf", 24, 24, 3, true},
};

class RoundTrip : public ToolkitTest, public ::testing::WithParamInterface<Case> {};

TEST_P(RoundTrip, SavesLoadsAndReadsBackElsewhere) {
  const Case& c = GetParam();
  PxBitmapBase page;
  MakePage(page, 301, 203, c.bpp, 300, 150);
  const std::string name = Path("page." + std::string(c.ext));
  ASSERT_EQ(page.Save(name.c_str(), c.type, 0, 2, 1, nullptr), PX_OK);

  PxFile file;
  PxFileInfo info{};
  file.SetFileName(name.c_str());
  ASSERT_GE(file.GetInfo(&info, 1), 1);
  EXPECT_EQ(info.nBitsPerPixel, c.loadedBpp);
  EXPECT_EQ(info.nPages, 1);
  EXPECT_EQ(info.nWidth, 301);
  EXPECT_EQ(info.nHeight, 203);

  PxBitmapBase loaded;
  ASSERT_EQ(loaded.Load(name.c_str(), 0, PX_COLOUR_ORDER_RGB, 1, &info), PX_OK);
  EXPECT_EQ(loaded.GetBitsPerPixel(), c.loadedBpp);
  if (c.keepsDpi) {
    EXPECT_EQ(loaded.GetXResolution(), 300);
    EXPECT_EQ(loaded.GetYResolution(), 150);
  }
  PxBitmapBase expected;
  Converted(page, c.loadedBpp, expected);
  // Lossless types must match exactly; lossy ones on average (JPEG's chroma subsampling and GIF's
  // dithering move single pixels at sharp colour edges a long way).
  const double difference = MeanDifference(expected, loaded);
  EXPECT_GE(difference, 0);
  if (c.tolerance == 0)
    EXPECT_EQ(MaxDifference(expected, loaded), 0);
  else
    EXPECT_LE(difference, c.tolerance);

  // Independent readers.
  if (PxIsPdfType(c.type)) {
    int status = -1;
    Shell("qpdf --check '" + name + "'", &status);
    EXPECT_EQ(status, 0);
    std::istringstream list(Shell("pdfimages -list '" + name + "' | tail -n +3"));
    std::string pageNo, num, kind;
    int width = 0, height = 0, xPpi = 0, yPpi = 0;
    std::string colour, comp, bpc, enc, interp, object, id;
    list >> pageNo >> num >> kind >> width >> height >> colour >> comp >> bpc >> enc >> interp >> object >>
        id >> xPpi >> yPpi;
    EXPECT_EQ(width, 301);
    EXPECT_EQ(height, 203);
    EXPECT_EQ(xPpi, 300);
    EXPECT_EQ(yPpi, 150);
  } else {
    const std::string size = Shell("identify -format '%w %h\\n' '" + name + "' | head -1");
    EXPECT_EQ(size, "301 203\n");
    if (c.type != PX_TYPE_GIF) {
      const std::string dpi = Shell(
          "identify -units PixelsPerInch -format '%[fx:round(resolution.x)] %[fx:round(resolution.y)]\\n' '" +
          name + "' | head -1");
      EXPECT_EQ(dpi, "300 150\n") << c.ext;
    }
  }
  if (c.type == PX_TYPE_TIFF_PACKED) {
    const std::string tiff = Shell("tiffinfo '" + name + "'");
    EXPECT_NE(tiff.find(c.bpp == 1 ? "CCITT Group 4" : "Deflate"), std::string::npos) << tiff;
  }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, RoundTrip, ::testing::ValuesIn(kCases), [](const auto& info) {
  return std::to_string(info.param.type) + "_" + std::to_string(info.param.bpp) + "bit";
});

class MultiPage : public ToolkitTest, public ::testing::WithParamInterface<int> {};

// Pages of mixed depth appended one by one; the file is whole after every page.
TEST_P(MultiPage, AppendsAndStaysValidAfterEveryPage) {
  const int type = GetParam();
  const std::string name = Path(PxIsPdfType(type) ? "doc.pdf" : "doc.tif");
  const int depths[] = {1, 8, 24};
  for (int i = 0; i < 3; ++i) {
    PxBitmapBase page;
    MakePage(page, 120 + i * 10, 90, depths[i]);
    const PxSaveOptions options = PxSaveOptions::ForPage(i + 1);
    ASSERT_EQ(page.Save(name.c_str(), type, 0, 2, 1, &options), PX_OK);
    int status = -1;
    if (PxIsPdfType(type)) {
      Shell("qpdf --check '" + name + "'", &status);
      EXPECT_EQ(status, 0) << "after page " << i + 1;
      const std::string pdfinfo = Shell("pdfinfo '" + name + "'");
      const size_t pages = pdfinfo.find("Pages:");
      ASSERT_NE(pages, std::string::npos);
      EXPECT_EQ(std::stoi(pdfinfo.substr(pages + 6)), i + 1);
    } else {
      const std::string frames = Shell("identify -format '%w\\n' '" + name + "' | wc -l");
      EXPECT_EQ(std::stoi(frames), i + 1);
    }
  }
  PxFile file;
  PxFileInfo info{};
  file.SetFileName(name.c_str());
  ASSERT_GE(file.GetInfo(&info, 1), 1);
  EXPECT_EQ(info.nPages, 3);
  for (int i = 0; i < 3; ++i) {
    PxBitmapBase loaded;
    ASSERT_EQ(loaded.Load(name.c_str(), 0, PX_COLOUR_ORDER_RGB, i + 1), PX_OK);
    EXPECT_EQ(loaded.GetWidth(), 120 + i * 10);
    EXPECT_EQ(loaded.GetBitsPerPixel(), depths[i]);
  }
  PxBitmapBase beyond;
  EXPECT_EQ(beyond.Load(name.c_str(), 0, PX_COLOUR_ORDER_RGB, 4), PX_ERR_PAGE);
  // Page 1 again starts the file afresh.
  PxBitmapBase page;
  MakePage(page, 50, 40, 8);
  const PxSaveOptions first = PxSaveOptions::ForPage(1);
  ASSERT_EQ(page.Save(name.c_str(), type, 0, 2, 1, &first), PX_OK);
  ASSERT_GE(file.GetInfo(&info, 1), 1);
  EXPECT_EQ(info.nPages, 1);
}

INSTANTIATE_TEST_SUITE_P(Types, MultiPage,
                         ::testing::Values(PX_TYPE_TIFF, PX_TYPE_TIFF_PACKED, PX_TYPE_PDF,
                                           PX_TYPE_PDF_LOSSLESS));

// A PDF cut off while a page was being appended still opens with the pages before it.
TEST_F(ToolkitTest, PdfCutOffDuringAppendKeepsEarlierPages) {
  const std::string name = Path("cut.pdf");
  for (int i = 1; i <= 2; ++i) {
    PxBitmapBase page;
    MakePage(page, 200, 100, 24);
    const PxSaveOptions options = PxSaveOptions::ForPage(i);
    ASSERT_EQ(page.Save(name.c_str(), PX_TYPE_PDF, 0, 2, 1, &options), PX_OK);
  }
  const auto before = fs::file_size(name);
  PxBitmapBase page;
  MakePage(page, 200, 100, 24);
  const PxSaveOptions third = PxSaveOptions::ForPage(3);
  ASSERT_EQ(page.Save(name.c_str(), PX_TYPE_PDF, 0, 2, 1, &third), PX_OK);
  fs::resize_file(name, before + (fs::file_size(name) - before) / 2);
  PxFile file;
  PxFileInfo info{};
  file.SetFileName(name.c_str());
  ASSERT_GE(file.GetInfo(&info, 1), 1);
  EXPECT_EQ(info.nPages, 2);
  PxBitmapBase loaded;
  EXPECT_EQ(loaded.Load(name.c_str(), 0, PX_COLOUR_ORDER_RGB, 2), PX_OK);
  // It cannot take another page: appending refuses rather than building on a damaged file.
  const PxSaveOptions fourth = PxSaveOptions::ForPage(4);
  EXPECT_EQ(page.Save(name.c_str(), PX_TYPE_PDF, 0, 2, 1, &fourth), PX_ERR_APPEND);
}

// A TIFF page that does not fit on the disk leaves the file byte for byte as it was, wherever the
// write stopped (the file size limit stands in for a full disk), and the next page appends again.
TEST_F(ToolkitTest, TiffAppendCutShortLeavesTheFileAsItWas) {
  for (const int type : {PX_TYPE_TIFF, PX_TYPE_TIFF_PACKED}) {
    SCOPED_TRACE(type);
    const std::string name = Path("cut" + std::to_string(type) + ".tif");
    const std::string trial = name + ".trial";
    PxBitmapBase page;
    MakePage(page, 300, 200, 24);
    for (int i = 1; i <= 2; ++i) {
      const PxSaveOptions options = PxSaveOptions::ForPage(i);
      ASSERT_EQ(page.Save(name.c_str(), type, 0, 2, 1, &options), PX_OK);
    }
    auto bytes = [](const std::string& file) {
      std::ifstream in(file, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytes(name);
    const PxSaveOptions third = PxSaveOptions::ForPage(3);
    fs::copy_file(name, trial);
    ASSERT_EQ(page.Save(trial.c_str(), type, 0, 2, 1, &third), PX_OK);
    const auto whole = fs::file_size(trial);
    for (int eighth = 0; eighth < 8; ++eighth) {
      const auto limit = before.size() + (whole - before.size()) * eighth / 8 + (eighth == 7 ? 7 : 1);
      SCOPED_TRACE(limit);
      const pid_t child = fork();
      if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit cap{limit, limit};
        setrlimit(RLIMIT_FSIZE, &cap);
        _exit(page.Save(name.c_str(), type, 0, 2, 1, &third) == PX_OK ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
      EXPECT_TRUE(bytes(name) == before);
    }
    ASSERT_EQ(page.Save(name.c_str(), type, 0, 2, 1, &third), PX_OK);
    EXPECT_TRUE(bytes(name) == bytes(trial));
  }
}

// Files made by another program load at their own depth.
TEST_F(ToolkitTest, LoadsFilesOfOtherWriters) {
  struct Made {
    const char* name;
    const char* command;  // ImageMagick, with OUT as the output
    int bpp;
  };
  const Made made[] = {
      {"cmyk.jpg", "convert -size 64x48 gradient:red-blue -colorspace CMYK OUT", 24},
      {"prog.jpg", "convert -size 64x48 gradient:red-blue -interlace Plane OUT", 24},
      {"grey.jpg", "convert -size 64x48 gradient: -colorspace Gray OUT", 8},
      {"alpha.png", "convert -size 64x48 gradient:'rgba(255,0,0,0.5)'-blue OUT", 24},
      {"grey16.png", "convert -size 64x48 gradient: -colorspace Gray -depth 16 OUT", 8},
      {"palette.png", "convert -size 64x48 gradient:red-blue -colors 16 PNG8:OUT", 24},
      {"lzw.tif", "convert -size 64x48 gradient:red-blue -compress LZW OUT", 24},
      {"packbits.tif", "convert -size 64x48 gradient: -colorspace Gray -compress RLE OUT", 8},
      {"jpeg.tif", "convert -size 64x48 gradient:red-blue -compress JPEG OUT", 24},
      {"g3.tif", "convert -size 64x48 pattern:checkerboard -monochrome -compress Fax OUT", 1},
      {"g4.tif", "convert -size 64x48 pattern:checkerboard -monochrome -compress Group4 OUT", 1},
      {"tiled.tif", "convert -size 64x48 gradient:red-blue -define tiff:tile-geometry=16x16 OUT", 24},
      {"pal8.bmp", "convert -size 64x48 gradient:red-blue -colors 16 -type Palette BMP3:OUT", 24},
      {"rgb32.bmp", "convert -size 64x48 gradient:red-blue -define bmp:format=bmp4 -alpha on OUT", 24},
      {"anim.gif", "convert -size 64x48 gradient:red-blue gradient:blue-red OUT", 24},
      {"t2p.pdf", "convert -size 64x48 gradient:red-blue -depth 8 OUT.tif && tiff2pdf -o OUT OUT.tif", 24},
      {"t2p_g4.pdf",
       "convert -size 64x48 pattern:checkerboard -monochrome -compress Group4 OUT.tif && tiff2pdf -o OUT "
       "OUT.tif",
       1},
  };
  for (const Made& m : made) {
    const std::string name = Path(m.name);
    std::string command = m.command;
    for (size_t at = command.find("OUT"); at != std::string::npos; at = command.find("OUT", at))
      command.replace(at, 3, name);
    int status = -1;
    Shell(command, &status);
    ASSERT_EQ(status, 0) << command;
    PxBitmapBase loaded;
    ASSERT_EQ(loaded.Load(name.c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK) << m.name;
    EXPECT_EQ(loaded.GetBitsPerPixel(), m.bpp) << m.name;
    EXPECT_EQ(loaded.GetWidth(), 64) << m.name;
    EXPECT_EQ(loaded.GetHeight(), 48) << m.name;
  }
}

// A page that is not one image is rendered (poppler) at 150 dpi.
TEST_F(ToolkitTest, RendersPdfPagesWithoutImages) {
  const std::string name = Path("text.pdf");
  WriteBytes(
      name,
      "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
      "2 0 obj<</Type/Pages/Count 1/Kids[3 0 R]>>endobj\n"
      "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 72 36]/Contents 4 0 R"
      "/Resources<</Font<</F1 5 0 R>>>>>>endobj\n"
      "4 0 obj<</Length 53>>stream\nBT /F1 24 Tf 5 10 Td (Hi) Tj ET 1 0 0 rg 0 0 9 9 re f\nendstream endobj\n"
      "5 0 obj<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>endobj\n"
      "trailer<</Root 1 0 R>>\n%%EOF\n");
  PxFile file;
  PxFileInfo info{};
  file.SetFileName(name.c_str());
  ASSERT_GE(file.GetInfo(&info, 1), 1);
  EXPECT_EQ(info.nPages, 1);
  PxBitmapBase page;
  ASSERT_EQ(page.Load(name.c_str(), 0, 4, 1), PX_OK);
  EXPECT_EQ(page.GetWidth(), 150);
  EXPECT_EQ(page.GetHeight(), 75);
  EXPECT_EQ(page.GetBitsPerPixel(), 24);
  EXPECT_EQ(page.GetPixel(74, 2), 0xFF0000) << "the red square, bottom left";
  EXPECT_EQ(page.GetPixel(0, 149), 0xFFFFFF);
}

// The quality factor: 2 is best, larger factors give smaller JPEG files.
TEST_F(ToolkitTest, JpegQualityFactorOrdersFileSizes) {
  PxBitmapBase page;
  MakePage(page, 400, 300, 24);
  std::uintmax_t last = 0;
  for (int factor : {255, 150, 100, 50, 2}) {
    const std::string name = Path("q" + std::to_string(factor) + ".jpg");
    ASSERT_EQ(page.Save(name.c_str(), PX_TYPE_JPEG, 0, factor, 1, nullptr), PX_OK);
    EXPECT_GT(fs::file_size(name), last) << factor;
    last = fs::file_size(name);
  }
}

}  // namespace
}  // namespace toolkit_test
