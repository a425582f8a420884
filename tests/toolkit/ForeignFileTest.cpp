// Files made by other tools that the loaders once got wrong: 16-bit interlaced PNG, RGB TIFF with
// alpha, 16-bit CMYK TIFF, every frame of a GIF, PDF pages of very high resolution and with damaged
// images, JPEG EXIF orientation, and a FIFO given as a file. Each page is compared pixel by pixel with
// ImageMagick's (or poppler's) decoding of the same file.
#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>

#include "ToolkitFixture.h"
#include "platform/module/Module.h"
#include "pxclass/PxError.h"

namespace toolkit_test {
namespace {

class Foreign : public ToolkitTest {
 protected:
  void Magick(const std::string& args) {
    int status = -1;
    Shell("convert " + args, &status);
    ASSERT_EQ(status, 0) << args;
  }
  // ImageMagick's RGB bytes of a file (with extra options before the output, e.g. flattening).
  std::vector<uint8_t> Reference(const std::string& input, const std::string& options = "") {
    const std::string raw = Path("reference.rgb");
    int status = -1;
    Shell("convert " + input + " " + options + " -depth 8 rgb:'" + raw + "'", &status);
    EXPECT_EQ(status, 0) << input;
    std::ifstream in(raw, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Pixels of the page differing from the reference by more than `tolerance` in a channel; -1 when
  // the sizes differ.
  static long Differing(const PxBitmapBase& page, const std::vector<uint8_t>& reference, int tolerance) {
    const std::vector<uint8_t> got = PageRgb(page.Page());
    if (got.size() != reference.size()) return -1;
    long bad = 0;
    for (size_t i = 0; i < got.size(); i += 3)
      for (size_t c = 0; c < 3; ++c)
        if (std::abs(int(got[i + c]) - int(reference[i + c])) > tolerance) {
          ++bad;
          break;
        }
    return bad;
  }
  int Load(PxBitmapBase& page, const std::string& file, int number = 1) {
    return page.Load(file.c_str(), 0, PX_COLOUR_ORDER_RGB, number);
  }
};

TEST_F(Foreign, SixteenBitInterlacedPngRowsInPlace) {
  const struct {
    const char* name;
    const char* make;  // ImageMagick options giving the colour type
  } cases[] = {
      {"grey", "-colorspace Gray -define png:color-type=0"},
      {"rgb", "-define png:color-type=2"},
      {"rgba", "-alpha set -channel A -fx 'i/w' +channel -define png:color-type=6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string flat = Path(std::string(c.name) + "-flat.png");
    const std::string laced = Path(std::string(c.name) + "-laced.png");
    Magick("-seed 4 -size 67x45 plasma: " + std::string(c.make) + " -depth 16 -define png:bit-depth=16 '" +
           flat + "'");
    Magick("'" + flat + "' -interlace PNG '" + laced + "'");
    ASSERT_NE(Shell("identify -verbose '" + laced + "' | grep -i 'interlace: PNG'"), "");
    PxBitmapBase a, b;
    ASSERT_EQ(Load(a, flat), PX_OK);
    ASSERT_EQ(Load(b, laced), PX_OK);
    // Interlacing changes nothing of the pixels.
    EXPECT_EQ(MaxDifference(a, b), 0);
    // ImageMagick flattens alpha in other light than libpng; the rows' places are what is checked.
    if (std::string(c.name) != "rgba") {
      EXPECT_EQ(Differing(b, Reference("'" + laced + "'"), 1), 0);
    }
  }
}

TEST_F(Foreign, TiffAlphaCompositedOnWhiteOnce) {
  const std::string png = Path("alpha.png");
  // Left half the issue's colour at 50 %, right half a gradient of colour and alpha.
  Magick(
      "-size 40x30 xc:'rgba(200,100,50,0.5)' \\( -seed 9 -size 40x30 plasma: -alpha set -channel A "
      "-fx 'j/h' +channel \\) +append '" +
      png + "'");
  const std::vector<uint8_t> flattened = Reference("'" + png + "'", "-background white -alpha remove");
  for (const char* kind : {"unassociated", "associated"}) {
    for (const char* colour : {"", "-colorspace Gray"}) {
      SCOPED_TRACE(std::string(kind) + " " + colour);
      const std::string tif = Path(std::string("alpha-") + kind + (*colour ? "-grey" : "") + ".tif");
      Magick("'" + png + "' -depth 8 " + colour + " -define tiff:alpha=" + kind + " '" + tif + "'");
      PxBitmapBase page;
      ASSERT_EQ(Load(page, tif), PX_OK);
      EXPECT_EQ(Differing(page, Reference("'" + tif + "'", "-background white -alpha remove"), 1), 0);
      if (!*colour) {
        EXPECT_EQ(Differing(page, flattened, 1), 0);
        const int p = page.GetPixel(5, 5);
        EXPECT_NEAR((p >> 16) & 255, 227, 1);
        EXPECT_NEAR((p >> 8) & 255, 177, 1);
        EXPECT_NEAR(p & 255, 152, 1);
      }
    }
  }
}

TEST_F(Foreign, SixteenBitCmykTiff) {
  Magick("-seed 5 -size 50x40 plasma: -colorspace CMYK -depth 16 '" + Path("cmyk.tif") + "'");
  // The inks in planes (no tool at hand writes 16-bit planes): a pattern written with libtiff.
  {
    TIFF* t = TIFFOpen(Path("cmyk-planes.tif").c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 37u);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 23u);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 5u);
    std::vector<uint16_t> row(37);
    for (uint16_t s = 0; s < 4; ++s)
      for (uint32_t y = 0; y < 23; ++y) {
        for (uint32_t x = 0; x < 37; ++x) row[x] = uint16_t((x * 1777 + y * 2801 + s * 9001) * (s + 1));
        ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, s), 1);
      }
    TIFFClose(t);
  }
  for (const char* name : {"cmyk.tif", "cmyk-planes.tif"}) {
    SCOPED_TRACE(name);
    const std::string tif = Path(name);
    ASSERT_NE(Shell("tiffinfo '" + tif + "' | grep 'Bits/Sample: 16'"), "");
    PxBitmapBase page;
    ASSERT_EQ(Load(page, tif), PX_OK);
    EXPECT_EQ(page.GetBitsPerPixel(), 24);
    EXPECT_EQ(Differing(page, Reference("'" + tif + "'", "-colorspace sRGB"), 1), 0);
  }
}

TEST_F(Foreign, EveryGifFrameIsAPage) {
  const std::string gif = Path("anim.gif");
  // Whole frames, then optimised ones (partial, transparent, with disposal) of the same animation.
  Magick(
      "-seed 3 -size 40x30 plasma: \\( -size 40x30 gradient:yellow-blue \\) \\( -size 40x30 xc:white "
      "-fill black -draw 'circle 20,15 20,5' \\) \\( -clone 2 -fill red -draw 'rectangle 2,2 9,9' \\) "
      "-colors 64 '" +
      gif + "'");
  const std::string optimised = Path("optimised.gif");
  Magick("'" + gif + "' -layers Optimize '" + optimised + "'");
  for (const std::string& file : {gif, optimised}) {
    SCOPED_TRACE(file);
    PxFile info;
    PxFileInfo record{};
    info.SetFileName(file.c_str());
    ASSERT_GE(info.GetInfo(&record, 1), 1);
    EXPECT_EQ(record.nPages, 4);
    int status = -1;
    Shell("convert '" + file + "' -coalesce -background white -alpha remove +adjoin -depth 8 'rgb:" +
              Path("frame-%d.rgb") + "'",
          &status);
    ASSERT_EQ(status, 0);
    for (int n = 1; n <= 4; ++n) {
      SCOPED_TRACE(n);
      PxBitmapBase page;
      ASSERT_EQ(Load(page, file, n), PX_OK);
      std::ifstream frame(Path("frame-" + std::to_string(n - 1) + ".rgb"), std::ios::binary);
      const std::vector<uint8_t> reference((std::istreambuf_iterator<char>(frame)),
                                           std::istreambuf_iterator<char>());
      EXPECT_EQ(Differing(page, reference, 0), 0);
    }
    PxBitmapBase none;
    EXPECT_LT(Load(none, file, 5), 0);
  }
}

TEST_F(Foreign, PdfPagesAtTheResolutionOfTheirImages) {
  const std::string tif = Path("fine.tif"), pdf = Path("fine.pdf");
  // 613 x 419 pixels at 10800 ppi: a page of 4.09 x 2.79 points.
  Magick("-seed 2 -size 613x419 plasma: -depth 8 -density 10800 -units PixelsPerInch -compress lzw '" + tif +
         "'");
  int status = -1;
  Shell("tiff2pdf -o '" + pdf + "' '" + tif + "'", &status);
  ASSERT_EQ(status, 0);
  PxBitmapBase page;
  ASSERT_EQ(Load(page, pdf), PX_OK);
  EXPECT_NEAR(page.GetWidth(), 613, 1);
  EXPECT_NEAR(page.GetHeight(), 419, 1);
  // Poppler drawing the page at that size gives the same pixels.
  Shell("pdftoppm -png -singlefile -scale-to-x " + std::to_string(page.GetWidth()) + " -scale-to-y " +
            std::to_string(page.GetHeight()) + " '" + pdf + "' '" + Path("poppler") + "'",
        &status);
  ASSERT_EQ(status, 0);
  EXPECT_LE(Differing(page, Reference("'" + Path("poppler.png") + "'"), 2),
            page.GetWidth() * page.GetHeight() / 100);

  // Within the pixel limit: the page is drawn at the highest resolution that fits, never refused.
  auto setLimit = reinterpret_cast<void (*)(int64_t)>(
      GetProcAddress(static_cast<HMODULE>(PxBase::LibraryHandle(PxBase::PX_FIL)), "PxfSetPixelLimit"));
  ASSERT_NE(setLimit, nullptr);
  setLimit(100000);
  PxBitmapBase limited;
  const int limitedResult = Load(limited, pdf);
  setLimit(0);
  ASSERT_EQ(limitedResult, PX_OK);
  EXPECT_LE(int64_t(limited.GetWidth()) * limited.GetHeight(), 100000);
  EXPECT_GT(int64_t(limited.GetWidth()) * limited.GetHeight(), 90000);
  EXPECT_NEAR(double(limited.GetWidth()) / limited.GetHeight(), 613.0 / 419.0, 0.01);

  // Two images on one page are rendered: still at the image's resolution, as poppler draws it.
  const std::string two = Path("two.pdf");
  Magick("'" + tif + "' \\( '" + tif +
         "' -resize 50% \\) -depth 8 -density 10800 -units PixelsPerInch -append '" + Path("stack.tif") +
         "'");
  Shell("tiff2pdf -o '" + two + "' '" + Path("stack.tif") + "'", &status);
  ASSERT_EQ(status, 0);
  PxBitmapBase stacked;
  ASSERT_EQ(Load(stacked, two), PX_OK);
  EXPECT_EQ(stacked.GetWidth(), 613);
  EXPECT_GE(stacked.GetHeight(), 419);
}

// A PDF of one page holding JPEG images, each placed at (x, y, width, height) in points (tiff2pdf's
// JPEG output is itself damaged, and ImageMagick may not write PDF here: written by hand).
struct Placed {
  std::string jpeg;
  int pixelsWide, pixelsHigh;
  double x, y, w, h;
};
std::string PdfOf(const std::vector<Placed>& images, double pageW, double pageH) {
  std::vector<std::string> objects;
  std::string resources, content;
  for (size_t i = 0; i < images.size(); ++i) {
    const Placed& p = images[i];
    const std::string id = std::to_string(4 + i);
    resources += "/Im" + std::to_string(i) + " " + id + " 0 R ";
    content += "q " + std::to_string(p.w) + " 0 0 " + std::to_string(p.h) + " " + std::to_string(p.x) + " " +
               std::to_string(p.y) + " cm /Im" + std::to_string(i) + " Do Q\n";
    objects.push_back("<< /Type /XObject /Subtype /Image /Width " + std::to_string(p.pixelsWide) +
                      " /Height " + std::to_string(p.pixelsHigh) +
                      " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length " +
                      std::to_string(p.jpeg.size()) + " >>\nstream\n" + p.jpeg + "\nendstream");
  }
  std::vector<std::string> all = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(pageW) + " " + std::to_string(pageH) +
          "] /Resources << /XObject << " + resources + ">> >> /Contents " +
          std::to_string(4 + images.size()) + " 0 R >>"};
  all.insert(all.end(), objects.begin(), objects.end());
  all.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < all.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + all[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(all.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(all.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An end of image half way through the scan: the rest of the image never arrives.
std::string Damaged(std::string jpeg) {
  const size_t sos = jpeg.find("\xFF\xDA");
  const size_t middle = sos + (jpeg.size() - sos) / 2;
  jpeg[middle] = '\xFF';
  jpeg[middle + 1] = '\xD9';
  return jpeg;
}

TEST_F(Foreign, PdfImageThatDoesNotDecodeFailsThePage) {
  const std::string jpg = Path("j.jpg");
  Magick("-seed 6 -size 200x150 plasma: -depth 8 -quality 90 '" + jpg + "'");
  const std::string jpeg = ReadAll(jpg);
  struct Case {
    const char* name;
    std::vector<Placed> images;
  };
  const Case cases[] = {
      {"one image over the page", {{jpeg, 200, 150, 0, 0, 144, 108}}},
      {"two images (rendered)", {{jpeg, 200, 150, 0, 0, 144, 54}, {jpeg, 200, 150, 0, 54, 144, 54}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string good = Path("good.pdf");
    WriteBytes(good, PdfOf(c.images, 144, 108));
    int status = -1;
    Shell("pdftoppm -r 100 -singlefile '" + good + "' '" + Path("poppler") + "'", &status);
    ASSERT_EQ(status, 0) << "poppler reads the good file";
    PxBitmapBase page;
    ASSERT_EQ(Load(page, good), PX_OK);
    std::vector<Placed> broken = c.images;
    broken.back().jpeg = Damaged(broken.back().jpeg);
    const std::string bad = Path("bad.pdf");
    WriteBytes(bad, PdfOf(broken, 144, 108));
    PxBitmapBase none;
    EXPECT_LT(Load(none, bad), 0);
    EXPECT_FALSE(none.IsAllocated());
  }
  // The single image decodes to ImageMagick's pixels of the JPEG.
  WriteBytes(Path("one.pdf"), PdfOf({{jpeg, 200, 150, 0, 0, 144, 108}}, 144, 108));
  PxBitmapBase one;
  ASSERT_EQ(Load(one, Path("one.pdf")), PX_OK);
  EXPECT_EQ(Differing(one, Reference("'" + jpg + "'"), 2), 0);
}

// An EXIF block with only the orientation, as phones write it.
std::string WithOrientation(const std::string& jpeg, int orientation) {
  std::string tiff = std::string("II*\0\x08\0\0\0", 8);
  tiff += std::string("\x01\0", 2);                                              // one entry
  tiff += std::string("\x12\x01\x03\0\x01\0\0\0", 8);                            // 0x0112 SHORT, 1 value
  tiff += std::string(1, char(orientation)) + std::string("\0\0\0\0\0\0\0", 7);  // value, next IFD 0
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  const size_t length = body.size() + 2;
  return jpeg.substr(0, 2) + "\xFF\xE1" + char(length >> 8) + char(length & 255) + body + jpeg.substr(2);
}

TEST_F(Foreign, JpegExifOrientationComesUpright) {
  const std::string base = Path("base.jpg");
  Magick("-seed 8 -size 40x24 plasma: -quality 95 -strip '" + base + "'");
  std::ifstream in(base, std::ios::binary);
  const std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string file = Path("o" + std::to_string(o) + ".jpg");
    WriteBytes(file, WithOrientation(jpeg, o));
    EXPECT_EQ(Shell("identify -format '%[orientation]' '" + file + "'").empty(), false);
    PxFile info;
    PxFileInfo record{};
    info.SetFileName(file.c_str());
    ASSERT_GE(info.GetInfo(&record, 1), 1);
    PxBitmapBase page;
    ASSERT_EQ(Load(page, file), PX_OK);
    EXPECT_EQ(page.GetWidth(), o >= 5 ? 24 : 40);
    EXPECT_EQ(record.nWidth, page.GetWidth());
    EXPECT_EQ(record.nHeight, page.GetHeight());
    EXPECT_EQ(Differing(page, Reference("'" + file + "'", "-auto-orient"), 2), 0);
  }
}

// A FIFO without a writer would hold an open for ever: it is refused, quickly.
TEST_F(Foreign, FifoIsRefusedWithoutBlocking) {
  const std::string fifo = Path("fifo.png");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto load = std::async(std::launch::async, [&] {
    PxFile info;
    PxFileInfo record{};
    info.SetFileName(fifo.c_str());
    const int got = info.GetInfo(&record, 1);
    PxBitmapBase page;
    return std::make_pair(got, Load(page, fifo));
  });
  if (load.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    // Let the blocked open go, so that the test ends.
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd >= 0) ::close(fd);
    FAIL() << "loading a FIFO blocked";
  }
  const auto [info, page] = load.get();
  EXPECT_EQ(info, PX_ERR_OPEN);
  EXPECT_EQ(page, PX_ERR_OPEN);
}

}  // namespace
}  // namespace toolkit_test
