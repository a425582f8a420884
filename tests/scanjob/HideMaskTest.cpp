// Every combination of the hide bits the scan job reads, through whole runs of the real marlin3 on
// SANE's test backend: which boxes and dialogs the scripted host shows (main dialog, scanner dialog,
// progress, the more-pages question, Save As, the result box) and what lands in the output folder.
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

using product_run::Quote;
using product_run::RunResult;

constexpr int kMainDialog = 0x1;
constexpr int kScannerDialog = 0x10;
constexpr int kProgress = 0x100;  // second flag of the scan mode: with it the progress goes too
constexpr int kFilePrompts = 0x1000;
constexpr int kMailWindow = 0x10000;
constexpr int kAnotherPage = 0x100000;
constexpr int kAll = 0x11111111;
constexpr int kBits[] = {kMainDialog, kScannerDialog, kProgress, kFilePrompts, kMailWindow, kAnotherPage};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string Hex(int mask) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", mask);
  return text;
}

class HideMaskTest : public product_run::ProductRun {
 protected:
  // A file scan with no "OutFile": the Save As dialog decides the name unless prompts are hidden. The
  // Quick Set's scan settings give a 1 x 1 inch page at 50 dpi; the scanner's dialog, when it shows,
  // asks for 50 x 50 mm at 75 dpi instead, so the page's size tells whose settings were used.
  RunResult Scan(int mask, const std::string& script) {
    return RunMarlin({"/Task", "3", "/Hide", std::to_string(mask), "/Res", "50", "/InX", "1440", "/InY",
                      "1440", "/Type", "146", "/Dir", (m_dir / "out").string() + "/"},
                     script);
  }

  // The PDF files in the output folder.
  std::vector<fs::path> Outputs() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(m_dir / "out"))
      if (entry.path().extension() == ".pdf") found.push_back(entry.path());
    return found;
  }
};

TEST_F(HideMaskTest, EachCombinationShowsWhatItAllowsAndSavesThePage) {
  std::vector<int> masks;
  for (int combination = 0; combination < 64; ++combination) {
    int mask = 0;
    for (int bit = 0; bit < 6; ++bit)
      if (combination & (1 << bit)) mask |= kBits[bit];
    masks.push_back(mask);
  }
  masks.push_back(kAll);  // also hides every message box

  for (const int mask : masks) {
    SCOPED_TRACE("Hide " + Hex(mask));
    const bool mainDialog = (mask & kMainDialog) == 0;
    const bool scannerDialog = (mask & kScannerDialog) == 0;
    const bool progress = (mask & kProgress) == 0;
    const bool filePrompt = (mask & kFilePrompts) == 0;
    const bool anotherPage = (mask & (kMainDialog | kFilePrompts | kMailWindow | kAnotherPage)) == 0;

    std::string script;
    if (mainDialog) script += "dialog 102\nclick 1048\n";
    if (scannerDialog) script += "dialog 160\nselect 1602 75\ntype 1606 50\ntype 1607 50\nclick 1\n";
    if (anotherPage) script += "msgbox NO\n";
    if (filePrompt) script += "file chosen.pdf\n";
    fs::remove_all(m_dir / "out");
    fs::create_directories(m_dir / "out");
    const RunResult run = Scan(mask, script);
    const std::string& shown = run.transcript;

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Count(shown, "error:"), 0u) << shown;  // the script was used up, nothing unexpected asked
    EXPECT_EQ(Count(shown, "end dialog 102 result=1"), mainDialog ? 1u : 0u) << shown;
    EXPECT_EQ(Count(shown, "end dialog 160 result=1"), scannerDialog ? 1u : 0u) << shown;
    EXPECT_EQ(Count(shown, "end modeless 162"), progress ? 1u : 0u) << shown;  // the progress window
    EXPECT_EQ(Count(shown, "msgbox "), anotherPage ? 1u : 0u) << shown;
    EXPECT_EQ(Count(shown, "buttons=YESNO icon=question answer=NO"), anotherPage ? 1u : 0u) << shown;
    EXPECT_EQ(Count(shown, "filedialog save"), filePrompt ? 1u : 0u) << shown;

    // One page in one file: the chosen name, or a unique name in "Dir" when prompts are hidden.
    const std::vector<fs::path> outputs = Outputs();
    ASSERT_EQ(outputs.size(), 1u) << run.log << shown;
    const std::string name = outputs[0].filename().string();
    if (filePrompt)
      EXPECT_EQ(name, "chosen.pdf");
    else
      EXPECT_EQ(name.rfind("marlin", 0), 0u) << name;
    const std::string info = Capture("pdfinfo " + Quote(outputs[0].string()) + " 2>/dev/null");
    EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << info;
    // The Quick Set's inch is 72 points (49 pixels at 50 dpi: 70.6); the dialog's 50 mm are 141.7.
    const size_t at = info.find("Page size:");
    ASSERT_NE(at, std::string::npos) << info;
    EXPECT_NEAR(std::atof(info.c_str() + at + 10), scannerDialog ? 141.7 : 72.0, 2.0) << info;
    EXPECT_EQ(run.log.find("Error"), std::string::npos) << run.log;
  }
}

