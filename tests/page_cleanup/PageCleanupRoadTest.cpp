// Page cleanup on the real road: pages drawn by ImageMagick are scanned by SANE's pnm backend through
// marlin3 into TIFF and JPEG files, read back and compared by ImageMagick. The backend's file is a
// page of the test's folder (MARLIN3_PNM_FILE), or, for a feeder batch in one scan, each file of the
// folder MARLIN3_PNM_FEED in name order; the TWAIN library hands both to pnm devices only.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/ProductRun.h"

namespace fs = std::filesystem;

namespace {

using product_run::Has;
using product_run::Output;
using product_run::Quote;
using product_run::RunResult;

const char* const kText =
    "The quarterly report shows that sales rose in every region except the north, where parts arrived "
    "late and the new line of printers sold well above plan while service costs fell again. ";

class PageCleanupRoadTest : public product_run::ProductRun {
 protected:
  void SetUp() override {
    ProductRun::SetUp();
    std::ofstream(m_dir / "sane" / "dll.conf") << "pnm\n";
    ASSERT_EQ(0, Shell(Bin("marlin3-product") + " direct --port 60000 --device pnm:0 >/dev/null"));
  }

  // A letter page at 150 dpi with `repeats` paragraphs of text, as `name` (PGM), after `ops`.
  void Draw(const std::string& name, int repeats, const std::string& ops = "") const {
    std::string text;
    for (int i = 0; i < repeats; ++i) text += kText;
    Output(
        "convert -size 1050x1350 -density 150 -units PixelsPerInch -font DejaVu-Serif -pointsize 11 "
        "-background white caption:" +
        Quote(text) + " -gravity center -extent 1275x1650 " + ops + " -colorspace Gray -depth 8 " +
        Quote((m_dir / name).string()));
  }
  void Convert(const std::string& from, const std::string& ops, const std::string& to) const {
    Output("convert " + Quote((m_dir / from).string()) + " " + ops + " -colorspace Gray -depth 8 " +
           Quote((m_dir / to).string()));
  }

  // Scans `page` once into `out` (a TIFF) with the Quick Set values.
  RunResult ScanPage(const std::string& page, const std::vector<std::string>& values,
                     const std::string& out) {
    fs::copy_file(m_dir / page, m_dir / "feed.pnm", fs::copy_options::overwrite_existing);
    return Scan(values, out, "", "MARLIN3_PNM_FILE=" + Quote((m_dir / "feed.pnm").string()));
  }
  // Scans the pages, in order, as one feeder batch into `out` (its type `type`).
  RunResult ScanBatch(const std::vector<std::string>& pages, const std::vector<std::string>& values,
                      const std::string& out, const std::string& type = "17", const std::string& after = "") {
    const fs::path feed = m_dir / "feed";
    fs::remove_all(feed);
    fs::create_directory(feed);
    for (size_t i = 0; i < pages.size(); ++i) {
      const std::string name = (i < 10 ? "0" : "") + std::to_string(i) + ".pnm";
      fs::copy_file(m_dir / pages[i], feed / name);
    }
    return Scan(values, out, after, "MARLIN3_PNM_FEED=" + Quote(feed.string()), type);
  }
  RunResult Scan(const std::vector<std::string>& values, const std::string& out, const std::string& after,
                 const std::string& environment, const std::string& type = "17") {
    // Hide: the scanner's dialog and the progress window (0x110); the Quick Set's settings apply.
    std::vector<std::string> args = {"/Task",     "3", "/Hide", "272", "/Res",     "150",
                                     "/BitDepth", "8", "/Type", type,  "/OutFile", Out(out).string()};
    args.insert(args.end(), values.begin(), values.end());
    return RunMarlin(args, "dialog 102\nclick 1048\nmsgbox NO\n" + after, environment);
  }

