// The page cleanup library on letter pages drawn, turned, framed and soiled by ImageMagick (150 dpi
// keeps the drawing quick; the library measures at 150 dpi whatever the scan's resolution).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pxclass/PxError.h"
#include "pxclass/PxPageAlloc.h"
#include "pxclean/PxCleanApi.h"
#include "pxfile/PxFileApi.h"
#include "pxocr/PxOcrApi.h"
#include "tests/common/Shell.h"

namespace {

constexpr auto Shell = &test_common::Output;

struct PageDeleter {
  void operator()(PxPage* p) const { PxPageFree(p); }
};
using PagePtr = std::unique_ptr<PxPage, PageDeleter>;

constexpr int kW = 1275, kH = 1650;  // letter at 150 dpi
const char* const kText =
    "The quarterly report shows that sales rose in every region except the north, where parts arrived "
    "late and the new line of printers sold well above plan while service costs fell again. ";

class CleanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/cleantestXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    s_dir = tmpl;
    std::string text;
    for (int i = 0; i < 7; ++i) text += kText;
    // A text page with margins, 11-point serif at 150 dpi.
    Shell(
        "convert -size 1050x1350 -density 150 -units PixelsPerInch -font DejaVu-Serif -pointsize 11 "
        "-background white caption:'" +
        text + "' -gravity center -extent " + std::to_string(kW) + "x" + std::to_string(kH) +
        " -colorspace Gray -depth 8 -compress none '" + s_dir + "/text.tif'");
  }
  static void TearDownTestSuite() { Shell("rm -rf '" + s_dir + "'"); }

  static PagePtr Load(const std::string& name) {
    PxPage* page = nullptr;
    EXPECT_EQ(PxfLoadPage((s_dir + "/" + name).c_str(), 1, &page), PX_OK) << name;
    return PagePtr(page);
  }
  // `ops` applied to the text page (or to `from`), saved as `name` and loaded.
  static PagePtr Make(const std::string& name, const std::string& ops, const std::string& from = "text.tif") {
    Shell("convert " + (from.empty() ? std::string() : "'" + s_dir + "/" + from + "' ") + ops +
          " -density 150 -units PixelsPerInch -depth 8 " + "-compress none '" + s_dir + "/" + name + "'");
    return Load(name);
  }
  static std::string s_dir;
};
std::string CleanTest::s_dir;

int32_t InkOf(const PxPage* page) {
  int32_t ppm = -1;
  EXPECT_EQ(PxCleanInk(page, &ppm), PX_OK);
  return ppm;
}

TEST_F(CleanTest, SkewIsFoundWithinATenthOfADegreeAndStraightened) {
  for (double truth : {-9.5, -4.0, -1.5, 0.0, 0.7, 3.0, 9.0}) {
    char ops[128];
    std::snprintf(ops, sizeof ops, "-background white -rotate %.2f -gravity center -extent %dx%d", truth, kW,
                  kH);
    PagePtr page = Make("skew.tif", ops);
    ASSERT_TRUE(page);
    double found = 99, confidence = 0;
    ASSERT_EQ(PxCleanFindSkew(page.get(), &found, &confidence), PX_OK);
    EXPECT_NEAR(found, truth, 0.1) << "truth " << truth;
    EXPECT_GE(confidence, PX_CLEAN_SKEW_SURE) << "truth " << truth;
    if (truth == 0) continue;
    // Straightened, the lines lie along the rows and the corners the turn uncovered are white.
    ASSERT_EQ(PxCleanRotate(page.get(), -found), PX_OK);
    EXPECT_EQ(page->width, kW);
    EXPECT_EQ(page->height, kH);
    ASSERT_EQ(PxCleanFindSkew(page.get(), &found, &confidence), PX_OK);
    EXPECT_NEAR(found, 0, 0.1) << "truth " << truth;
    EXPECT_EQ(page->pixels[0], 255);
    EXPECT_EQ(page->pixels[size_t(kH - 1) * size_t(page->stride) + kW - 1], 255);
  }
  // Colour and black-and-white pages are measured and turned alike.
  for (const char* depth : {"-type TrueColor", "-monochrome"}) {
    PagePtr page =
        Make("skewc.tif",
             std::string("-background white -rotate -2.5 -gravity center -extent 1275x1650 ") + depth);
    ASSERT_TRUE(page);
    double found = 0, confidence = 0;
    ASSERT_EQ(PxCleanFindSkew(page.get(), &found, &confidence), PX_OK);
    EXPECT_NEAR(found, -2.5, 0.1) << depth;
    ASSERT_EQ(PxCleanRotate(page.get(), -found), PX_OK);
    ASSERT_EQ(PxCleanFindSkew(page.get(), &found, &confidence), PX_OK);
    EXPECT_NEAR(found, 0, 0.1) << depth;
  }
}

