// The OCR library and the PDF text layer on real pages drawn by ImageMagick, read back by poppler.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pxclass/PxError.h"
#include "pxclass/PxFileTypes.h"
#include "pxfile/PxFileApi.h"
#include "pxocr/PxOcrApi.h"
#include "tests/common/Shell.h"

namespace {

constexpr auto Shell = &test_common::Output;

class OcrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ocrtestXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override { Shell("rm -rf '" + m_dir + "'"); }
  // Two lines of text at 300 dpi, turned clockwise by `rotate` degrees.
  PxPage* TextPage(int rotate, const char* extra = "") {
    const std::string png = m_dir + "/page" + std::to_string(rotate) + ".png";
    Shell(
        "convert -size 1500x -font DejaVu-Serif -pointsize 40 caption:'Quarterly sales rose in every region "
        "except the north where parts arrived late.' -background white -gravity center -extent 1700x600 " +
        std::string(extra) + " -rotate " + std::to_string(rotate) +
        " -units PixelsPerInch -density 300 -colorspace Gray -depth 8 '" + png + "'");
    PxPage* page = nullptr;
    EXPECT_EQ(PxfLoadPage(png.c_str(), 1, &page), PX_OK);
    return page;
  }
  std::string m_dir;
};

const std::vector<std::string> kWords = {"Quarterly", "sales",   "rose", "in",    "every",
                                         "region",    "except",  "the",  "north", "where",
                                         "parts",     "arrived", "late."};

std::vector<std::string> Words(const PxOcrText* t) {
  std::vector<std::string> out;
  for (int i = 0; i < t->lineCount; ++i)
    for (int j = 0; j < t->lines[i].wordCount; ++j) out.push_back(t->lines[i].words[j].text);
  return out;
}

