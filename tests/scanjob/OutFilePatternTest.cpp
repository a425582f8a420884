// "OutFile" placeholders: the expansion on its own at a fixed time (every placeholder, the counter's
// width and its choice of the first free number for every name of the job, what stays literal), and
// whole runs of marlin3 that land on the counted names beside files already there.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "log/DebugTrace.h"
#include "scan/OutFilePattern.h"
#include "tests/common/ProductRun.h"

namespace fs = std::filesystem;

namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::string Expand(const std::string& outFile, size_t files, const std::set<std::string>& taken,
                   const std::string& ext = "pdf") {
  DebugTrace trace("OutFilePatternTest", __FILE__);
  return scanjob::ExpandOutFile(
      outFile, At(2026, 3, 7, 9, 5, 2), files, ext,
      [&](const std::string& name) { return taken.count(name) != 0; }, trace);
}

TEST(OutFilePattern, PlaceholdersCounterWidthsAndWhatStaysLiteral) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"/s/Scan $(YYYY)-$(MM)-$(DD) $(hh)$(mm)$(ss).pdf", "/s/Scan 2026-03-07 090502.pdf"},
      {"/s/$(YY)$(MM)$(DD)_$(n).jpg", "/s/260307_1.jpg"},
      {"/s/page $(nnn)", "/s/page 001"},
      {"plain.pdf", "plain.pdf"},
      // Only the file name is expanded: a folder keeps its text, so nothing can lead elsewhere.
      {"/s/$(YYYY)/x $(DD).pdf", "/s/$(YYYY)/x 07.pdf"},
      // Unknown, empty, unterminated and over-long counters stay as they are.
      {"/s/a$(X)b $(YYYYY) $() $(nnnnnn) $(DD.pdf", "/s/a$(X)b $(YYYYY) $() $(nnnnnn) $(DD.pdf"},
      {"/s/$$(DD)$(DD))", "/s/$0707)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.in, 1, {}), c.out) << c.in;
}

TEST(OutFilePattern, TheCounterIsTheFirstNumberThatLeavesEveryNameOfTheJobFree) {
  // One file (a multi-page type): the first free name.
  EXPECT_EQ(Expand("/s/R $(n).pdf", 1, {"/s/R 1.pdf", "/s/R 2.pdf"}), "/s/R 3.pdf");
  // Three files of a single-page type are named R 1.jpg, R 12.jpg, R 13.jpg: a later name taken
  // moves the counter on too.
  EXPECT_EQ(Expand("/s/R $(n).jpg", 3, {"/s/R 13.jpg"}, "jpg"), "/s/R 2.jpg");
  // A name without an extension is checked with the type's.
  EXPECT_EQ(Expand("/s/R$(nn)", 1, {"/s/R01.tif"}, "tif"), "/s/R02");
  // Two counters count together.
  EXPECT_EQ(Expand("/s/$(n)-$(nn).pdf", 1, {"/s/1-01.pdf"}), "/s/2-02.pdf");
}

class OutFileRunTest : public product_run::ProductRun {};

std::string Today() {
  const std::tm now = scanjob::LocalNow();
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &now);
  return text;
}

TEST_F(OutFileRunTest, CountedNamesOfMultiPageAndSinglePageTypesLandBesideExistingFiles) {
  // A PDF (one file for the batch) where "Report 1.pdf" is taken: it stays, the scan is "Report 2.pdf".
  std::ofstream(Out("Report 1.pdf")) << "mine";
  const std::string day = Today();
  product_run::RunResult run =
      RunMarlin({"/Task", "3", "/Hide", "286331153", "/Res", "50", "/InX", "2880", "/InY", "2880", "/Type",
                 "146", "/OutFile", Out("Report $(n).pdf").string()},
                "");
  EXPECT_EQ(run.exitCode, 0) << run.log;
  EXPECT_EQ(product_run::ReadFile(Out("Report 1.pdf")), "mine");
  EXPECT_EQ(product_run::PdfPages(Out("Report 2.pdf")), 1) << run.log;

  // Ten JPEG pages from the feeder under a dated, counted name whose first counter is half taken.
  const std::string stem = "Scan " + day + " ";
  std::ofstream(Out(stem + "013.jpg")) << "mine";
  run = RunMarlin({"/Task", "3", "/Hide", "4097", "/Type", "10", "/OutFile",
                   Out("Scan $(YYYY)-$(MM)-$(DD) $(nn).jpg").string()},
                  "dialog 160\nselect 1603 Automatic Document Feeder\nselect 1602 75\nclick 1\n"
                  "dialog 148\nclick 1057\nok\n");
  EXPECT_EQ(run.exitCode, 0) << run.log << run.transcript;
  EXPECT_TRUE(fs::exists(Out(stem + "02.jpg"))) << run.log;
  for (int i = 2; i <= 10; ++i) EXPECT_TRUE(fs::exists(Out(stem + "02" + std::to_string(i) + ".jpg"))) << i;
  EXPECT_FALSE(fs::exists(Out(stem + "01.jpg")));
  EXPECT_EQ(product_run::ReadFile(Out(stem + "013.jpg")), "mine");
}

}  // namespace