// The result box of a failed scan (the device fails while sending) is hidden only when every bit is set;
// the log line is written either way.
TEST_F(HideMaskTest, ResultBoxIsHiddenOnlyUnderTheFullMask) {
  FailReadsWithIoError();
  const struct {
    int mask;
    bool box;
    const char* script;
  } cases[] = {
      {kAll, false, ""},
      {kAll & ~0x10000000, true, "msgbox OK\n"},  // a bit the job never reads on its own matters here
      {0x111111, true, "msgbox OK\n"},            // every bit the road reads
      {0x10, true, "dialog 102\nclick 1048\nmsgbox OK\n"},  // the default
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("Hide " + Hex(c.mask));
    const RunResult run = Scan(c.mask, c.script);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Count(run.transcript, "error:"), 0u) << run.transcript;
    EXPECT_EQ(
        Count(run.transcript, "msgbox caption=\"marlin3 Scan\" text=\"The scan failed or was cancelled.\""),
        c.box ? 1u : 0u)
        << run.transcript;
    EXPECT_NE(run.log.find("DoScan> Aquire failed or was canceled"), std::string::npos) << run.log;
    EXPECT_TRUE(Outputs().empty());
  }
}

// The convert task runs with every bit set: a later numbered target that exists is never asked about.
// Without "OverWrite" the user's file stays and that page stays where it was; with it, it is replaced.
TEST_F(HideMaskTest, FullMaskNeverAsksAboutAnExistingNumberedFile) {
  for (int i = 1; i <= 3; ++i)
    Shell("convert -size 64x48 xc:'rgb(" + std::to_string(i * 60) + ",20,20)' " +
          Quote((m_dir / "cwd" / ("in" + std::to_string(i) + ".png")).string()));
  const std::string second = (m_dir / "out" / "x2.jpg").string();
  for (const bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite ? "OverWrite 1" : "no OverWrite");
    std::ofstream(second) << "the user's own file";
    std::vector<std::string> args = {
        "/Task", "8",     "/InFile", "in.png",   "/NumInFiles",
        "3",     "/Type", "10",      "/OutFile", (m_dir / "out" / "x.jpg").string()};
    if (overwrite) args.insert(args.end(), {"/OverWrite", "1"});
    const RunResult run = RunMarlin(args, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.transcript, "");
    EXPECT_TRUE(fs::exists(m_dir / "out" / "x.jpg"));
    EXPECT_TRUE(fs::exists(m_dir / "out" / "x3.jpg"));
    const std::string kept = product_run::ReadFile(second);
    if (overwrite) {
      EXPECT_NE(kept, "the user's own file");
      EXPECT_NE(Capture("identify -format '%m' " + Quote(second)).find("JPEG"), std::string::npos);
      EXPECT_NE(run.log.find("Replaced " + second), std::string::npos) << run.log;
    } else {
      EXPECT_EQ(kept, "the user's own file");
      EXPECT_NE(run.log.find("hidden Ui, no confirm, '" + second + "' already exists"), std::string::npos)
          << run.log;
      EXPECT_NE(run.log.find("Moving files failed"), std::string::npos) << run.log;
    }
  }
}

}  // namespace
