// Page cleanup on the real road: pages drawn by ImageMagick are scanned by SANE's pnm backend through
// marlin3 into a multi-page TIFF, read back and compared by ImageMagick. The backend reads the fixed
// file /tmp/input.ppm: marlin3 runs in a private mount namespace whose own /tmp holds that name as a
// link to a named pipe of the test's folder, fed one page per scan by feed_pages.py (a feeder).
#include <gtest/gtest.h>
#include <sys/stat.h>

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
    ASSERT_EQ(0, mkfifo((m_dir / "feed.pnm").c_str(), 0600));
  }

  // A letter page at 150 dpi with `repeats` paragraphs of text, as `name` (PGM), after `ops`.
  void Draw(const std::string& name, int repeats, const std::string& ops = "") const {
    std::string text;
    for (int i = 0; i < repeats; ++i) text += kText;
    Output("convert -size 1050x1350 -density 150 -units PixelsPerInch -font DejaVu-Serif -pointsize 11 "
           "-background white caption:" +
           Quote(text) + " -gravity center -extent 1275x1650 " + ops + " -colorspace Gray -depth 8 " +
           Quote((m_dir / name).string()));
  }
  void Convert(const std::string& from, const std::string& ops, const std::string& to) const {
    Output("convert " + Quote((m_dir / from).string()) + " " + ops + " -colorspace Gray -depth 8 " +
           Quote((m_dir / to).string()));
  }

  // Scans the pages one per acquisition, answering "another page?" until the last.
  RunResult ScanBatch(const std::vector<std::string>& pages, const std::vector<std::string>& values,
                      std::string& fed, const std::string& after = "") {
    std::string feeder = "python3 " + Quote(std::string(MARLIN3_SOURCE_DIR) + "/tests/page_cleanup/feed_pages.py") +
                         " " + Quote((m_dir / "feed.pnm").string());
    for (const std::string& page : pages) feeder += " " + Quote((m_dir / page).string());
    FILE* feed = popen(feeder.c_str(), "r");
    std::string script = "dialog 102\nclick 1048\n";
    for (size_t i = 1; i < pages.size(); ++i) script += "msgbox YES\n";
    script += "msgbox NO\n" + after;
    std::ofstream(m_dir / "script.txt") << script;
    // Hide: the scanner's dialog and the progress window (0x110); the Quick Set's settings apply.
    std::string command = "unshare -m --propagation private sh -c " +
                          Quote("exec 3<\"$0\" && mount -t tmpfs -o mode=1777 tmpfs /tmp && mkdir -p \"$0\" && "
                                "mount -c --bind /proc/self/fd/3 \"$0\" && exec 3<&- && "
                                "ln -s \"$0/feed.pnm\" /tmp/input.ppm && exec \"$@\"") +
                          " " + Quote(m_dir.string()) + " timeout -k 5 180 " + Bin("marlin3") +
                          " /Task 3 /Hide 272 /Res 150 /BitDepth 8 /Type 17 /OutFile " +
                          Quote(Out("batch.tif").string());
    for (const std::string& v : values) command += " " + Quote(v);
    RunResult run;
    run.exitCode = Shell(command);
    run.log = product_run::ReadFile(m_dir / "tmp" / "marlin3.log");
    run.transcript = product_run::ReadFile(m_dir / "transcript.txt");
    fed.clear();
    if (feed) {
      char buf[64];
      while (fgets(buf, sizeof buf, feed)) fed += buf;
      pclose(feed);
    }
    return run;
  }

  // ImageMagick's normalised RMSE between page `index` of the scan, scaled to the truth's size, and
  // the truth, both at a quarter size (what a turn's interpolation leaves is far below it).
  double Difference(int index, const std::string& truth) const {
    const std::string size = Output("identify -format '%wx%h' " + Quote((m_dir / truth).string()));
    const std::string text = Output(
        "convert " + Quote(Out("batch.tif").string() + "[" + std::to_string(index) + "]") + " -resize " + size +
        "! -resize 25% " + Quote((m_dir / "a.pgm").string()) + " && convert " + Quote((m_dir / truth).string()) +
        " -resize 25% " + Quote((m_dir / "b.pgm").string()) + " && compare -metric RMSE " +
        Quote((m_dir / "a.pgm").string()) + " " + Quote((m_dir / "b.pgm").string()) + " null: 2>&1");
    const size_t open = text.find('(');
    return open == std::string::npos ? 1.0 : std::atof(text.c_str() + open + 1);
  }
};

