// TwainScan through the real toolkit and SANE's test backend (configured per child through
// SANE_CONFIG_DIR in its scratch folder: dll.conf naming only "test"), on the scripted host for the
// source choice and the more-pages question. Pages are read back by ImageMagick and pdfinfo. The
// bottom trim runs in process on pages made to measure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxPageAlloc.h"
#include "scan/TwainScan.h"
#include "tests/scan/ScanChild.h"
#include "tests/scan/ToolOracle.h"

namespace fs = std::filesystem;

namespace {

// "WxH" of identify's answer is the size asked for, give or take the one pixel that millimetre
// rounding in SANE may cost.
testing::AssertionResult About(const std::string& got, int width, int height) {
  int w = 0, h = 0;
  if (std::sscanf(got.c_str(), "%dx%d", &w, &h) == 2 && std::abs(w - width) <= 1 && std::abs(h - height) <= 1)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << got << " is not about " << width << "x" << height;
}

class TwainScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_child = std::make_unique<ScanChild>("scan");
    const fs::path& dir = m_child->Dir();
    std::ofstream(dir / "dll.conf") << "test\n";
    Configure("\"Solid black\"");
    m_child->SetEnv("SANE_CONFIG_DIR='" + dir.string() + "'");
    Sources({{"NX Flatbed TWAIN", "test:0"}});
  }
  void Configure(const std::string& picture) {
    std::ofstream(m_child->Dir() / "test.conf")
        << "number_of_devices 2\ngeometry_max 300.0\ngeometry_quant 0.0\nbr_x 300.0\nbr_y 300.0\n"
        << "test-picture " << picture << "\n";
  }
  void Sources(const std::vector<std::pair<std::string, std::string>>& table) {
    std::ofstream out(m_child->Dir() / "sources.txt");
    for (const auto& [name, device] : table) out << name << "=" << device << "\n";
  }
  std::string F(const std::string& name) const { return (m_child->Dir() / name).string(); }
  std::string Log() const { return ScanChild::Read(m_child->Dir() / "nxDebug.log"); }

  // One inch square at 50 dpi unless asked otherwise; mode 0 acquires without any window.
  int Scan(const std::string& first, const std::string& source, int type, bool ask, const std::string& script,
           std::string& out, const std::string& size = "8 50 1440 1440", int mode = 0) {
    std::string transcript;
    const int rc = m_child->Run(std::to_string(mode) + " " + std::to_string(type) + " '" + first + "' '" +
                                    source + "' " + (ask ? "1 " : "0 ") + size,
                                script, out, transcript);
    m_transcript = transcript;
    if (::testing::Test::HasFailure()) std::fprintf(stderr, "%s\n%s\n", transcript.c_str(), Log().c_str());
    return rc;
  }

  std::unique_ptr<ScanChild> m_child;
  std::string m_transcript;
};

TEST_F(TwainScanTest, OnlyQualifyingSourcesAndTheOneThatIsUsedWhateverWasAsked) {
  Sources({{"WIA-NX Scanner", "test:0"}, {"NX Flatbed TWAIN", "test:1"}, {"nX Device", "test:0"}});
  std::string out;
  ASSERT_EQ(Scan(F("a.jpg"), "Something Else", 10, false, "", out), 0) << m_transcript;
  EXPECT_EQ(out, "result=0\npages=1\nfile=" + F("a.jpg") + "\n") << Log();
  const std::string log = Log();
  EXPECT_NE(log.find("Ignoring WIA or non-NX source: WIA-NX Scanner"), std::string::npos) << log;
  EXPECT_NE(log.find("Ignoring WIA or non-NX source: nX Device"), std::string::npos);
  EXPECT_NE(log.find("Found and adding Source: NX Flatbed TWAIN"), std::string::npos);
  EXPECT_NE(log.find("Only one src, using it: NX Flatbed TWAIN"), std::string::npos);
  EXPECT_NE(log.find("Using source 'NX Flatbed TWAIN'"), std::string::npos);
  // 1 inch at 50 dpi, 8 bits: the request's area, resolution and depth reached the device.
  const std::string shape = RunTool("identify -format '%wx%h %[colorspace]' " + Quote(F("a.jpg")));
  EXPECT_TRUE(About(shape, 50, 50));
  EXPECT_NE(shape.find(" Gray"), std::string::npos) << shape;
}