  // ImageMagick's normalised RMSE between page `index` of the scan, scaled to the truth's size, and
  // the truth, both at a quarter size (what a turn's interpolation leaves is far below it).
  double Difference(const std::string& out, const std::string& truth, int index = 0) const {
    const std::string size = Output("identify -format '%wx%h' " + Quote((m_dir / truth).string()));
    const std::string page = Out(out).string() + "[" + std::to_string(index) + "]";
    const std::string text =
        Output("convert " + Quote(page) + " -resize " + size + "! -resize 25% " +
               Quote((m_dir / "a.pgm").string()) + " && convert " + Quote((m_dir / truth).string()) +
               " -resize 25% " + Quote((m_dir / "b.pgm").string()) + " && compare -metric RMSE " +
               Quote((m_dir / "a.pgm").string()) + " " + Quote((m_dir / "b.pgm").string()) + " null: 2>&1");
    const size_t open = text.find('(');
    return open == std::string::npos ? 1.0 : std::atof(text.c_str() + open + 1);
  }
};

TEST_F(PageCleanupRoadTest, BatchComesOutUprightStraightCroppedWithoutBlankBacks) {
  // Fronts: upright; skewed 3 degrees; upside down; in an open lid's black border. Backs: blank paper
  // with noise, the front's text bleeding through, light grey paper.
  Draw("front1.pgm", 7);
  Draw("front2.pgm", 4);
  Draw("front3.pgm", 2);
  Draw("front4.pgm", 5);
  Convert("front2.pgm", "-background white -rotate 3 -gravity center -extent 1275x1650", "skewed.pgm");
  Convert("front3.pgm", "-rotate 180", "upside.pgm");
  // Paper 1165 x 1570 with black margins of 40 (left), 25 (top), 70 (right), 55 (bottom).
  Convert("front4.pgm",
          "-resize 1165x1570! -background black -gravity northwest -splice 40x25 "
          "-gravity southeast -splice 70x55",
          "lid.pgm");
  Convert("front4.pgm", "-resize 1165x1570!", "paper4.pgm");
  Convert("front1.pgm", "-fill white -draw 'rectangle 0,0 2000,2000' -attenuate 0.5 +noise Gaussian",
          "back1.pgm");
  Convert("front2.pgm", "-flop +level 75%,100% -blur 0x1", "back2.pgm");
  Convert("front1.pgm", "-fill grey80 -draw 'rectangle 0,0 2000,2000'", "back3.pgm");
  const std::vector<std::string> all = {"/SkipBlank", "1", "/Deskew",     "1",
                                        "/Upright",   "1", "/CropBorder", "1"};

  // One feeder batch: each front with a blank back after it.
  const RunResult run = ScanBatch({"front1.pgm", "back1.pgm", "skewed.pgm", "back2.pgm", "upside.pgm",
                                   "back3.pgm", "lid.pgm", "back1.pgm"},
                                  all, "batch.tif");
  ASSERT_EQ(run.exitCode, 0) << run.log << run.transcript;
  for (const char* logged : {"Page 2 is blank", "Page 3 straightened by -3.0", "Page 4 is blank",
                             "Page 5 turned 180 degrees upright", "Page 6 is blank",
                             "Page 7 cut to the paper: 40,25 to 1205,1595", "Page 8 is blank"}) {
    EXPECT_TRUE(Has(run.log, logged)) << logged << "\n" << run.log;
  }
  EXPECT_FALSE(Has(run.log, "Page 1 is blank"));
  const char* truths[] = {"front1.pgm", "front2.pgm", "front3.pgm", "paper4.pgm"};
  EXPECT_EQ(Output("identify -format '%wx%h ' " + Quote(Out("batch.tif").string())),
            "1275x1650 1275x1650 1275x1650 1165x1570 ");
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(truths[i]);
    // The page is its own front as it was drawn, far nearer to it than to any other.
    const double own = Difference("batch.tif", truths[i], i);
    EXPECT_LT(own, 0.03);
    for (int j = 0; j < 4; ++j) {
      if (j != i) {
        EXPECT_LT(2 * own, Difference("batch.tif", truths[j], i)) << truths[j];
      }
    }
  }

  // A single-page type numbers the pages kept, without gaps for the backs.
  const RunResult jpeg =
      ScanBatch({"front1.pgm", "back2.pgm", "back3.pgm", "upside.pgm", "back1.pgm", "lid.pgm"}, all,
                "page.jpg", "10", "dialog 148\nok\n");
  ASSERT_EQ(jpeg.exitCode, 0) << jpeg.log << jpeg.transcript;
  EXPECT_TRUE(fs::exists(Out("page.jpg")));
  EXPECT_TRUE(fs::exists(Out("page2.jpg")));
  EXPECT_TRUE(fs::exists(Out("page3.jpg")));
  EXPECT_FALSE(fs::exists(Out("page4.jpg"))) << jpeg.log;
  EXPECT_LT(Difference("page.jpg", "front1.pgm"), 0.03);
  EXPECT_LT(Difference("page2.jpg", "front3.pgm"), 0.03);
  EXPECT_EQ(Output("identify -format '%wx%h' " + Quote(Out("page3.jpg").string())), "1165x1570");

  // A batch of nothing but blank pages is the job's failure box, and no file.
  const RunResult backs =
      ScanBatch({"back1.pgm", "back2.pgm", "back3.pgm"}, all, "backs.tif", "17", "msgbox OK\n");
  EXPECT_FALSE(fs::exists(Out("backs.tif"))) << backs.log;
  EXPECT_TRUE(Has(backs.log, "All 3 scanned page(s) were blank")) << backs.log;
  EXPECT_TRUE(Has(backs.transcript, "Every scanned page was blank, so nothing was saved."))
      << backs.transcript;
}

TEST_F(PageCleanupRoadTest, OffByDefault) {
  Draw("front.pgm", 3);
  Convert("front.pgm", "-background white -rotate 3 -gravity center -extent 1275x1650", "skewed.pgm");
  Convert("front.pgm", "-fill white -draw 'rectangle 0,0 2000,2000' -attenuate 0.5 +noise Gaussian",
          "blank.pgm");
  // Nothing asked: the skewed page stays as scanned and the blank one is kept.
  RunResult run = ScanPage("skewed.pgm", {}, "skewed.tif");
  ASSERT_EQ(run.exitCode, 0) << run.log;
  EXPECT_LT(Difference("skewed.tif", "skewed.pgm"), 0.02);
  EXPECT_FALSE(Has(run.log, "Page 1"));
  run = ScanPage("blank.pgm", {}, "blank.tif");
  ASSERT_EQ(run.exitCode, 0) << run.log;
  EXPECT_TRUE(fs::exists(Out("blank.tif")));
}

}  // namespace
