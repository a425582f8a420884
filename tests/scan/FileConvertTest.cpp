// FileConvert through the real toolkit (libpxfile.so) on files made by ImageMagick and wrapped faxes
// made with libtiff's Group 3 coder; outputs are read back by ImageMagick, tiffinfo and pdfinfo.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "log/DebugTrace.h"
#include "pxclass/PxFileTypes.h"
#include "scan/FileConvert.h"
#include "tests/scan/ScanChild.h"
#include "tests/scan/ScratchTest.h"
#include "tests/scan/ToolOracle.h"
#include "tools/faxwrap/FaxWrapWriter.h"

namespace fs = std::filesystem;

namespace {

class FileConvertTest : public ScratchTest {
 protected:
  FileConvertTest() : ScratchTest("m3conv-") {}
  void Magick(const std::string& args) { ASSERT_EQ(std::system(("convert " + args).c_str()), 0) << args; }

  // A wrapped fax of pages made of stripes, with the 1-bit rows kept for comparison.
  void WriteFax(const std::string& name, const std::vector<std::pair<int, int>>& sizes, int xRes, int yRes,
                const FaxWrapWriter::Options& options = {}, bool fillBits = false) {
    std::vector<FaxWrapWriter::Page> pages;
    for (size_t i = 0; i < sizes.size(); ++i) {
      const auto [w, h] = sizes[i];
      std::vector<uint8_t> rows(static_cast<size_t>((w + 7) / 8) * h, 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if ((y / 10 + x / (16 + 8 * static_cast<int>(i))) % 2 == 0)
            rows[static_cast<size_t>(y) * ((w + 7) / 8) + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      m_faxRows.push_back(rows);
      FaxWrapWriter::Page page;
      page.width = w;
      page.height = h;
      page.xRes = xRes;
      page.yRes = yRes;
      page.fax = FaxWrapWriter::EncodeG3(rows, w, h, fillBits);
      ASSERT_FALSE(page.fax.empty());
      pages.push_back(std::move(page));
    }
    const std::vector<uint8_t> stream = FaxWrapWriter::Wrap(pages, options);
    std::ofstream(P(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
  }

  int Run(std::vector<std::string> inputs, const std::string& output, int type,
          std::vector<std::string>& outputs, const std::function<void(ConvertRequest&)>& adjust = nullptr) {
    outputs = {output};
    ConvertRequest request(outputs, inputs);
    request.nType = type;
    if (adjust) adjust(request);
    FileConvert convert;
    return convert.Convert(request);
  }

  std::vector<std::vector<uint8_t>> m_faxRows;
};

TEST_F(FileConvertTest, SinglePageTypeNumbersPagesBySequenceOverInputs) {
  Magick("-size 40x30 xc:red xc:lime xc:blue " + Quote(P("three.tif")));
  Magick("-size 50x20 xc:white " + Quote(P("one.png")));
  std::vector<std::string> outputs;
  ASSERT_EQ(Run({P("three.tif"), P("missing.tif"), P("one.png")}, P("x.jpg"), PX_TYPE_JPEG, outputs), 0)
      << Log();
  const std::vector<std::string> expected = {P("x.jpg"), P("x2.jpg"), P("x3.jpg"), P("x4.jpg")};
  EXPECT_EQ(outputs, expected);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Sizes(expected[i]), "40x30\n") << expected[i];
  EXPECT_EQ(Sizes(expected[3]), "50x20\n");
  EXPECT_EQ(RunTool("identify -format '%m' " + Quote(P("x2.jpg"))), "JPEG");
  // The second page is lime: ImageMagick's mean of the green channel says so.
  EXPECT_GT(std::stod(RunTool("convert " + Quote(P("x2.jpg")) + " -format '%[fx:mean.g]' info:")), 0.9);
  EXPECT_NE(Log().find(P("missing.tif") + " not found, skipping as input file"), std::string::npos) << Log();
}

TEST_F(FileConvertTest, MultiPageTypeTakesEveryPageOfEveryInput) {
  Magick("-size 40x30 xc:red xc:lime " + Quote(P("a.tif")));
  Magick("-size 40x30 xc:blue xc:white " + Quote(P("b.tif")));
  std::ofstream(P("x.tif")) << "old";
  std::vector<std::string> outputs;
  ASSERT_EQ(Run({P("a.tif"), P("b.tif")}, P("x.tif"), PX_TYPE_TIFF, outputs), 0) << Log();
  EXPECT_EQ(outputs, std::vector<std::string>{P("x.tif")});
  EXPECT_EQ(Sizes(P("x.tif")), "40x30\n40x30\n40x30\n40x30\n");
  EXPECT_NE(Log().find("Deleted " + P("x.tif")), std::string::npos);

  ASSERT_EQ(Run({P("a.tif"), P("b.tif")}, P("x.pdf"), PX_TYPE_PDF, outputs), 0) << Log();
  EXPECT_EQ(PdfPages(P("x.pdf")), 4);
}

TEST_F(FileConvertTest, OutputNamesWithoutExtension) {
  Magick("-size 10x10 xc:red xc:blue " + Quote(P("in.tif")));
  fs::create_directories(m_dir / "dir.d");
  const struct {
    std::string output;
    std::vector<std::string> files;
  } cases[] = {
      {P("dir.d/out"), {P("dir.d/out"), P("dir.d/out2")}},
      {P("plain"), {P("plain"), P("plain2")}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> outputs;
    ASSERT_EQ(Run({P("in.tif")}, c.output, PX_TYPE_JPEG, outputs), 0) << Log();
    EXPECT_EQ(outputs, c.files);
    for (const auto& f : c.files) EXPECT_EQ(Sizes(f), "10x10\n") << f;
  }
}

TEST_F(FileConvertTest, SecondOutputFromUnresizedCopies) {
  Magick("-size 1700x2200 xc:white -size 170x220 xc:gray " + Quote(P("pages.tif")));
  std::vector<std::string> outputs;
  ASSERT_EQ(Run({P("pages.tif")}, P("x.tif"), PX_TYPE_TIFF, outputs,
                [](ConvertRequest& r) {
                  r.nOutX = 800;
                  r.nOutY = -1;
                  r.nType2 = PX_TYPE_JPEG;
                  r.strExt2 = "jpg";
                  r.nOutX2 = -1;
                  r.nOutY2 = 110;
                }),
            0)
      << Log();
  EXPECT_EQ(outputs, (std::vector<std::string>{P("x.tif"), P("x.jpg"), P("x2.jpg")}));
  EXPECT_EQ(Sizes(P("x.tif")), "800x1035\n800x1035\n");
  EXPECT_EQ(Sizes(P("x.jpg")), "85x110\n");
  EXPECT_EQ(Sizes(P("x2.jpg")), "85x110\n");
}

TEST_F(FileConvertTest, ResizeRules) {
  Magick("-size 170x220 xc:white " + Quote(P("page.png")));
  const struct {
    int x, y;
    const char* size;
    int result;
  } cases[] = {
      {80, -1, "80x103\n", 0},  // 80 * 220 / 170 = 103.5, truncated
      {-1, 44, "34x44\n", 0},
      {10, 5, "10x5\n", 0},
      {-5, -1, "170x220\n", 0},  // both negative: logged, the page keeps its size
  };
  for (const auto& c : cases) {
    std::vector<std::string> outputs;
    EXPECT_EQ(Run({P("page.png")}, P("r.png"), PX_TYPE_PNG, outputs,
                  [&](ConvertRequest& r) {
                    r.nOutX = c.x;
                    r.nOutY = c.y;
                  }),
              c.result);
    EXPECT_EQ(Sizes(P("r.png")), c.size) << c.x << "x" << c.y;
  }
  EXPECT_NE(Log().find("Both pixel resize directions are less than 0"), std::string::npos);
}

TEST_F(FileConvertTest, QualityMinusOneIsTheTypesDefault) {
  Magick("-size 120x90 plasma:fractal -seed 3 " + Quote(P("q.png")));
  auto bytes = [&](int type, int quality, const std::string& output) {
    std::vector<std::string> outputs;
    EXPECT_EQ(Run({P("q.png")}, P(output), type, outputs, [&](ConvertRequest& r) { r.nQuality = quality; }),
              0);
    return ScanChild::Read(P(output));
  };
  // The same bytes as the explicit default, and other bytes for another quality.
  EXPECT_EQ(bytes(75, -1, "d.png"), bytes(75, 7, "e.png"));
  EXPECT_NE(bytes(75, -1, "d.png"), bytes(75, 1, "f.png"));
  EXPECT_EQ(bytes(10, -1, "d.jpg"), bytes(10, 100, "e.jpg"));
  EXPECT_NE(bytes(10, 40, "d.jpg"), bytes(10, 100, "e.jpg"));
}

TEST_F(FileConvertTest, FaxIsDecodedAndStretchedToSquarePixels) {
  WriteFax("fax.mfp", {{1728, 98}}, 204, 98);
  const struct {
    int type;
    const char* output;
    const char* size;
  } cases[] = {
      {10, "f.jpg", "1728x204\n"},  // taller by 204 / 98
      {6, "f.bmp", "830x98\n"},     // narrower by 98 / 204
      {3, "f.tif", "1728x98\n"},    // left alone
      {146, "f.pdf", nullptr},
  };
  for (const auto& c : cases) {
    std::vector<std::string> outputs;
    ASSERT_EQ(Run({P("fax.mfp")}, P(c.output), c.type, outputs, [](ConvertRequest& r) { r.bMfpDtf = true; }),
              0)
        << Log();
    EXPECT_EQ(outputs, std::vector<std::string>{P(c.output)});
    if (c.size != nullptr) {
      EXPECT_EQ(Sizes(P(c.output)), c.size) << c.output;
    }
  }
  EXPECT_TRUE(fs::exists(m_dir / "tmp" / "0fax.mfp")) << "the intermediate file stays";
  // The TIFF holds exactly the page that was coded: compare pixel by pixel through ImageMagick.
  const std::string pbm = RunTool("convert " + Quote(P("f.tif")) + " -depth 1 pbm:- | tail -c " +
                                  std::to_string(m_faxRows[0].size()));
  ASSERT_EQ(pbm.size(), m_faxRows[0].size());
  EXPECT_TRUE(std::equal(pbm.begin(), pbm.end(), m_faxRows[0].begin(),
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
  EXPECT_EQ(PdfPages(P("f.pdf")), 1);
}

TEST_F(FileConvertTest, EveryPageOfAMultiPageFax) {
  WriteFax("three.mfp", {{1728, 40}, {1728, 60}, {864, 30}}, 200, 200);
  std::vector<std::string> outputs;
  ASSERT_EQ(
      Run({P("three.mfp")}, P("f.tif"), PX_TYPE_TIFF, outputs, [](ConvertRequest& r) { r.bMfpDtf = true; }),
      0)
      << Log();
  EXPECT_EQ(Sizes(P("f.tif")), "1728x40\n1728x60\n864x30\n");
  ASSERT_EQ(
      Run({P("three.mfp")}, P("g.png"), PX_TYPE_PNG, outputs, [](ConvertRequest& r) { r.bMfpDtf = true; }),
      0);
  EXPECT_EQ(outputs, (std::vector<std::string>{P("g.png"), P("g2.png"), P("g3.png")}));
}

// A page paused and resumed (its start of page repeated) stays one page; pages of the same size one
// after another stay pages of their own. Each page is compared with the rows that were coded.
TEST_F(FileConvertTest, SuspendedFaxPagesDecodeWhole) {
  for (bool fillBits : {false, true}) {
    SCOPED_TRACE(fillBits ? "fill bits" : "no fill bits");
    m_faxRows.clear();
    FaxWrapWriter::Options options;
    options.recordBytes = 97;  // pauses fall at odd bits of a line
    options.recordsPerBlock = 2;
    options.suspendEvery = 600;
    WriteFax("paused.mfp", {{1728, 400}, {1728, 400}, {1728, 400}}, 200, 200, options, fillBits);
    std::vector<std::string> outputs;
    ASSERT_EQ(Run({P("paused.mfp")}, P("p.tif"), PX_TYPE_TIFF, outputs,
                  [](ConvertRequest& r) { r.bMfpDtf = true; }),
              0)
        << Log();
    ASSERT_EQ(Sizes(P("p.tif")), "1728x400\n1728x400\n1728x400\n");
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      const std::string pbm = RunTool("convert " + Quote(P("p.tif") + "[" + std::to_string(i) + "]") +
                                      " -depth 1 pbm:- | tail -c " + std::to_string(m_faxRows[i].size()));
      ASSERT_EQ(pbm.size(), m_faxRows[i].size());
      size_t wrongRows = 0;
      const size_t rowBytes = 1728 / 8;
      for (size_t y = 0; y < 400; ++y)
        if (!std::equal(m_faxRows[i].begin() + y * rowBytes, m_faxRows[i].begin() + (y + 1) * rowBytes,
                        pbm.begin() + y * rowBytes,
                        [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }))
          ++wrongRows;
      EXPECT_EQ(wrongRows, 0u);
    }
  }
}

TEST_F(FileConvertTest, FifoInputRefusedBeforeOpening) {
  const std::string fifo = P("in.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto run = std::async(std::launch::async, [&] {
    std::vector<std::string> outputs;
    return Run({fifo}, P("o.jpg"), PX_TYPE_JPEG, outputs);
  });
  if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    const int fd = ::open(fifo.c_str(), O_WRONLY);  // let the blocked open go
    if (fd >= 0) ::close(fd);
    FAIL() << "converting a FIFO blocked";
  }
  EXPECT_EQ(run.get(), 3);
  EXPECT_NE(Log().find(fifo + " is not a regular file, refused as input file"), std::string::npos) << Log();
}

TEST_F(FileConvertTest, RefusedResizeIsLogged) {
  Magick("-size 40x30 xc:red " + Quote(P("in.png")));
  std::vector<std::string> outputs;
  EXPECT_EQ(Run({P("in.png")}, P("big.png"), PX_TYPE_PNG, outputs,
                [](ConvertRequest& r) {
                  r.nOutX = 100000;
                  r.nOutY = 100000;
                }),
            0);
  EXPECT_EQ(Sizes(P("big.png")), "40x30\n");
  EXPECT_NE(Log().find("Resize from 40x30 to 100000x100000 refused"), std::string::npos) << Log();
}

TEST_F(FileConvertTest, FailuresAndTheirResults) {
  Magick("-size 10x10 xc:red " + Quote(P("ok.png")));
  std::ofstream(P("junk.png")) << "not an image at all";
  WriteFax("fax.mfp", {{1728, 20}}, 204, 196);
  std::vector<uint8_t> cut(fs::file_size(P("fax.mfp")) - 20);
  std::ifstream(P("fax.mfp"), std::ios::binary)
      .read(reinterpret_cast<char*>(cut.data()), static_cast<std::streamsize>(cut.size()));
  std::ofstream(P("cut.mfp"), std::ios::binary)
      .write(reinterpret_cast<const char*>(cut.data()), static_cast<std::streamsize>(cut.size()));
  std::vector<std::string> outputs;
  EXPECT_EQ(Run({P("ok.png"), P("junk.png")}, P("o.jpg"), PX_TYPE_JPEG, outputs), 3);
  EXPECT_EQ(outputs, std::vector<std::string>{P("o.jpg")}) << "what was written stays listed";
  EXPECT_NE(Log().find("GetInfo Failed on " + P("junk.png")), std::string::npos);
  EXPECT_NE(Log().find("Converting file fails"), std::string::npos);

  EXPECT_EQ(
      Run({P("cut.mfp")}, P("c.tif"), PX_TYPE_TIFF, outputs, [](ConvertRequest& r) { r.bMfpDtf = true; }), 3);
  EXPECT_TRUE(outputs.empty());
  EXPECT_FALSE(fs::exists(m_dir / "tmp" / "0cut.mfp"));
  EXPECT_NE(Log().find("Converting fax file failed"), std::string::npos);

  EXPECT_EQ(Run({P("gone1"), P("gone2")}, P("o.jpg"), PX_TYPE_JPEG, outputs), 3);
  EXPECT_EQ(Run({P("ok.png")}, P("o.jpg"), PX_TYPE_UNKNOWN, outputs), 2);
  EXPECT_EQ(Run({}, P("o.jpg"), PX_TYPE_JPEG, outputs), 2);
  EXPECT_EQ(Run({P("ok.png")}, P(std::string(260, 'n')), PX_TYPE_JPEG, outputs), 2);
  EXPECT_NE(Log().find("Input parameters invalid"), std::string::npos);
}

}  // namespace
