// Searchable PDFs on every road of the real marlin3: SANE's pnm backend (configured in the test's own
// folder) scans a text page drawn by ImageMagick; the output is read by pdftotext. Also the convert
// task's "Ocr", the OCR Quick Set with our own application, and that application, marlin3-ocr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/ProductRun.h"

namespace fs = std::filesystem;

namespace {

using product_run::Has;
using product_run::Quote;
using product_run::ReadFile;
using product_run::RunResult;

constexpr const char* kWords = "Harbour ledger seventeen";
constexpr const char* kMore = "Copper kettle invoice";

class OcrRoadTest : public product_run::ProductRun {
 protected:
  void SetUp() override {
    ProductRun::SetUp();
    // The scanner is SANE's pnm backend, scanning the page drawn here.
    std::ofstream(m_dir / "sane" / "dll.conf") << "pnm\n";
    Shell(Bin("marlin3-product") + " direct --port 60000 --device pnm:0 >/dev/null");
    m_page = m_dir / "page.pgm";
    Draw(m_page);
    setenv("MARLIN3_PNM_FILE", m_page.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("MARLIN3_PNM_FILE");
    ProductRun::TearDown();
  }

  // A grey letter page at 200 dpi with two lines of known words, 8 bits deep: SANE's pnm backend
  // announces 8 bits for a 16-bit file and sends its bytes as twice as many pixels.
  void Draw(const fs::path& file) const {
    ASSERT_EQ(0, std::system(("convert -size 1000x300 xc:white -font DejaVu-Sans -pointsize 36 -fill black"
                              " -annotate +40+90 '" +
                              std::string(kWords) + "' -annotate +40+190 '" + kMore +
                              "' -density 200 -units PixelsPerInch -type Grayscale -depth 8 " +
                              Quote(file.string()))
                                 .c_str()));
  }
  static std::string Text(const fs::path& pdf) {
    return product_run::Output("pdftotext " + Quote(pdf.string()) + " - 2>/dev/null");
  }
  static bool Searchable(const fs::path& pdf) { return Has(Text(pdf), kWords) && Has(Text(pdf), kMore); }

  // Every hide bit set, grey at 200 dpi: an unattended scan of the pnm page.
  static std::vector<std::string> Unattended(std::vector<std::string> more) {
    std::vector<std::string> args = {"/Task", "3", "/Hide", "286331153", "/BitDepth", "8", "/Res", "200"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  fs::path m_page;
};

TEST_F(OcrRoadTest, FileRoadScansTextIntoASearchablePdfOnlyWhenAsked) {
  RunResult run =
      RunMarlin(Unattended({"/Type", "146", "/Ocr", "eng", "/OutFile", Out("letter.pdf").string()}), "");
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_TRUE(fs::exists(Out("letter.pdf"))) << run.log;
  EXPECT_TRUE(Searchable(Out("letter.pdf"))) << Text(Out("letter.pdf")) << run.log;
  EXPECT_TRUE(Has(run.log, "1 page(s) made searchable")) << run.log;

  // Without "Ocr" the same scan has no text, and the OCR library is never started.
  run = RunMarlin(Unattended({"/Type", "146", "/OutFile", Out("plain.pdf").string()}), "");
  ASSERT_TRUE(fs::exists(Out("plain.pdf"))) << run.log;
  EXPECT_FALSE(Has(Text(Out("plain.pdf")), "ledger"));
  EXPECT_FALSE(Has(run.log, "OCR in")) << run.log;

  // A type without a text layer: the file is made as always, and the log says why there is no text.
  run = RunMarlin(Unattended({"/Type", "17", "/Ocr", "eng", "/OutFile", Out("letter.tif").string()}), "");
  EXPECT_TRUE(fs::exists(Out("letter.tif"))) << run.log;
  EXPECT_TRUE(Has(run.log, "Ocr 'eng' ignored: file type 17 is not PDF")) << run.log;
}

// A Quick Set stored with "Ocr" (the wizard's way) and the scanned TIFF converted by DoFile's change of
// type: both roads give text. A missing language pack stops the job before the scan, naming the package.
TEST_F(OcrRoadTest, QuickSetValueAndMissingLanguagePack) {
  ASSERT_EQ(0, Shell(Bin("marlin3-reg") +
                     " add 'HKCU\\SOFTWARE\\Nexora\\marlin3\\Letters' /v Ocr /d eng /f >/dev/null"));
  RunResult run =
      RunMarlin(Unattended({"/Qs", "Letters", "/Type", "146", "/OutFile", Out("qs.pdf").string()}), "");
  EXPECT_TRUE(Searchable(Out("qs.pdf"))) << run.log;

  run = RunMarlin({"/Task", "3", "/Hide", "4113", "/BitDepth", "8", "/Res", "200", "/Ocr", "zz", "/Type",
                   "146", "/OutFile", Out("never.pdf").string()},
                  "msgbox OK\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(fs::exists(Out("never.pdf")));
  EXPECT_TRUE(Has(run.transcript, "install the package tesseract-ocr-zz")) << run.transcript;
  EXPECT_TRUE(Has(run.log, "OCR cannot start: the OCR language \"zz\" is not installed")) << run.log;
  EXPECT_FALSE(Has(run.log, "Acquire")) << run.log;
}

TEST_F(OcrRoadTest, ConvertTaskOcrOptionMakesTheOutputSearchable) {
  Draw(m_dir / "cwd" / "in.png");
  const RunResult run = RunMarlin({"/Task", "8", "/InFile", "in.png", "/Type", "146", "/Ocr", "eng",
                                   "/OutFile", Out("conv.pdf").string()},
                                  "");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.transcript, "");
  EXPECT_TRUE(Searchable(Out("conv.pdf"))) << run.log;
}

TEST_F(OcrRoadTest, MailAndApplicationRoadsCarryTheText) {
  // E-mail: Extended MAPI into a real SMTP server; the attachment is taken out of the delivered message.
  const fs::path received = m_dir / "received";
  const product_run::SmtpServer smtp = product_run::StartSmtpServer(received, m_dir / "smtp-port.txt");
  ASSERT_FALSE(smtp.port.empty()) << "the SMTP server did not start";
  const std::string xdg = "XDG_CONFIG_HOME=" + Quote((m_dir / "config").string()) + " ";
  ASSERT_EQ(
      0, Shell(xdg + Bin("marlin3-mail") + " create --address scanner@example.org --host 127.0.0.1 --port " +
               smtp.port + " --security none --store " + Quote((m_dir / "store").string()) + " >/dev/null"));
  const int rc =
      Shell(xdg + Bin("marlin3") +
            " /Task 3 /Hide 286331153 /BitDepth 8 /Res 200 /Dest 1 /Type 146 /Ocr eng /To bob@example.org");
  pclose(smtp.server);
  EXPECT_EQ(rc, 0);
  fs::path message;
  for (const auto& entry : fs::directory_iterator(received / "new")) message = entry.path();
  ASSERT_FALSE(message.empty()) << ReadFile(m_dir / "tmp" / "marlin3.log");
  const fs::path attached = m_dir / "attached.pdf";
  ASSERT_EQ(
      0,
      std::system(("python3 -c 'import email,sys; m=email.message_from_binary_file(open(sys.argv[1],\"rb\"));"
                   " p=[x for x in m.walk() if x.get_filename()][0];"
                   " open(sys.argv[2],\"wb\").write(p.get_payload(decode=True))' " +
                   Quote(message.string()) + " " + Quote(attached.string()))
                      .c_str()));
  EXPECT_TRUE(Searchable(attached)) << Text(attached);

  // Application: it gets the searchable file.
  const fs::path app = m_dir / "app.sh";
  const fs::path got = m_dir / "got.pdf";
  std::ofstream(app) << "#!/bin/sh\ncp \"$1\" " << Quote((m_dir / "part").string()) << " && mv "
                     << Quote((m_dir / "part").string()) << " " << Quote(got.string()) << "\n";
  fs::permissions(app, fs::perms::owner_all);
  const RunResult run =
      RunMarlin(Unattended({"/Dest", "2", "/Type", "146", "/Ocr", "eng", "/AppExe", app.string(), "/Dir",
                            (m_dir / "out").string() + "/", "/Sleep", "0"}),
                "");
  EXPECT_EQ(run.exitCode, 0);
  for (int i = 0; i < 100 && !fs::exists(got); ++i) usleep(50000);
  EXPECT_TRUE(Searchable(got)) << run.log;
}

// A feeder batch scans faster than its text is read: the progress window stays, says so, and its
// Cancel ends the job as a cancelled scan; left alone, every page gets its text.
TEST_F(OcrRoadTest, TheWaitForTheTextShowsItsProgressAndCanBeCancelled) {
  fs::create_directories(m_dir / "feed");
  for (const char* name : {"1.pgm", "2.pgm", "3.pgm", "4.pgm"}) fs::copy_file(m_page, m_dir / "feed" / name);
  const std::string feed = "MARLIN3_PNM_FEED=" + Quote((m_dir / "feed").string());
  // Hide 16: the scanner's dialog only, so the progress window is shown.
  const std::vector<std::string> args = {
      "/Task", "3",     "/Hide", "16",   "/BitDepth", "8",        "/Res",
      "200",   "/Type", "146",   "/Ocr", "eng",       "/OutFile", Out("batch.pdf").string()};
  const std::string scan =
      "dialog 102\nclick 1048\nmsgbox NO\nmodeless 162\nwaitfor 1621 \"searchable: page\"\n";
  RunResult run = RunMarlin(args, scan + "click 2\n", feed);
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  EXPECT_TRUE(Has(run.log, "Got user cancel while the text was recognised")) << run.log;
  EXPECT_FALSE(fs::exists(Out("batch.pdf"))) << run.log;

  run = RunMarlin(args, scan, feed);
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  ASSERT_TRUE(fs::exists(Out("batch.pdf"))) << run.log;
  EXPECT_TRUE(Has(run.log, "4 page(s) made searchable")) << run.log;
  EXPECT_EQ(product_run::Output("pdfinfo " + Quote(Out("batch.pdf").string()) + " | grep Pages: | tr -s ' '"),
            "Pages: 4\n");
}

// Without the other OCR application, FindIris makes the OCR Quick Set with ours; once it exists it is
// never rewritten.
TEST_F(OcrRoadTest, OcrQuickSetGetsOurApplicationAndIsNeverRewritten) {
  const std::string qs = "HKCU\\SOFTWARE\\Nexora\\marlin3\\Scan to OCR";
  auto value = [&](const char* name) {
    return Capture(Env() + Bin("marlin3-reg") + " query " + Quote(qs) + " /v " + name + " 2>/dev/null");
  };
  auto startMainDialog = [&]() {
    std::ofstream(m_dir / "script.txt") << "dialog 102\ncancel\n";
    return Shell("MARLIN3_WINDOWS_DIR=" + Quote((m_dir / "nowindows").string()) + " " + Bin("marlin3"));
  };
  EXPECT_EQ(startMainDialog(), 0);
  EXPECT_TRUE(Has(value("AppExe"), Bin("marlin3-ocr"))) << value("AppExe");
  EXPECT_TRUE(Has(value("Type"), "17"));
  EXPECT_TRUE(Has(value("Res"), "300"));
  ASSERT_EQ(0, Shell(Bin("marlin3-reg") + " add " + Quote(qs) + " /v AppExe /d /opt/mine /f >/dev/null"));
  EXPECT_EQ(startMainDialog(), 0);
  EXPECT_TRUE(Has(value("AppExe"), "/opt/mine")) << value("AppExe");
}

// marlin3-ocr: the scanned TIFF becomes a searchable PDF under a new name in the documents folder (an
// existing file of that name stays), and the desktop's opener gets it.
TEST_F(OcrRoadTest, OurOcrApplicationWritesANewSearchablePdfAndOpensIt) {
  const fs::path docs = m_dir / "My Documents";
  fs::create_directories(m_dir / "config");
  std::ofstream(m_dir / "config" / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"" << docs.string() << "\"\n";
  fs::create_directories(docs);
  std::ofstream(docs / "scan.pdf") << "mine";
  fs::create_directories(m_dir / "fakebin");
  std::ofstream(m_dir / "fakebin" / "xdg-open")
      << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << Quote((m_dir / "opened").string()) << "\n";
  fs::permissions(m_dir / "fakebin" / "xdg-open", fs::perms::owner_all);
  const fs::path tif = m_dir / "scan.tif";
  ASSERT_EQ(0, std::system(
                   ("convert " + Quote(m_page.string()) + " -compress lzw " + Quote(tif.string())).c_str()));
  const std::string env = "XDG_CONFIG_HOME=" + Quote((m_dir / "config").string()) +
                          " PATH=" + Quote((m_dir / "fakebin").string()) + ":$PATH ";
  ASSERT_EQ(0, Shell(env + Bin("marlin3-ocr") + " --languages eng " + Quote(tif.string()) + " >/dev/null"));
  EXPECT_EQ(ReadFile(docs / "scan.pdf"), "mine");
  EXPECT_TRUE(Searchable(docs / "scan-2.pdf"));
  EXPECT_EQ((fs::status(docs / "scan-2.pdf").permissions() & fs::perms::all),
            fs::perms::owner_read | fs::perms::owner_write);
  for (int i = 0; i < 100 && !fs::exists(m_dir / "opened"); ++i) usleep(20000);
  EXPECT_EQ(ReadFile(m_dir / "opened"), (docs / "scan-2.pdf").string() + "\n");
  // A language pack that is not there: a failure, nothing left in the documents folder.
  EXPECT_EQ(1, Shell(env + Bin("marlin3-ocr") + " --languages zz " + Quote(tif.string()) + " 2>/dev/null"));
  EXPECT_FALSE(fs::exists(docs / "scan-3.pdf"));
  EXPECT_TRUE(fs::is_empty(m_dir / "cwd"));  // its log is in the private temporary folder
}

}  // namespace