TEST_F(CleanTest, PagesWithoutLinesAreNotStraightened) {
  // Blank, a few marks, and a picture of soft shapes.
  const std::vector<std::pair<std::string, std::string>> pages = {
      {"blank.tif", "-fill white -draw 'rectangle 0,0 2000,2000'"},
      {"marks.tif",
       "-fill white -draw 'rectangle 0,0 2000,2000' -fill black -draw 'circle 300,300 320,320' "
       "-draw 'circle 900,1200 915,1230'"},
      {"circles.tif",
       "-fill white -draw 'rectangle 0,0 2000,2000' -fill grey30 -draw 'circle 300,400 450,400' "
       "-fill grey60 -draw 'circle 800,900 1000,900' -fill black -draw 'circle 500,1300 560,1300' "
       "-blur 0x3"},
      // A cloudy picture whose grain runs at 30 degrees, beyond the range measured.
      {"clouds.tif",
       "-seed 7 -size 1800x1800 plasma:grey40-grey90 -blur 0x8 -rotate 30 -gravity center "
       "-crop 1275x1650+0+0 +repage -colorspace Gray"},
  };
  for (const auto& [name, ops] : pages) {
    PagePtr page = name == "clouds.tif" ? Make(name, ops, "") : Make(name, ops);
    ASSERT_TRUE(page) << name;
    double found = 1, confidence = 99;
    ASSERT_EQ(PxCleanFindSkew(page.get(), &found, &confidence), PX_OK);
    EXPECT_EQ(found, 0) << name;
    EXPECT_LT(confidence, PX_CLEAN_SKEW_SURE) << name;
  }
}

TEST_F(CleanTest, BlankDecisionsOnSoiledPaperAndOneShortLine) {
  const std::string white = "-fill white -draw 'rectangle 0,0 2000,2000' ";
  struct Case {
    const char* name;
    std::string ops;
    bool blank;
  };
  const std::vector<Case> cases = {
      {"white.tif", white, true},
      {"noise.tif", white + "-attenuate 0.6 +noise Gaussian -colorspace Gray", true},
      {"pepper.tif", white + "-attenuate 0.05 +noise Impulse -colorspace Gray", true},
      {"speck.tif", white + "-fill black -draw 'circle 600,800 603,803'", true},
      {"faint.tif", white + "-fill grey70 -draw 'circle 600,800 625,825'", true},
      {"grey.tif",
       white + "-fill grey78 -draw 'rectangle 0,0 2000,2000' -attenuate 0.4 +noise Gaussian "
               "-colorspace Gray",
       true},
      // The back's text showing through, mirrored and light.
      {"bleed.tif", "-flop +level 72%,100% -blur 0x1", true},
      {"edges.tif", white + "-fill black -draw 'rectangle 0,0 1275,12' -draw 'rectangle 0,0 10,1650'", true},
      {"line.tif",
       white + "-density 150 -font DejaVu-Sans -pointsize 10 -fill black -annotate +180+300 'Thank you.'",
       false},
      {"text.tif", "", false},
  };
  for (const Case& c : cases) {
    PagePtr page = c.ops.empty() ? Load(c.name) : Make(c.name, c.ops);
    ASSERT_TRUE(page) << c.name;
    const int32_t ink = InkOf(page.get());
    EXPECT_EQ(ink < PX_CLEAN_BLANK_PPM, c.blank) << c.name << ": " << ink << " ppm";
  }
}

TEST_F(CleanTest, DarkBordersAreCutToThePaper) {
  // Black margins of different widths on each side, some sides without.
  struct Case {
    int left, top, right, bottom;
  };
  for (const Case& c : {Case{40, 25, 70, 12}, Case{0, 60, 15, 0}, Case{90, 0, 0, 130}}) {
    const int pw = kW - c.left - c.right, ph = kH - c.top - c.bottom;
    char ops[256];
    std::snprintf(ops, sizeof ops,
                  "-resize %dx%d! -background black -gravity northwest -splice %dx%d "
                  "-gravity southeast -splice %dx%d -attenuate 0.3 +noise Gaussian -colorspace Gray",
                  pw, ph, c.left, c.top, c.right, c.bottom);
    PagePtr page = Make("framed.tif", ops);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->width, kW);
    PxCleanBox box{};
    ASSERT_EQ(PxCleanFindPaper(page.get(), &box), PX_OK);
    EXPECT_NEAR(box.left, c.left, 2);
    EXPECT_NEAR(box.top, c.top, 2);
    EXPECT_NEAR(box.right, kW - c.right, 2);
    EXPECT_NEAR(box.bottom, kH - c.bottom, 2);
    ASSERT_EQ(PxCleanCrop(page.get(), &box), PX_OK);
    EXPECT_EQ(page->width, box.right - box.left);
    EXPECT_EQ(page->height, box.bottom - box.top);
    // What is left has no dark edge.
    ASSERT_EQ(PxCleanFindPaper(page.get(), &box), PX_OK);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, page->width);
    EXPECT_EQ(box.bottom, page->height);
  }
  // A page without a border, one with a black heading bar, and a dark picture stay whole.
  for (const char* ops :
       {"", "-fill black -draw 'rectangle 100,60 1175,200'",
        "-fill grey10 -draw 'rectangle 0,0 1275,1650' -fill white -draw 'circle 600,800 700,900'"}) {
    PagePtr page = Make("whole.tif", ops);
    ASSERT_TRUE(page);
    PxCleanBox box{};
    ASSERT_EQ(PxCleanFindPaper(page.get(), &box), PX_OK);
    EXPECT_EQ(box.left, 0) << ops;
    EXPECT_EQ(box.top, 0) << ops;
    EXPECT_EQ(box.right, kW) << ops;
    EXPECT_EQ(box.bottom, kH) << ops;
  }
}

