// OcrPages and FileConvert's searchable PDF through the real toolkit and Tesseract: pages drawn by
// ImageMagick with known words, the output read back by pdftotext and pdfinfo.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "log/DebugTrace.h"
#include "pxclass/PxBase.h"
#include "pxclass/PxFileTypes.h"
#include "scan/FileConvert.h"
#include "scan/OcrPages.h"
#include "settings/SettingsSchema.h"
#include "tests/scan/ScratchTest.h"
#include "tests/scan/ToolOracle.h"

namespace fs = std::filesystem;

namespace {

bool OcrLibraryMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("libpxocr.so") != std::string::npos) return true;
  return false;
}

class OcrPagesTest : public ScratchTest {
 protected:
  OcrPagesTest() : ScratchTest("m3ocr-") {}
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_EQ(PxBase::LoadLibraries(PxBase::PX_KRN | PxBase::PX_FIL) & PxBase::PX_FIL, PxBase::PX_FIL);
  }
  // A grey page at 200 dpi with one line of words per entry (none: a blank page).
  std::string Page(const std::string& name, const std::vector<std::string>& lines) {
    std::string args = "convert -size 1000x" + std::to_string(100 + 100 * lines.size()) +
                       " xc:white -font DejaVu-Sans -pointsize 36 -fill black";
    for (size_t i = 0; i < lines.size(); ++i)
      args += " -annotate +40+" + std::to_string(90 + 100 * i) + " " + Quote(lines[i]);
    args += " -density 200 -units PixelsPerInch -type Grayscale -depth 8 " + Quote(P(name));
    EXPECT_EQ(std::system(args.c_str()), 0) << args;
    return P(name);
  }
  static std::string Text(const std::string& pdf) {
    return RunTool("pdftotext -layout " + Quote(pdf) + " -");
  }
};

// Pages are recognised on two workers but saved in the order they came, each with its own words; the
// library is mapped only once OCR starts; a blank page is a page without text, not a failure.
TEST_F(OcrPagesTest, ConversionMakesEachPageSearchableInOrder) {
  const std::vector<std::string> inputs = {
      Page("one.png", {"Harbour ledger seventeen"}),
      Page("two.png", {}),
      Page("three.png", {"Copper kettle invoice"}),
  };
  auto convert = [&](const std::string& out, OcrPages* ocr) {
    std::vector<std::string> outputs{P(out)};
    std::vector<std::string> in = inputs;
    ConvertRequest request(outputs, in);
    request.nType = PX_TYPE_PDF;
    request.pOcr = ocr;
    FileConvert converter;
    return converter.Convert(request);
  };
  ASSERT_EQ(convert("plain.pdf", nullptr), 0);
  EXPECT_FALSE(OcrLibraryMapped()) << "a conversion without OCR maps the OCR library";
  EXPECT_EQ(Text(P("plain.pdf")).find("Harbour"), std::string::npos);

  OcrPages ocr("eng", 2);
  std::string error;
  ASSERT_TRUE(ocr.Start(error)) << error;
  EXPECT_TRUE(OcrLibraryMapped());
  ASSERT_EQ(convert("text.pdf", &ocr), 0) << Log();
  EXPECT_EQ(ocr.PagesWithText(), 3);
  EXPECT_EQ(PdfPages(P("text.pdf")), 3);
  const std::string text = Text(P("text.pdf"));
  const size_t first = text.find("Harbour ledger seventeen");
  const size_t second = text.find("Copper kettle invoice");
  ASSERT_NE(first, std::string::npos) << text;
  ASSERT_NE(second, std::string::npos) << text;
  EXPECT_LT(first, second);
  // The blank page sits between them: pdftotext separates pages with a form feed.
  EXPECT_EQ(std::count(text.begin() + first, text.begin() + second, '\f'), 2) << text;
  // The images are the same bytes as without OCR: the same page sizes, read back the same.
  EXPECT_EQ(RunTool("pdfimages -list " + Quote(P("text.pdf")) + " | tail -n +3 | cut -c1-60"),
            RunTool("pdfimages -list " + Quote(P("plain.pdf")) + " | tail -n +3 | cut -c1-60"));
}

TEST_F(OcrPagesTest, LanguagesAreCheckedBeforeAnyPage) {
  std::string languages;
  for (const char* bad : {"../eng", "eng deu", "eng+", "+eng", "e\"ng", "eng;rm"})
    EXPECT_FALSE(OcrPages::ParseLanguages(bad, languages)) << bad;
  ASSERT_TRUE(OcrPages::ParseLanguages("  deu+eng ", languages));
  EXPECT_EQ(languages, "deu+eng");
  ASSERT_TRUE(OcrPages::ParseLanguages("", languages));
  EXPECT_EQ(languages, "");
  // Shown by their own names; a name the table lacks as it is.
  EXPECT_EQ(OcrPages::LanguageTitle("deu+eng"), "Deutsch + English");
  EXPECT_EQ(OcrPages::LanguageTitle("chi_sim+equ"), "简体中文 + equ");

  OcrPages missing("eng+zz_q");
  std::string error;
  EXPECT_FALSE(missing.Start(error));
  EXPECT_EQ(error, "the OCR language \"zz_q\" is not installed (install the package tesseract-ocr-zz-q)");

  // Through the setting: a missing language fails before anything is made; a type without text is off.
  bool failed = false;
  EXPECT_EQ(OcrPages::ForOutput("zz", PX_TYPE_PDF, settings::kHideAll, failed), nullptr);
  EXPECT_TRUE(failed);
  EXPECT_NE(Log().find("OCR cannot start: the OCR language \"zz\" is not installed (install the package "
                       "tesseract-ocr-zz)"),
            std::string::npos)
      << Log();
  EXPECT_EQ(OcrPages::ForOutput("eng", PX_TYPE_TIFF_PACKED, settings::kHideAll, failed), nullptr);
  EXPECT_FALSE(failed);
  EXPECT_NE(Log().find("Ocr 'eng' ignored: file type 17 is not PDF"), std::string::npos) << Log();
  EXPECT_EQ(OcrPages::ForOutput(" ", PX_TYPE_PDF, settings::kHideAll, failed), nullptr);
  EXPECT_FALSE(failed);
}

// Cancel stops the recognition under way; the page is still saved (its image kept), without text, and
// the result says the text is missing.
TEST_F(OcrPagesTest, CancelReachesTheRecognitionAndKeepsThePage) {
  std::vector<std::string> lines(12, "Lengthy paragraph of text keeps the engine busy for a while");
  PxBitmapBase page;
  ASSERT_EQ(page.Load(Page("long.png", lines).c_str(), 0, PX_COLOUR_ORDER_RGB, 1), 1);
  OcrPages ocr("eng", 1);
  std::string error;
  ASSERT_TRUE(ocr.Start(error)) << error;
  ASSERT_EQ(ocr.Add(page, P("cancelled.pdf"), PX_TYPE_PDF_GREY, 80, 3, 1), 1);
  EXPECT_FALSE(page.IsAllocated());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ocr.Cancel();
  EXPECT_FALSE(ocr.Finish(error));
  EXPECT_EQ(error, "OCR cancelled");
  EXPECT_EQ(ocr.PagesWithText(), 0);
  EXPECT_EQ(PdfPages(P("cancelled.pdf")), 1);
  EXPECT_EQ(Text(P("cancelled.pdf")).find("paragraph"), std::string::npos);
  EXPECT_NE(Log().find("Page 1 of " + P("cancelled.pdf") + " saved without text: OCR cancelled"),
            std::string::npos)
      << Log();
}

}  // namespace