TEST_F(TwainScanTest, ChoiceWhenTheRequestedSourceIsMissing) {
  Sources({{"NX Flatbed", "test:0"}, {"NX Feeder", "test:1"}});
  std::string out;
  // OK without a selection keeps the dialog open; then the user picks one.
  ASSERT_EQ(
      Scan(F("a.png"), "NX Gone", 75, false, "dialog 143\nok\nmsgbox OK\nselect 148 NX Feeder\nok\n", out), 0)
      << m_transcript;
  EXPECT_EQ(out.substr(0, 17), "result=0\npages=1\n");
  EXPECT_NE(m_transcript.find("148 list count=2 sel=-1"), std::string::npos) << m_transcript;
  EXPECT_NE(Log().find("Using customer's choice: NX Feeder"), std::string::npos);

  ASSERT_EQ(Scan(F("a.png"), "NX Gone", 75, false, "dialog 143\ncancel\n", out), 0) << m_transcript;
  EXPECT_EQ(out, "result=6\npages=0\nfile=" + F("a.png") + "\n");
  EXPECT_NE(Log().find("user canceled from scanner selection dialog"), std::string::npos);

  // The requested one exists: no dialog (an empty script would fail the child).
  ASSERT_EQ(Scan(F("a.png"), "NX Feeder", 75, false, "", out), 0) << m_transcript;
  EXPECT_NE(Log().find("Using passed in src: NX Feeder"), std::string::npos);
}

TEST_F(TwainScanTest, SinglePageTypeNamesEveryPage) {
  Configure("\"Color pattern\"");
  std::ofstream(F("a.jpg")) << "older scan";
  std::string out;
  ASSERT_EQ(Scan(F("a.jpg"), "NX Flatbed TWAIN", 10, true, "msgbox YES\nmsgbox YES\nmsgbox NO\n", out,
                 "24 50 1440 720"),
            0)
      << m_transcript;
  EXPECT_EQ(out, "result=0\npages=3\nfile=" + F("a.jpg") + "\nfile=" + F("a1.jpg") + "\nfile=" + F("a2.jpg") +
                     "\n");
  for (const char* name : {"a.jpg", "a1.jpg", "a2.jpg"}) {
    const std::string shape = RunTool("identify -format '%wx%h %[colorspace]' " + Quote(F(name)));
    EXPECT_TRUE(About(shape, 50, 25)) << name;
    EXPECT_NE(shape.find(" sRGB"), std::string::npos) << shape;
  }
  EXPECT_NE(Log().find("'" + F("a.jpg") + "' already exists, deleting"), std::string::npos);
}

TEST_F(TwainScanTest, MultiPageTypesGoIntoTheFirstFile) {
  std::ofstream(F("s.tif")) << "older scan";
  std::string out;
  ASSERT_EQ(Scan(F("s.tif"), "NX Flatbed TWAIN", 3, true, "msgbox YES\nmsgbox NO\n", out, "1 50 1440 1440"),
            0)
      << m_transcript;
  EXPECT_EQ(out, "result=0\npages=2\nfile=" + F("s.tif") + "\n");
  const std::string sizes = Sizes(F("s.tif"));
  ASSERT_EQ(std::count(sizes.begin(), sizes.end(), '\n'), 2) << sizes;
  EXPECT_TRUE(About(sizes, 50, 50));
  EXPECT_TRUE(About(sizes.substr(sizes.find('\n') + 1), 50, 50));
  const std::string log = Log();
  const size_t first = log.find("already exists, deleting");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("already exists, deleting", first + 1), std::string::npos)
      << "deleted before page 1 only";

  // 146 with 1-bit pages becomes the bilevel PDF; No after the first acquisition ends with 0.
  ASSERT_EQ(Scan(F("s.pdf"), "NX Flatbed TWAIN", 146, true, "msgbox NO\n", out, "1 50 1440 1440"), 0);
  EXPECT_EQ(out, "result=0\npages=1\nfile=" + F("s.pdf") + "\n");
  EXPECT_EQ(PdfPages(F("s.pdf")), 1);
}

TEST_F(TwainScanTest, ModesChooseTheSourceDialog) {
  // Modes 2 and 3 show the source's own dialog (acquire flags 1 and 3); 0 and 1 do not (4 and 2), and
  // their empty script would fail the child if a dialog opened.
  const struct {
    int mode;
    const char* script;
  } cases[] = {{0, ""}, {1, ""}, {2, "dialog 160\nok\n"}, {3, "dialog 160\nok\n"}};
  for (const auto& c : cases) {
    std::string out;
    ASSERT_EQ(Scan(F("m.jpg"), "NX Flatbed TWAIN", 10, false, c.script, out, "8 50 1440 1440", c.mode), 0)
        << c.mode << m_transcript;
    EXPECT_EQ(out.substr(0, 17), "result=0\npages=1\n") << c.mode;
  }
}