TEST_F(OcrTest, TextLayerPutsEachWordOnItsBoxInOrderWithSpaces) {
  PxPage* page = TextPage(0);
  ASSERT_NE(page, nullptr);
  PxOcrText* text = nullptr;
  char message[256];
  ASSERT_EQ(PxOcrRecognize(page, "eng", nullptr, nullptr, &text, message, sizeof message), PX_OK) << message;
  ASSERT_EQ(Words(text), kWords);
  EXPECT_EQ(text->orientation, 0);
  const std::string pdf = m_dir + "/out.pdf", plain = m_dir + "/plain.pdf";
  ASSERT_EQ(PxfSavePageText(page, pdf.c_str(), PX_TYPE_PDF_GREY, 80, 0, 1, text), PX_OK);
  ASSERT_EQ(PxfSavePageText(page, plain.c_str(), PX_TYPE_PDF_GREY, 80, 0, 1, nullptr), PX_OK);

  // pdftotext -bbox: the words in reading order, each inside (a few pixels of) its recognised box.
  std::istringstream bbox(Shell("pdftotext -bbox '" + pdf + "' -"));
  std::string line;
  size_t n = 0;
  const double px = 300.0 / 72;
  std::vector<const PxOcrWord*> boxes;
  for (int i = 0; i < text->lineCount; ++i)
    for (int j = 0; j < text->lines[i].wordCount; ++j) boxes.push_back(&text->lines[i].words[j]);
  while (std::getline(bbox, line)) {
    double x0, y0, x1, y1;
    char word[128];
    if (std::sscanf(line.c_str(), " <word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">%127[^<]", &x0,
                    &y0, &x1, &y1, word) != 5)
      continue;
    ASSERT_LT(n, kWords.size());
    EXPECT_EQ(word, kWords[n]);
    const PxOcrWord& w = *boxes[n];
    EXPECT_NEAR(x0 * px, w.left, 6) << word;
    EXPECT_NEAR(x1 * px, w.right, 6) << word;
    EXPECT_LT(y0 * px, w.bottom) << word;
    EXPECT_GT(y1 * px, w.top) << word;
    ++n;
  }
  EXPECT_EQ(n, kWords.size());
  // Copying gives words with spaces between them, one line per line.
  const std::string layout = Shell("pdftotext -layout '" + pdf + "' -");
  EXPECT_NE(layout.find("Quarterly sales rose in every region"), std::string::npos) << layout;
  // The image is the same bytes as without the text layer.
  Shell("cd '" + m_dir + "' && pdfimages -all out.pdf a && pdfimages -all plain.pdf b");
  EXPECT_EQ(Shell("cmp '" + m_dir + "/a-000.jpg' '" + m_dir + "/b-000.jpg' && echo same"), "same\n");
  EXPECT_NE(Shell("qpdf --check '" + pdf + "'").find("No syntax or stream encoding errors"),
            std::string::npos);
  // The font is embedded with its Unicode map, and the text draws nothing over the image.
  const std::string fonts = Shell("pdffonts '" + pdf + "'");
  EXPECT_NE(fonts.find("CID TrueType      Identity-H       yes no  yes"), std::string::npos) << fonts;
  EXPECT_EQ(
      Shell("cd '" + m_dir + "' && pdftoppm -r 50 -gray out.pdf ra && pdftoppm -r 50 -gray plain.pdf rb && " +
            "cmp ra-1.pgm rb-1.pgm && echo same"),
      "same\n");
  // Appended pages, with and without text: each update stands on its own and the earlier text stays.
  ASSERT_EQ(PxfSavePageText(page, pdf.c_str(), PX_TYPE_PDF_GREY, 80, 0, 2, nullptr), PX_OK);
  ASSERT_EQ(PxfSavePageText(page, pdf.c_str(), PX_TYPE_PDF_GREY, 80, 0, 3, text), PX_OK);
  EXPECT_NE(Shell("qpdf --check '" + pdf + "'").find("No syntax or stream encoding errors"),
            std::string::npos);
  for (int n : {1, 3})
    EXPECT_NE(Shell("pdftotext -f " + std::to_string(n) + " -l " + std::to_string(n) + " '" + pdf + "' -")
                  .find("Quarterly sales rose"),
              std::string::npos)
        << n;
  EXPECT_EQ(Shell("pdftotext -f 2 -l 2 '" + pdf + "' - | tr -d '\\f\\n '"), "");
  PxOcrFree(text);
  PxfFreePage(page);
}

TEST_F(OcrTest, TurnedAndSkewedPagesAreReadAndMappedBack) {
  for (int rotate : {90, 180, 3, -4}) {
    PxPage* page = TextPage(rotate);
    ASSERT_NE(page, nullptr);
    PxOcrText* text = nullptr;
    char message[256];
    ASSERT_EQ(PxOcrRecognize(page, "eng", nullptr, nullptr, &text, message, sizeof message), PX_OK)
        << message;
    EXPECT_EQ(text->orientation, rotate % 90 == 0 ? (360 - rotate) % 360 : 0);
    if (rotate % 90 != 0) {
      EXPECT_NEAR(text->skew, -rotate, 0.5);
    }
    // Each word's box holds ink of the page as given (the boxes were mapped back onto it).
    for (int i = 0; i < text->lineCount; ++i)
      for (int j = 0; j < text->lines[i].wordCount; ++j) {
        const PxOcrWord& w = text->lines[i].words[j];
        int dark = 0;
        for (int y = w.top; y < w.bottom; ++y)
          for (int x = w.left; x < w.right; ++x) dark += page->pixels[size_t(y) * page->stride + x] < 128;
        EXPECT_GT(dark, (w.right - w.left) * (w.bottom - w.top) / 20) << rotate << " " << w.text;
      }
    EXPECT_EQ(Words(text), kWords) << rotate;
    const std::string pdf = m_dir + "/turned" + std::to_string(rotate) + ".pdf";
    ASSERT_EQ(PxfSavePageText(page, pdf.c_str(), PX_TYPE_PDF_GREY, 80, 0, 1, text), PX_OK);
    EXPECT_NE(Shell("pdftotext '" + pdf + "' -").find("Quarterly sales rose in every region"),
              std::string::npos)
        << rotate;
    PxOcrFree(text);
    PxfFreePage(page);
  }
}