TEST_F(PageCleanupRoadTest, FeederBatchComesOutUprightStraightCroppedWithoutBlankBacks) {
  // Fronts: upright; skewed 3 degrees; upside down; in an open lid's black border. Backs: blank paper
  // with noise, the front's text bleeding through, light grey paper.
  Draw("front1.pgm", 7);
  Draw("front2.pgm", 4);
  Draw("front3.pgm", 2);
  Draw("front4.pgm", 5);
  Convert("front2.pgm", "-background white -rotate 3 -gravity center -extent 1275x1650", "skewed.pgm");
  Convert("front3.pgm", "-rotate 180", "upside.pgm");
  // Paper 1165 x 1570 with black margins of 40 (left), 25 (top), 70 (right), 55 (bottom).
  Convert("front4.pgm", "-resize 1165x1570! -background black -gravity northwest -splice 40x25 "
                        "-gravity southeast -splice 70x55", "lid.pgm");
  Convert("front4.pgm", "-resize 1165x1570!", "paper4.pgm");
  Convert("front1.pgm", "-fill white -draw 'rectangle 0,0 2000,2000' -attenuate 0.5 +noise Gaussian",
          "back1.pgm");
  Convert("front2.pgm", "-flop +level 75%,100% -blur 0x1", "back2.pgm");
  Convert("front1.pgm", "-fill grey80 -draw 'rectangle 0,0 2000,2000'", "back3.pgm");
  Convert("front1.pgm", "-fill white -draw 'rectangle 0,0 2000,2000'", "back4.pgm");

  std::string fed;
  const RunResult run =
      ScanBatch({"front1.pgm", "back1.pgm", "skewed.pgm", "back2.pgm", "upside.pgm", "back3.pgm", "lid.pgm",
                 "back4.pgm"},
                {"/SkipBlank", "1", "/Deskew", "1", "/Upright", "1", "/CropBorder", "1"}, fed);
  ASSERT_EQ(run.exitCode, 0) << run.log << run.transcript;
  EXPECT_EQ(fed, "8\n");
  const std::string pages = Output("identify -format '%wx%h\\n' " + Quote(Out("batch.tif").string()));
  ASSERT_EQ(pages, "1275x1650\n1275x1650\n1275x1650\n1165x1570\n") << run.log;
  // Each page is its own front as it was drawn (and no other).
  const char* truths[] = {"front1.pgm", "front2.pgm", "front3.pgm", "paper4.pgm"};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      const double d = Difference(i, truths[j]);
      if (i == j)
        EXPECT_LT(d, 0.06) << "page " << i + 1;
      else
        EXPECT_GT(d, 0.09) << "page " << i + 1 << " against " << truths[j];
    }
  EXPECT_TRUE(Has(run.log, "Page 2 is blank")) << run.log;
  EXPECT_TRUE(Has(run.log, "Page 3 straightened by -3.0")) << run.log;
  EXPECT_TRUE(Has(run.log, "Page 5 turned 180 degrees upright")) << run.log;
  EXPECT_TRUE(Has(run.log, "Page 7 cut to the paper: 40,25 to 1205,1595")) << run.log;
}

TEST_F(PageCleanupRoadTest, OffByDefaultAndAllBlankIsAMessageNotAFile) {
  Draw("front.pgm", 3);
  Convert("front.pgm", "-background white -rotate 3 -gravity center -extent 1275x1650", "skewed.pgm");
  Convert("front.pgm", "-fill white -draw 'rectangle 0,0 2000,2000' -attenuate 0.5 +noise Gaussian", "blank.pgm");
  std::string fed;
  // Nothing asked: the blank page is kept and the skewed one stays as scanned.
  RunResult run = ScanBatch({"skewed.pgm", "blank.pgm"}, {}, fed);
  ASSERT_EQ(run.exitCode, 0) << run.log;
  EXPECT_EQ(Output("identify -format '%wx%h\\n' " + Quote(Out("batch.tif").string())), "1275x1650\n1275x1650\n");
  EXPECT_LT(Difference(0, "skewed.pgm"), 0.02);
  EXPECT_FALSE(Has(run.log, "Page cleanup"));
  fs::remove(Out("batch.tif"));

  // Every page blank: the job's failure box says so and no file is made.
  run = ScanBatch({"blank.pgm", "blank.pgm"}, {"/SkipBlank", "1"}, fed, "msgbox OK\n");
  EXPECT_FALSE(fs::exists(Out("batch.tif"))) << run.log;
  EXPECT_TRUE(Has(run.log, "All 2 scanned page(s) were blank")) << run.log;
  EXPECT_TRUE(Has(run.transcript, "Every scanned page was blank, so nothing was saved.")) << run.transcript;
}

}  // namespace
