// A Quick Set made in the wizard and then scanned with from the main dialog, for each destination and
// each file type the file page offers: the real marlin3 on the scripted host and SANE's test backend, a
// loopback SMTP server (aiosmtpd) for e-mail, a recorder script as the application, and independent
// readers (identify, tiffinfo, pdfinfo, pdfimages) for what was written. Pages are 1 by 1 inch at 75 dpi.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/ProductRun.h"

namespace fs = std::filesystem;

namespace {

using product_run::Quote;
using product_run::ReadFile;
using product_run::RunResult;

using product_run::Has;

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class QsScanTest : public product_run::ProductRun {
 protected:
  // The wizard from Setup up to the destination page of a new Quick Set.
  static std::string NewQs() { return "dialog 102\nclick 3\nwizard\nradio 1048\nnext\n"; }

  // The settings page: 75 dpi, the depth given, a 1 by 1 inch custom page.
  static std::string SmallPage(const std::string& depthLabel) {
    return "select 42 75 dpi\nselect 44 " + depthLabel + "\nradio 47\ntype 54 1\ntype 52 1\nnext\n";
  }

  // The files of a folder with that extension (any, when empty).
  static std::vector<fs::path> FilesIn(const fs::path& folder, const std::string& ext) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
      if (ext.empty() || entry.path().extension() == ext) found.push_back(entry.path());
    return found;
  }

  std::string QueryQs(const std::string& qs) const {
    return Capture(Bin("marlin3-reg") + " query " + Quote("HKCU\\SOFTWARE\\Nexora\\marlin3\\" + qs) +
                   " 2>/dev/null");
  }
};

// The e-mail road: a Quick Set that mails silently (the mail window unticked, To and Subject given)
// through the profile's loopback SMTP server; one message with the one scanned page attached.
TEST_F(QsScanTest, MailQuickSetSendsTheScanSilently) {
  const fs::path received = m_dir / "received";
  const fs::path portFile = m_dir / "smtp-port.txt";
  const product_run::SmtpServer smtp = product_run::StartSmtpServer(received, portFile);
  ASSERT_FALSE(smtp.port.empty()) << "the SMTP server did not start";
  FILE* server = smtp.server;
  const std::string& port = smtp.port;
  // The mail profile lives in the test's own configuration folder; marlin3 inherits it.
  setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
  ASSERT_EQ(0, Shell(Bin("marlin3-mail") + " create --address scanner@example.org --host 127.0.0.1 --port " +
                     port + " --security none --store " + Quote((m_dir / "store").string()) + " >/dev/null"));

  const std::string script = NewQs() + "radio 1001\nnext\n" + SmallPage("Grayscale (8 bit)") +
                             "select 69 JPEG image (*.jpg)\nuncheck 1025\ntype 64 bob@example.org\n"
                             "type 65 Scanned pages\ntype 67 See the page.\nnext\n"
                             "next\ntype 1021 Mail Bob\nnext\nfinish\nclick 1048\n";
  const RunResult run = RunMarlin({}, script);
  pclose(server);  // the server stops when its input closes, after the delivery
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  // Mail never asks for a file name, and the mail window is not shown (0x10000).
  EXPECT_TRUE(Has(QueryQs("Mail Bob"), "Hide    REG_SZ    65552")) << QueryQs("Mail Bob");

  std::vector<fs::path> messages = FilesIn(received / "new", "");
  ASSERT_EQ(messages.size(), 1u) << run.log << run.transcript;
  const std::string raw = ReadFile(messages[0]);
  EXPECT_TRUE(Has(raw, "Subject: Scanned pages")) << raw.substr(0, 1500);
  EXPECT_TRUE(Has(raw, "bob@example.org")) << raw.substr(0, 1500);
  EXPECT_TRUE(Has(raw, "See the page.")) << raw.substr(0, 1500);
  // One attachment, named after the scanned file.
  EXPECT_EQ(Count(raw, "filename="), 1u) << raw.substr(0, 2000);
  EXPECT_EQ(Count(raw, "filename=\"marlin"), 1u) << raw.substr(0, 2000);
  EXPECT_TRUE(Has(raw, ".jpg\"")) << raw.substr(0, 2000);
  EXPECT_TRUE(Has(ReadFile(received.parent_path() / "envelopes.txt"), "bob@example.org"));
  // The attachment is the scanned page byte for byte (mail sends a copy; the scan stays).
  std::vector<fs::path> scanned;
  for (const auto& entry : fs::recursive_directory_iterator(m_dir / "tmp"))
    if (entry.path().extension() == ".jpg") scanned.push_back(entry.path());
  ASSERT_EQ(scanned.size(), 1u);
  const std::string inspected = Capture(
      "/usr/bin/python3 " + Quote(std::string(MARLIN3_SOURCE_DIR) + "/tests/mail/inspect_message.py") + " " +
      Quote(messages[0].string()) + " " + Quote(scanned[0].string()));
  EXPECT_TRUE(Has(inspected, "Attachment: '" + scanned[0].filename().string() + "' ")) << inspected;
  EXPECT_TRUE(Has(inspected, " same\n")) << inspected;
}