// Only a process that OCRs maps Tesseract: the file library that writes the text layer does not link it.
TEST(OcrLibraryTest, FileLibraryDoesNotLinkTesseract) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = 0;
  const std::string dir = std::string(self).substr(0, std::string(self).rfind('/'));
  const std::string deps = Shell("ldd '" + dir + "/libpxfile.so'");
  ASSERT_NE(deps.find("libjpeg"), std::string::npos) << deps;
  EXPECT_EQ(deps.find("tesseract"), std::string::npos) << deps;
  EXPECT_EQ(deps.find("lept"), std::string::npos) << deps;
}

TEST_F(OcrTest, BlankPageHasNoTextAndNoError) {
  PxPage* page = TextPage(0, "-fill white -draw 'rectangle 0,0 1700,600'");
  ASSERT_NE(page, nullptr);
  PxOcrText* text = nullptr;
  char message[256];
  ASSERT_EQ(PxOcrRecognize(page, "eng", nullptr, nullptr, &text, message, sizeof message), PX_OK) << message;
  EXPECT_EQ(text->lineCount, 0);
  const std::string pdf = m_dir + "/blank.pdf";
  ASSERT_EQ(PxfSavePageText(page, pdf.c_str(), PX_TYPE_PDF_GREY, 80, 0, 1, text), PX_OK);
  EXPECT_EQ(Shell("pdftotext '" + pdf + "' - | tr -d '\\f\\n '"), "");
  PxOcrFree(text);
  PxfFreePage(page);
}

TEST_F(OcrTest, MissingLanguagePackNamesThePackage) {
  PxPage* page = TextPage(0);
  ASSERT_NE(page, nullptr);
  // A data folder with English and the orientation data only.
  Shell("mkdir '" + m_dir +
        "/data' && for l in eng osd; do ln -s /usr/share/tesseract-ocr/5/tessdata/$l.traineddata '" + m_dir +
        "/data/'; done");
  const char* old = getenv("TESSDATA_PREFIX");
  const std::string saved = old ? old : "";
  setenv("TESSDATA_PREFIX", (m_dir + "/data").c_str(), 1);
  PxOcrText* text = nullptr;
  char message[256];
  EXPECT_EQ(PxOcrRecognize(page, "deu+eng", nullptr, nullptr, &text, message, sizeof message),
            PX_ERR_PARAMETER);
  EXPECT_NE(std::string(message).find("tesseract-ocr-deu"), std::string::npos) << message;
  EXPECT_EQ(PxOcrRecognize(page, "../eng", nullptr, nullptr, &text, message, sizeof message),
            PX_ERR_PARAMETER);
  EXPECT_EQ(text, nullptr);
  char langs[64];
  EXPECT_EQ(PxOcrLanguages(langs, sizeof langs), PX_OK);
  EXPECT_STREQ(langs, "eng");
  if (old)
    setenv("TESSDATA_PREFIX", saved.c_str(), 1);
  else
    unsetenv("TESSDATA_PREFIX");
  PxfFreePage(page);
}

TEST_F(OcrTest, CancelDuringRecognitionStopsIt) {
  PxPage* page = TextPage(0);
  ASSERT_NE(page, nullptr);
  struct Calls {
    int count = 0;
  } calls;
  auto cancel = [](void* user, int32_t percent) -> int32_t {
    ++static_cast<Calls*>(user)->count;
    return percent == 0 ? 1 : 0;  // go on at the start, stop once recognition reports
  };
  PxOcrText* text = nullptr;
  char message[256];
  EXPECT_EQ(PxOcrRecognize(page, "eng", cancel, &calls, &text, message, sizeof message), PX_ERR_CANCELLED);
  EXPECT_EQ(text, nullptr);
  EXPECT_GE(calls.count, 2);
  PxfFreePage(page);
}

}  // namespace