TEST_F(TwainScanTest, CancelAndFailures) {
  std::string out;
  // Mode 2 shows the source's own dialog; Cancel there is the user's cancel.
  ASSERT_EQ(Scan(F("c.jpg"), "NX Flatbed TWAIN", 10, false, "dialog 160\ncancel\n", out, "8 50 1440 1440", 2),
            0)
      << m_transcript;
  EXPECT_EQ(out.substr(0, 17), "result=6\npages=0\n");
  EXPECT_NE(Log().find("Got user cancel"), std::string::npos);
  EXPECT_FALSE(fs::exists(F("c.jpg")));

  // A page that cannot be written (no such folder) is a failed acquisition, not a success.
  ASSERT_EQ(Scan(F("none/c.jpg"), "NX Flatbed TWAIN", 10, false, "", out), 0) << m_transcript;
  EXPECT_EQ(out.substr(0, 17), "result=5\npages=0\n");
  EXPECT_NE(Log().find("->Failed to write to " + F("none/c.jpg") + " (error"), std::string::npos) << Log();
  EXPECT_NE(Log().find("Aquire returned a failure"), std::string::npos);

  // A source whose device is gone: the properties cannot be set.
  Sources({{"NX Ghost", "test:9"}});
  ASSERT_EQ(Scan(F("c.jpg"), "NX Ghost", 10, false, "", out), 0) << m_transcript;
  EXPECT_EQ(out.substr(0, 17), "result=4\npages=0\n");
  EXPECT_NE(Log().find("->SetProperties failed (error -42)"), std::string::npos) << Log();
  EXPECT_NE(Log().find("The scanner 'NX Ghost' is not there or would not open (the device would not open: "
                       "sane_open(test:9)"),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("Scan> Trouble setting up parameters"), std::string::npos);

  // No qualifying source at all: the dialog opens empty; OK cannot choose, Cancel ends.
  Sources({});
  ASSERT_EQ(Scan(F("c.jpg"), "NX Flatbed TWAIN", 10, false, "dialog 143\ncancel\n", out), 0) << m_transcript;
  EXPECT_EQ(out.substr(0, 17), "result=6\npages=0\n");
}

// A white page of width x height at the given depth whose rows from blackFrom down are black, and
// whose last column is black from blackColumnFrom down.
PxPage* MakePage(int bits, int width, int height, int blackFrom, int blackColumnFrom) {
  PxPage* page = PxPageAlloc(width, height, bits);
  if (page == nullptr) return nullptr;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = page->pixels + static_cast<size_t>(y) * page->stride;
    std::memset(row, 0xFF, static_cast<size_t>(page->stride));
    auto black = [&](int x) {
      if (bits == 1)
        row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
      else
        std::memset(row + x * (bits / 8), 0, static_cast<size_t>(bits / 8));
    };
    if (y >= blackFrom)
      for (int x = 0; x < width; ++x) black(x);
    if (y >= blackColumnFrom) black(width - 1);
  }
  return page;
}

TEST(TwainScanTrimTest, BlackBandAtTheBottom) {
  const struct {
    const char* name;
    int blackFrom, columnFrom;
    int height;  // after the trim
  } cases[] = {
      {"lowest 100 rows black", 200, 200, 200},
      {"only the last row black", 299, 299, 300},
      {"no black", 300, 300, 300},
      {"last column black lower, rows not", 300, 100, 300},
      {"column black above the band", 250, 150, 250},
      {"whole last column black, band at the bottom", 250, 0, 300},
      {"all black", 0, 0, 300},
  };
  for (int bits : {1, 8, 24}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(bits) + " bits");
      PxBitmapBase bitmap;
      PxPage* page = MakePage(bits, 123, 300, c.blackFrom, c.columnFrom);
      ASSERT_NE(page, nullptr);
      bitmap.AttachPage(page);
      TwainScan::TrimBlackBottom(bitmap);
      EXPECT_EQ(bitmap.GetHeight(), c.height);
      EXPECT_EQ(bitmap.GetWidth(), 123);
    }
  }
  PxBitmapBase empty;
  EXPECT_FALSE(TwainScan::TrimBlackBottom(empty));
  PxBitmapBase oneRow;
  oneRow.AttachPage(MakePage(8, 10, 1, 0, 0));
  EXPECT_FALSE(TwainScan::TrimBlackBottom(oneRow));
}

}  // namespace