// The application road: the recorder gets the one scanned file, saved without asking into the folder
// typed on the page, as its only argument.
TEST_F(QsScanTest, ApplicationQuickSetHandsTheScannedFileToTheProgram) {
  const fs::path app = m_dir / "recorder app";
  const fs::path record = m_dir / "record.txt";
  std::ofstream(app) << "#!/bin/sh\nprintf '%s\\n' \"$#\" >> " << Quote(record.string())
                     << "\nfor a in \"$@\"; do printf '<%s>\\n' \"$a\" >> " << Quote(record.string())
                     << "; done\n";
  fs::permissions(app, fs::perms::owner_all);
  const fs::path folder = m_dir / "out" / "app files";
  const std::string script = NewQs() + "radio 1002\nnext\n" + SmallPage("Color (24 bit)") + "type 75 " +
                             app.string() + "\nselect 77 TIFF image, compressed (*.tif)\ncheck 1046\n" +
                             "type 78 " + folder.string() +
                             "/\nnext\ntype 1021 Open It\nnext\nfinish\nclick 1048\n";
  const RunResult run = RunMarlin({}, script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  // The program runs on its own after marlin3 has ended: wait for its record.
  std::string got;
  for (int i = 0; i < 200 && !Has(got, ".tif>\n"); ++i) {
    usleep(25000);
    got = ReadFile(record);
  }
  const std::vector<fs::path> tifs = FilesIn(folder, ".tif");
  ASSERT_EQ(tifs.size(), 1u) << run.transcript << run.log;
  EXPECT_EQ(got, "1\n<" + tifs[0].string() + ">\n") << run.log;
  EXPECT_EQ(tifs[0].filename().string().rfind("marlin", 0), 0u) << tifs[0];
  const std::string info = Capture("tiffinfo " + Quote(tifs[0].string()) + " 2>/dev/null");
  EXPECT_TRUE(Has(info, "Image Width: 75 Image Length: 75") || Has(info, "Image Width: 74 Image Length: 74"))
      << info;
  EXPECT_EQ(Count(info, "TIFF Directory"), 1u) << info;
  EXPECT_TRUE(Has(info, "Samples/Pixel: 3")) << info;
  EXPECT_FALSE(Has(info, "Compression Scheme: None")) << info;
}

// 1 inch at 75 dpi: 75 pixels, or 74 where SANE's fixed-point millimetres (25.4 is held as 25.39999)
// meet a backend that cuts its pixel count.
bool OneInch(const std::string& size) {
  return size == "75x75" || size == "74x74" || size == "74x75" || size == "75x74";
}

// Every file type of the file page, each with a depth of the settings page: the type, the page count,
// the size and the depth as an independent reader sees them.
TEST_F(QsScanTest, EveryFileTypeOfTheFilePageScansIntoThatType) {
  struct Case {
    const char* label;       // the entry of the file page's type list
    const char* ext;         // the extension of the written file
    bool qualityPage;        // the file attributes page follows (JPEG, PNG, PDF)
    const char* depthLabel;  // the settings page's depth
    const char* expected;    // parts of the reader's answer, separated by '|'
  };
  const Case cases[] = {
      {"JPEG image (*.jpg)", ".jpg", true, "Color (24 bit)", "JPEG TrueColor depth=8 frames=1|components 3"},
      {"TIFF image, compressed (*.tif)", ".tif", false, "Black and white (1 bit)",
       "Bits/Sample: 1|CCITT Group 4|dirs=1"},
      {"TIFF image, uncompressed (*.tif)", ".tif", false, "Grayscale (8 bit)",
       "Bits/Sample: 8|Samples/Pixel: 1|Compression Scheme: None|dirs=1"},
      {"BMP image (*.bmp)", ".bmp", false, "Color (24 bit)", "BMP3 |frames=1|x 24,"},
      {"GIF image (*.gif)", ".gif", false, "Grayscale (8 bit)",
       "GIF Grayscale depth=8 frames=1|GIF image data"},
      {"PDF document (*.pdf)", ".pdf", true, "Grayscale (8 bit)", "Pages:           1|image gray 8"},
      {"PNG image (*.png)", ".png", true, "Black and white (1 bit)",
       "PNG Bilevel depth=1 frames=1|1-bit grayscale"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const fs::path folder = m_dir / "out" / ("type" + std::to_string(++n));
    const std::string name = std::string("Type ") + std::to_string(n);
    const std::string script = NewQs() + "next\n" + SmallPage(c.depthLabel) + "radio 1062\ntype 57 " +
                               folder.string() + "/\nselect 63 " + c.label + "\nnext\nmsgbox YES\n" +
                               (c.qualityPage ? "next\n" : "") + "type 1021 " + name +
                               "\nnext\nfinish\nclick 1048\n";
    const RunResult run = RunMarlin({}, script);
    EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
    if (n == 1) {
      // The cases are every type the page lists, in its order.
      const size_t list = run.transcript.find("63 droplist count=");
      ASSERT_NE(list, std::string::npos) << run.transcript;
      std::vector<std::string> offered;
      std::istringstream lines(run.transcript.substr(run.transcript.find('\n', list) + 1));
      for (std::string line; std::getline(lines, line) && line.rfind("    item \"", 0) == 0;)
        offered.push_back(line.substr(10, line.find("\" data=") - 10));
      std::vector<std::string> tested;
      for (const Case& t : cases) tested.push_back(t.label);
      EXPECT_EQ(offered, tested);
    }
    const std::vector<fs::path> files = FilesIn(folder, c.ext);
    ASSERT_EQ(files.size(), 1u) << run.transcript << run.log;
    const std::string file = Quote(files[0].string());
    std::string seen;
    std::string size;
    if (std::string(c.ext) == ".tif") {
      seen = Capture("tiffinfo " + file + " 2>/dev/null");
      seen += "dirs=" + std::to_string(Count(seen, "TIFF Directory"));
      int w = 0;
      int h = 0;
      const size_t at = seen.find("Image Width:");
      if (at != std::string::npos) std::sscanf(seen.c_str() + at, "Image Width: %d Image Length: %d", &w, &h);
      size = std::to_string(w) + "x" + std::to_string(h);
    } else if (std::string(c.ext) == ".pdf") {
      // pdfimages -list, one line per image: page num type width height color comp bpc ...
      seen = Capture("pdfinfo " + file + " 2>/dev/null");
      std::istringstream list(Capture("pdfimages -list " + file + " 2>/dev/null"));
      for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        std::string page, num, type, w, h, color, comp, bpc;
        if (!(fields >> page >> num >> type >> w >> h >> color >> comp >> bpc) || page != "1") continue;
        seen += type + " " + color + " " + bpc + "\n";
        size = w + "x" + h;
      }
    } else {
      // identify for the format and the pixels, file for the depth the header declares.
      seen =
          Capture("identify -format '%m %[type] depth=%[bit-depth] frames=%n\\n' " + file + " 2>/dev/null") +
          Capture("file -b " + file);
      size = Capture("identify -format '%wx%h' " + file + " 2>/dev/null");
    }
    EXPECT_TRUE(OneInch(size)) << size;
    std::string expected = c.expected;
    for (size_t start = 0; start <= expected.size();) {
      const size_t bar = expected.find('|', start);
      const std::string part =
          expected.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
      EXPECT_TRUE(Has(seen, part)) << part << "\n" << seen;
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
  }
}

}  // namespace
