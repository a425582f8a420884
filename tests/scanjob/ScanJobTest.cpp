// Whole runs of the real marlin3 from the scanner to the delivery: SANE's test backend (configured in
// the test's own folder through SANE_CONFIG_DIR) as the product's scanner, the scripted ui host for
// every box and dialog, the output checked by independent readers (pdfinfo, tiffinfo, identify).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "pxclass/PxFileTypes.h"
#include "tests/common/ProductRun.h"

namespace fs = std::filesystem;

namespace {

using product_run::Quote;
using product_run::ReadFile;
using product_run::RunResult;

using product_run::Output;
using product_run::PdfPages;

class ScanJobTest : public product_run::ProductRun {
 protected:
  RunResult Marlin(const std::vector<std::string>& args, const std::string& script = "") {
    return RunMarlin(args, script);
  }

  // The Quick Set values that make an unattended scan: every hide bit set, 50 dpi, a 2 x 2 inch
  // custom area, so a page is small and quick.
  static std::vector<std::string> Unattended(std::vector<std::string> more) {
    std::vector<std::string> args = {"/Task", "3",    "/Hide", "286331153", "/Res",
                                     "50",    "/InX", "2880",  "/InY",      "2880"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  // A silent e-mail scan of the feeder's ten JPEG pages into a loopback SMTP server; raw is the message.
  void MailRoad(bool withStore, std::string& raw);

  // A Quick Set value as the wizard stores it (a string under the main key).
  void SetQs(const std::string& qs, const std::string& name, const std::string& value) const {
    ASSERT_EQ(0, Shell(Bin("marlin3-reg") + " add " + Quote("HKCU\\SOFTWARE\\Nexora\\marlin3\\" + qs) +
                       " /v " + Quote(name) + " /d " + Quote(value) + " /f >/dev/null"));
  }
};

// The scanner's own dialog, driven by the script: the feeder delivers its batch of ten pages.
const char* kFeederScript = "dialog 160\nselect 1603 Automatic Document Feeder\nselect 1602 75\nclick 1\n";

TEST_F(ScanJobTest, FeederBatchBecomesOneMultiPageFileOfEachType) {
  struct Case {
    int type;
    const char* name;
  };
  for (const Case& c : {Case{PX_TYPE_PDF, "batch.pdf"}, Case{PX_TYPE_TIFF_PACKED, "batch.tif"}}) {
    SCOPED_TRACE(c.name);
    // Main dialog and file prompts hidden; the scanner's dialog shows (hide bit 10 clear).
    const RunResult run = Marlin(
        {"/Task", "3", "/Hide", "4097", "/Type", std::to_string(c.type), "/OutFile", Out(c.name).string()},
        kFeederScript);
    EXPECT_EQ(run.exitCode, 0) << run.log;
    ASSERT_TRUE(fs::exists(Out(c.name))) << run.log << run.transcript;
    if (c.type == PX_TYPE_PDF) {
      EXPECT_EQ(PdfPages(Out(c.name)), 10);
    } else {
      const std::string info = Capture("tiffinfo " + Quote(Out(c.name).string()) + " 2>/dev/null");
      size_t pages = 0;
      for (size_t at = info.find("TIFF Directory"); at != std::string::npos;
           at = info.find("TIFF Directory", at + 1))
        ++pages;
      EXPECT_EQ(pages, 10u) << info;
    }
    EXPECT_NE(run.log.find("Using source 'NX Pressline TWAIN'"), std::string::npos) << run.log;
  }
}

TEST_F(ScanJobTest, SinglePageTypeGivesNumberedFilesAfterTheMultiFileWarning) {
  const RunResult run =
      Marlin({"/Task", "3", "/Hide", "4097", "/Type", "10", "/OutFile", Out("scan.jpg").string()},
             std::string(kFeederScript) + "dialog 148\nclick 1057\nok\n");
  EXPECT_EQ(run.exitCode, 0) << run.log;
  EXPECT_TRUE(fs::exists(Out("scan.jpg")));
  for (int i = 2; i <= 10; ++i) EXPECT_TRUE(fs::exists(Out("scan" + std::to_string(i) + ".jpg"))) << i;
  EXPECT_FALSE(fs::exists(Out("scan11.jpg")));
  EXPECT_NE(Capture("identify -format '%m %w' " + Quote(Out("scan2.jpg").string())).find("JPEG"),
            std::string::npos);
  // The ticked box is remembered: no warning the next time.
  EXPECT_NE(Capture(Env() + Bin("marlin3-reg") +
                    " query 'HKCU\\SOFTWARE\\Nexora\\marlin3' /v DontShowMultiFileWarn")
                .find("0x1"),
            std::string::npos);
  fs::remove_all(m_dir / "out");
  fs::create_directories(m_dir / "out");
  const RunResult again = Marlin(
      {"/Task", "3", "/Hide", "4097", "/Type", "10", "/OutFile", Out("scan.jpg").string()}, kFeederScript);
  EXPECT_EQ(again.exitCode, 0) << again.transcript;
  EXPECT_EQ(again.transcript.find("dialog 148"), std::string::npos);
}

TEST_F(ScanJobTest, ScanSettingsFromTheQuickSetReachTheScanner) {
  struct Case {
    std::vector<std::string> args;
    int width, height;  // pixels at 50 dpi; -1 not checked
    const char* logged;
  };
  const Case cases[] = {
      // A4 (8.27 x 11.69 in): 413 x 584 pixels.
      {{"/PaperSize", "6"}, 413, 584, "Using passed in Src: NX Pressline TWAIN"},
      // The custom area of "InX" and "InY" (2 x 2 inches).
      {{"/PaperSize", "29"}, 100, 100, nullptr},
      // Not in the table: 0 x 0, the whole glass (300 mm = 590 pixels).
      {{"/PaperSize", "30"}, 590, 590, nullptr},
      // An invalid depth is logged and 24 used.
      {{"/BitDepth", "16"}, 100, 100, "Invalid BitDepth found, resetting"},  // no PaperSize: custom
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const std::string name = "page" + std::to_string(++n) + ".png";
    std::vector<std::string> args = Unattended({"/Type", "75", "/OutFile", Out(name).string()});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = Marlin(args);
    EXPECT_EQ(run.exitCode, 0);
    const std::string size =
        Capture("identify -format '%w %h %[type]' " + Quote(Out(name).string()) + " 2>&1");
    int w = 0, h = 0;
    std::istringstream(size) >> w >> h;
    EXPECT_NEAR(w, c.width, 2) << size << run.log;
    EXPECT_NEAR(h, c.height, 2) << size;
    if (c.logged) {
      EXPECT_NE(run.log.find(c.logged), std::string::npos) << run.log;
    }
  }
}

TEST_F(ScanJobTest, ExistingOutputIsReplacedOnlyWhenAllowed) {
  std::ofstream(Out("keep.pdf")) << "the user's own file";
  // Every hide bit set and no "OverWrite": the job ends, the file stays.
  RunResult run = Marlin(Unattended({"/Type", "146", "/OutFile", Out("keep.pdf").string()}));
  EXPECT_EQ(ReadFile(Out("keep.pdf")), "the user's own file");
  EXPECT_NE(run.log.find("hidden Ui, no confirm, outfile already exists, exiting"), std::string::npos)
      << run.log;

  run = Marlin(Unattended({"/Type", "146", "/OutFile", Out("keep.pdf").string(), "/OverWrite", "1"}));
  EXPECT_EQ(PdfPages(Out("keep.pdf")), 1) << run.log;

  // With boxes allowed the question is asked; No keeps the file and the job ends without a name.
  std::ofstream(Out("ask.pdf")) << "mine";
  run = Marlin(
      {"/Task", "3", "/Hide", "4113", "/Res", "50", "/Type", "146", "/OutFile", Out("ask.pdf").string()},
      "msgbox NO\n");
  EXPECT_EQ(ReadFile(Out("ask.pdf")), "mine") << run.transcript;
  run = Marlin(
      {"/Task", "3", "/Hide", "4113", "/Res", "50", "/Type", "146", "/OutFile", Out("ask.pdf").string()},
      "msgbox YES\n");
  EXPECT_EQ(PdfPages(Out("ask.pdf")), 1) << run.transcript << run.log;

  // An existing name confirmed in Save As is asked about once and replaced by the finished scan.
  std::ofstream(Out("chosen.pdf")) << "mine too";
  run = Marlin(
      {"/Task", "3", "/Hide", "17", "/Res", "50", "/Type", "146", "/Dir", (m_dir / "out").string() + "/"},
      "file chosen.pdf\nmsgbox YES\n");
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_EQ(PdfPages(Out("chosen.pdf")), 1) << run.transcript << run.log;
  EXPECT_NE(run.log.find("Replaced " + Out("chosen.pdf").string()), std::string::npos) << run.log;
}

TEST_F(ScanJobTest, OutputNamesAreDataNeverCommands) {
  const std::string trap = (m_dir / "ran").string();
  const std::vector<std::string> names = {
      "my scan.pdf",
      "-leading dash.pdf",
      "$(touch " + trap + ").pdf",
      "`touch " + trap + "`.pdf",
      "caf\xC3\xA9 \xE2\x82\xAC.pdf",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const RunResult run = Marlin(Unattended({"/Type", "146", "/OutFile", Out(name).string()}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(PdfPages(Out(name)), 1) << run.log;
  }
  // Quotes cannot stand inside an option's value; a Quick Set holds them.
  const std::string odd = "quote\"and'apostrophe.pdf";
  SetQs("Odd", "OutFile", Out(odd).string());
  const RunResult run = Marlin(Unattended({"/Qs", "Odd", "/Type", "146"}));
  EXPECT_EQ(PdfPages(Out(odd)), 1) << run.log;
  EXPECT_FALSE(fs::exists(trap));
}

TEST_F(ScanJobTest, PlainOutFileLandsInTheCurrentFolderAndDirWithoutSlashIsAFolder) {
  RunResult run = Marlin(Unattended({"/Type", "146", "/OutFile", "plain"}));
  EXPECT_TRUE(fs::exists(m_dir / "cwd" / "plain.pdf")) << run.log;

  // File prompts hidden and no "OutFile": a unique name inside "Dir", also when "Dir" lacks its "/".
  run = Marlin(Unattended({"/Type", "146", "/Dir", (m_dir / "out" / "sub").string()}));
  size_t found = 0;
  for (const auto& entry : fs::directory_iterator(m_dir / "out" / "sub")) {
    EXPECT_EQ(entry.path().extension(), ".pdf");
    ++found;
  }
  EXPECT_EQ(found, 1u) << run.log;
}

TEST_F(ScanJobTest, ApplicationGetsEachFileAsItsOwnArgument) {
  const fs::path app = m_dir / "viewer app";
  const fs::path record = m_dir / "record.txt";
  std::ofstream(app) << "#!/bin/sh\nfor a in \"$@\"; do printf '<%s>\\n' \"$a\" >> " << Quote(record.string())
                     << "; done\n";
  fs::permissions(app, fs::perms::owner_all);
  SetQs("Viewer", "AppExe", " \"" + app.string() + "\" ");  // stored with quotes around it
  const RunResult run = Marlin(Unattended({"/Qs", "Viewer", "/Dest", "2", "/Type", "146", "/Dir",
                                           (m_dir / "out").string() + "/", "/Sleep", "0"}));
  EXPECT_EQ(run.exitCode, 0);
  // The application runs on its own after marlin3 has ended: wait for its record.
  std::string got;
  for (int i = 0; i < 100 && got.find(".pdf>\n") == std::string::npos; ++i) {
    usleep(50000);
    got = ReadFile(record);
  }
  ASSERT_EQ(got.rfind("<" + (m_dir / "out").string() + "/marlin", 0), 0u) << got << run.log;
  EXPECT_EQ(got.find(".pdf>\n"), got.size() - 6);
  EXPECT_NE(run.log.find("\"" + app.string() + "\" \"" + (m_dir / "out").string()), std::string::npos);
}

TEST_F(ScanJobTest, FailuresShowTheirMessageAndKeepTheScannedFiles) {
  // No scanner at all: the source choice opens with nothing to choose; Cancel ends the job quietly.
  std::ofstream(m_dir / "sane" / "dll.conf") << "";
  Shell(Bin("marlin3-product") + " remove >/dev/null");
  RunResult run =
      Marlin({"/Task", "3", "/Hide", "4113", "/Type", "146", "/OutFile", Out("none.pdf").string()},
             "dialog 143\ncancel\n");
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_NE(run.transcript.find("148 list count=0"), std::string::npos) << run.transcript;
  EXPECT_NE(run.log.find("user canceled from scanner selection dialog"), std::string::npos) << run.log;
  EXPECT_FALSE(fs::exists(Out("none.pdf")));
  std::ofstream(m_dir / "sane" / "dll.conf") << "test\n";
  Shell(Bin("marlin3-product") + " direct --port 60000 --device test:0 >/dev/null");

  // A folder that cannot be made (a file is in the way) with prompts hidden: the page stays in the
  // temporary folder.
  std::ofstream(Out("blocker")) << "x";
  run = Marlin(Unattended({"/Type", "146", "/OutFile", Out("blocker").string() + "/sub/x.pdf"}));
  EXPECT_EQ(run.exitCode, 0);
  size_t kept = 0;
  for (const auto& entry : fs::recursive_directory_iterator(m_dir / "tmp"))
    if (entry.path().extension() == ".pdf" && fs::file_size(entry.path()) > 0) ++kept;
  EXPECT_EQ(kept, 1u) << run.log;
  EXPECT_NE(run.log.find("and the hide level prevents asking for another"), std::string::npos) << run.log;

  // A cancelled Save As: nothing written, the scan stays.
  run = Marlin(
      {"/Task", "3", "/Hide", "17", "/Res", "50", "/Type", "146", "/Dir", (m_dir / "out").string() + "/"},
      "file cancel\n");
  EXPECT_NE(run.log.find("User cancelled out of saveAs dialog"), std::string::npos)
      << run.log << run.transcript;
}

TEST_F(ScanJobTest, ConvertTaskTakesNumberedInputsWithoutAnyPrompt) {
  for (int i = 1; i <= 3; ++i)
    Shell("convert -size 64x48 xc:'rgb(" + std::to_string(i * 60) + ",20,20)' " +
          Quote((m_dir / "cwd" / ("in" + std::to_string(i) + ".png")).string()));
  RunResult run = Marlin({"/Task", "8", "/InFile", "in.png", "/NumInFiles", "3", "/Type", "17", "/OutFile",
                          Out("all.tif").string()});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.transcript, "");
  const std::string info = Capture("tiffinfo " + Quote(Out("all.tif").string()) + " 2>/dev/null");
  size_t pages = 0;
  for (size_t at = info.find("Image Width: 64"); at != std::string::npos;
       at = info.find("Image Width: 64", at + 1))
    ++pages;
  EXPECT_EQ(pages, 3u) << info << run.log;
  EXPECT_NE(run.log.find("No directory given so using current"), std::string::npos);

  // InFile1, InFile2 (InFile3 absent) joined to "Dir".
  run = Marlin({"/Task", "8", "/InFile1", "in1.png", "/InFile2", "in3.png", "/Dir", (m_dir / "cwd").string(),
                "/Type", "146", "/OutFile", Out("two.pdf").string()});
  EXPECT_EQ(PdfPages(Out("two.pdf")), 2) << run.log;

  // No input and every prompt hidden: a log line, no box.
  run = Marlin({"/Task", "8", "/Type", "146", "/OutFile", Out("x.pdf").string()});
  EXPECT_EQ(run.transcript, "");
  EXPECT_NE(run.log.find("No filename given, hide level prevents user prompt"), std::string::npos);
}

// A second type's files carry that type's extension ("Ext2", else Type2's own), never the main one's.
TEST_F(ScanJobTest, ConvertTaskSecondOutputsKeepTheirExtension) {
  Shell("convert -size 64x48 xc:red xc:blue " + Quote((m_dir / "cwd" / "two.tif").string()));
  RunResult run = Marlin({"/Task", "8", "/InFile", "two.tif", "/Type", "3", "/Type2", "10", "/Ext2", "jpg",
                          "/OutFile", Out("out.tif").string()});
  EXPECT_EQ(run.exitCode, 0) << run.log;
  EXPECT_EQ(Capture("identify -format '%m ' " + Quote(Out("out.tif").string()) + " 2>/dev/null"),
            "TIFF TIFF ");
  for (const char* name : {"out2.jpg", "out3.jpg"})
    EXPECT_EQ(Capture("identify -format '%m' " + Quote(Out(name).string()) + " 2>/dev/null"), "JPEG") << name;
  EXPECT_FALSE(fs::exists(Out("out2.tif")));
  // Without "Ext2" the second type's own extension.
  run = Marlin({"/Task", "8", "/InFile", "two.tif", "/Type", "3", "/Type2", "75", "/OutFile",
                Out("own.tif").string()});
  EXPECT_EQ(run.exitCode, 0) << run.log;
  EXPECT_EQ(Capture("identify -format '%m' " + Quote(Out("own2.png").string()) + " 2>/dev/null"), "PNG");
}

// The mail road: every prompt and the mail window hidden (silent), the scanner's dialog picks the
// feeder, Extended MAPI submits to a real SMTP server on loopback (the mail tests' aiosmtpd server).
void ScanJobTest::MailRoad(bool withStore, std::string& raw) {
  const fs::path received = m_dir / "received";
  const fs::path portFile = m_dir / "smtp-port.txt";
  const product_run::SmtpServer smtp = product_run::StartSmtpServer(received, portFile);
  ASSERT_FALSE(smtp.port.empty()) << "the SMTP server did not start";
  FILE* server = smtp.server;
  const std::string& port = smtp.port;
  const std::string xdg = "XDG_CONFIG_HOME=" + Quote((m_dir / "config").string()) + " ";
  // Without a message store Extended MAPI cannot work, and the job falls back to Simple MAPI.
  ASSERT_EQ(
      0, Shell(xdg + Bin("marlin3-mail") + " create --address scanner@example.org --host 127.0.0.1 --port " +
               port + " --security none --store " +
               (withStore ? Quote((m_dir / "store").string()) : std::string("none")) + " >/dev/null"));

  std::ofstream(m_dir / "script.txt") << kFeederScript;
  // 0x11111101: all hidden but the scanner's dialog (it chooses the feeder); 0x10000: send silently.
  const int rc =
      Shell(xdg + Bin("marlin3") + " /Task 3 /Hide 286331137 /Dest 1 /Type 10 /To bob@example.org" +
            " /Subject 'Scanned pages' /AttachName report.jpg");
  pclose(server);
  EXPECT_EQ(rc, 0);
  size_t messages = 0;
  for (const auto& entry : fs::directory_iterator(received / "new")) {
    raw = ReadFile(entry.path());
    ++messages;
  }
  ASSERT_EQ(messages, 1u) << ReadFile(m_dir / "tmp" / "marlin3.log");
  EXPECT_NE(raw.find("Subject: Scanned pages"), std::string::npos);
  EXPECT_NE(raw.find("bob@example.org"), std::string::npos);
  // The scanned files stay where they were: mail takes copies.
  size_t kept = 0;
  for (const auto& entry : fs::recursive_directory_iterator(m_dir / "tmp"))
    if (entry.path().extension() == ".jpg") ++kept;
  EXPECT_EQ(kept, 10u);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(ScanJobTest, MailRoadSendsEveryPageAsAnAttachment) {
  // Extended MAPI names each attachment after its file.
  std::string raw;
  MailRoad(true, raw);
  EXPECT_EQ(Count(raw, "filename=\"marlin"), 10u) << raw.substr(0, 2000);
}

TEST_F(ScanJobTest, MailRoadFallsBackToSimpleMapiWithTheAttachmentNames) {
  // Simple MAPI shows the names of "AttachName": report.jpg, report2.jpg ... report10.jpg.
  std::string raw;
  MailRoad(false, raw);
  for (const char* name :
       {"filename=\"report.jpg\"", "filename=\"report2.jpg\"", "filename=\"report10.jpg\""})
    EXPECT_EQ(Count(raw, name), 1u) << name << raw.substr(0, 2000);
  EXPECT_EQ(Count(raw, "filename=\"marlin"), 0u);
}

// A full disk at the destination (a 64 KiB tmpfs; needs root to mount): the job fails with its log line,
// no half-written file stays there and the scanned pages stay in the temporary folder.
TEST_F(ScanJobTest, FullDiskFailsTheJobAndKeepsTheScan) {
  const fs::path small = m_dir / "small";
  fs::create_directories(small);
  if (geteuid() != 0 ||
      Shell("mount -t tmpfs -o size=64k tmpfs " + Quote(small.string()) + " 2>/dev/null") != 0)
    GTEST_SKIP() << "a small file system needs root and mount";
  const RunResult run = Marlin(
      {"/Task", "3", "/Hide", "4097", "/Type", "146", "/OutFile", (small / "big.pdf").string()},
      "dialog 160\nselect 1601 Colour\nselect 1602 300\nselect 1603 Automatic Document Feeder\nclick 1\n");
  Shell("umount " + Quote(small.string()));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.log.find("Error copying"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("Moving files failed"), std::string::npos) << run.log;
  size_t kept = 0;
  for (const auto& entry : fs::recursive_directory_iterator(m_dir / "tmp"))
    if (entry.path().extension() == ".pdf" && fs::file_size(entry.path()) > 64 * 1024) ++kept;
  EXPECT_EQ(kept, 1u);
}

// The device fails while a page is read (SANE's I/O error, as when it is unplugged): the scan's box
// (caption 193, string 201) and its log line, nothing delivered.
TEST_F(ScanJobTest, DeviceFailingDuringAPageEndsWithTheScanMessage) {
  FailReadsWithIoError();
  const RunResult run = Marlin(
      {"/Task", "3", "/Hide", "4113", "/Res", "50", "/Type", "146", "/OutFile", Out("never.pdf").string()},
      "msgbox OK\n");
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_NE(run.transcript.find("icon=exclamation"), std::string::npos) << run.transcript;
  EXPECT_NE(run.log.find("Aquire failed or was canceled"), std::string::npos) << run.log;
  EXPECT_FALSE(fs::exists(Out("never.pdf")));
}

TEST_F(ScanJobTest, FindIrisMakesTheOcrQuickSetOnceFromEachSource) {
  const fs::path windows = m_dir / "windows";
  fs::create_directories(windows);
  auto exe = [&](const std::string& folder) {
    fs::create_directories(m_dir / folder);
    std::ofstream(m_dir / folder / "readiris.exe") << "";
    return (m_dir / folder).string();
  };
  const std::string main = "HKCU\\SOFTWARE\\Nexora\\marlin3";
  auto appExe = [&]() {
    return Capture(Env() + Bin("marlin3-reg") + " query " + Quote(main + "\\Scan to OCR") +
                   " /v AppExe 2>/dev/null");
  };
  auto startMainDialog = [&]() {
    std::ofstream(m_dir / "script.txt") << "dialog 102\ncancel\n";
    return Shell("MARLIN3_WINDOWS_DIR=" + Quote(windows.string()) + " " + Bin("marlin3"));
  };
  struct Case {
    const char* name;
    std::function<std::string()> install;  // gives the folder it installed to
  };
  const Case cases[] = {
      {"ini current-version-path, CR LF line",
       [&] {
         const std::string folder = exe("iris-ini");
         std::ofstream(windows / "readiris.ini")
             << "[x]\r\ncurrent-version-path= " << folder << "  \r\nmore=1\r\n";
         return folder;
       }},
      {"machine key",
       [&] {
         const std::string folder = exe("iris-key");
         const std::string key = "HKLM\\SOFTWARE\\I.R.I.S.\\Readiris\\10.0";
         Shell(Bin("marlin3-reg") + " add " + Quote(key) + " /v CompleteInstall /d 1 /f >/dev/null");
         Shell(Bin("marlin3-reg") + " add " + Quote(key) + " /v Path /d " + Quote(folder) + " /f >/dev/null");
         return folder;
       }},
      {"profile full_path9",
       [&] {
         const std::string folder = exe("iris-profile");
         std::ofstream(windows / "readiris.ini") << "[Readiris]\nfull_path9=" << folder << "\n";
         return folder;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Shell(Bin("marlin3-reg") + " delete " + Quote(main + "\\Scan to OCR") + " /f >/dev/null 2>&1");
    Shell(Bin("marlin3-reg") + " delete " + Quote("HKLM\\SOFTWARE\\I.R.I.S.") + " /f >/dev/null 2>&1");
    fs::remove(windows / "readiris.ini");
    const std::string folder = c.install();
    EXPECT_EQ(startMainDialog(), 0) << ReadFile(m_dir / "tmp" / "marlin3.log");
    EXPECT_NE(appExe().find(folder + "/readiris.exe"), std::string::npos) << appExe();
  }
  // Present once: never rewritten, even when the application has moved.
  const std::string before = appExe();
  std::ofstream(windows / "readiris.ini") << "current-version-path=" << exe("moved") << "\n";
  EXPECT_EQ(startMainDialog(), 0);
  EXPECT_EQ(appExe(), before);
  // No such application anywhere: the Quick Set scans into our own (marlin3-ocr beside marlin3).
  Shell(Bin("marlin3-reg") + " delete " + Quote(main + "\\Scan to OCR") + " /f >/dev/null 2>&1");
  fs::remove(windows / "readiris.ini");
  fs::remove_all(m_dir / "iris-profile");
  Shell(Bin("marlin3-reg") + " delete " + Quote("HKLM\\SOFTWARE\\I.R.I.S.") + " /f >/dev/null 2>&1");
  EXPECT_EQ(startMainDialog(), 0);
  EXPECT_NE(appExe().find(Bin("marlin3-ocr")), std::string::npos) << appExe();
}

}  // namespace