TEST_F(CleanTest, QuarterTurnsMatchImageMagicksAtEveryDepth) {
  for (const char* depth :
       {"-colorspace Gray", "-type TrueColor -fill red -draw 'rectangle 10,10 200,90'", "-monochrome"}) {
    for (int quarters : {1, 2, 3}) {
      Make("src.tif", std::string("-crop 700x500+100+150 +repage ") + depth);
      PagePtr page = Load("src.tif");
      PagePtr truth = Make("turned.tif", "-rotate " + std::to_string(90 * quarters), "src.tif");
      ASSERT_TRUE(page && truth);
      ASSERT_EQ(PxCleanTurn(page.get(), quarters), PX_OK);
      ASSERT_EQ(page->width, truth->width);
      ASSERT_EQ(page->height, truth->height);
      ASSERT_EQ(page->bitsPerPixel, truth->bitsPerPixel);
      const size_t rowBytes = (size_t(page->width) * size_t(page->bitsPerPixel) + 7) / 8;
      size_t differing = 0;
      for (int y = 0; y < page->height; ++y)
        differing += std::memcmp(page->pixels + size_t(y) * size_t(page->stride),
                                 truth->pixels + size_t(y) * size_t(truth->stride), rowBytes) != 0;
      EXPECT_EQ(differing, 0u) << depth << " quarters " << quarters;
    }
  }
}

TEST_F(CleanTest, BadPagesAndArgumentsAreRefused) {
  PxPage none{};
  int32_t ppm = 0;
  double degrees = 0, confidence = 0;
  PxCleanBox box{0, 0, 10, 10};
  EXPECT_EQ(PxCleanInk(&none, &ppm), PX_ERR_NO_BITMAP);
  EXPECT_EQ(PxCleanFindSkew(nullptr, &degrees, &confidence), PX_ERR_NO_BITMAP);
  EXPECT_EQ(PxCleanRotate(&none, 1), PX_ERR_NO_BITMAP);
  EXPECT_EQ(PxCleanFindPaper(&none, &box), PX_ERR_NO_BITMAP);
  PagePtr page = Load("text.tif");
  ASSERT_TRUE(page);
  EXPECT_EQ(PxCleanRotate(page.get(), std::nan("")), PX_ERR_PARAMETER);
  EXPECT_EQ(PxCleanRotate(page.get(), 60), PX_ERR_PARAMETER);
  for (PxCleanBox bad : {PxCleanBox{-1, 0, 10, 10}, PxCleanBox{0, 0, kW + 1, 10}, PxCleanBox{5, 5, 5, 10}})
    EXPECT_EQ(PxCleanCrop(page.get(), &bad), PX_ERR_PARAMETER);
  EXPECT_EQ(page->width, kW);
  // A page of one pixel row is measured without reading past it.
  PxPage* tiny = nullptr;
  Shell("convert -size 3x1 xc:white '" + s_dir + "/tiny.tif'");
  ASSERT_EQ(PxfLoadPage((s_dir + "/tiny.tif").c_str(), 1, &tiny), PX_OK);
  EXPECT_EQ(PxCleanInk(tiny, &ppm), PX_OK);
  EXPECT_EQ(PxCleanFindSkew(tiny, &degrees, &confidence), PX_OK);
  EXPECT_EQ(PxCleanFindPaper(tiny, &box), PX_OK);
  EXPECT_EQ(PxCleanRotate(tiny, 3), PX_OK);
  PxPageFree(tiny);
}

TEST_F(CleanTest, OrientationComesFromTheOcrEngine) {
  for (int turned : {0, 90, 180, 270}) {
    PagePtr page = Make("turned.tif", "-rotate " + std::to_string(turned));
    ASSERT_TRUE(page);
    int32_t degrees = -1;
    double confidence = 0;
    char message[256];
    ASSERT_EQ(PxOcrOrientation(page.get(), &degrees, &confidence, message, sizeof message), PX_OK) << message;
    EXPECT_EQ(degrees, (360 - turned) % 360);
    EXPECT_GE(confidence, 1.5);
  }
  // A page without text is never turned on a sure answer.
  PagePtr blank = Make("blank.tif", "-fill white -draw 'rectangle 0,0 2000,2000'");
  int32_t degrees = -1;
  double confidence = 99;
  char message[256];
  const int32_t rc = PxOcrOrientation(blank.get(), &degrees, &confidence, message, sizeof message);
  EXPECT_TRUE(rc == PX_ERR_FORMAT || confidence < 1.5) << rc << " " << confidence;
}

}  // namespace
