// The main dialog and the Quick Set wizard as a user meets them: the real marlin3 started without
// options, every dialog answered by the scripted host, scans from SANE's test backend (configured in the
// test's own folder), the Quick Sets checked in the registry files through marlin3-reg.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

class QsUiTest : public product_run::ProductRun {
 protected:
  // marlin3 started by a user: no options unless given.
  RunResult Marlin(const std::string& script, const std::vector<std::string>& args = {}) {
    return RunMarlin(args, script);
  }

  // The values of a Quick Set as the registry files hold them ("" when the key is missing).
  std::string QueryQs(const std::string& qs) const {
    return Capture(Bin("marlin3-reg") + " query " + Quote("HKCU\\SOFTWARE\\Nexora\\marlin3\\" + qs) +
                   " 2>/dev/null");
  }
  std::string QueryMain() const {
    return Capture(Bin("marlin3-reg") + " query " + Quote("HKCU\\SOFTWARE\\Nexora\\marlin3") +
                   " 2>/dev/null");
  }
};

// Transcript lines of the main dialog are checked as the user sees them.
bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One-time scan: the one-time entry, the wizard's destination, settings, file, quality and finish
// pages, then the scan into the path typed (the type's extension added).
TEST_F(QsUiTest, OneTimeScanThroughTheWizardScansIntoTheTypedFile) {
  const std::string script =
      "dialog 102\nselect 1001 <One-time scan>\nclick 1048\nwizard\nnext\n"
      "select 42 75 dpi\nradio 47\ntype 54 1\ntype 52 1\nnext\n"
      "type 57 " +
      Out("one").string() + "\nnext\nnext\nfinish\nmsgbox NO\n";
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  EXPECT_TRUE(fs::exists(Out("one.jpg"))) << run.transcript << run.log;
  EXPECT_TRUE(Has(run.transcript, "1034 static text=\"Output file: " + Out("one.jpg").string() + "\""))
      << run.transcript;
  EXPECT_TRUE(Has(QueryMain(), "<One-time scan>")) << QueryMain();
}

// A new Quick Set to a folder, saved by the wizard, selected in the box, then scanned with.
TEST_F(QsUiTest, NewQuickSetToAFolderIsListedSelectedAndScansThere) {
  const std::string folder = (m_dir / "out").string() + "/";
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1048\nnext\nnext\n"
      "select 42 75 dpi\nradio 47\ntype 54 1\ntype 52 1\nnext\n"
      "radio 1062\ntype 57 " +
      folder +
      "\nselect 63 PNG image (*.png)\nnext\n"
      "slide 82 3\nnext\ntype 1021 My Folder Set\nnext\nfinish\n"
      "show\nclick 1048\n";  // file prompts hidden (0x1000): no more-pages question
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  const std::string qs = QueryQs("My Folder Set");
  EXPECT_TRUE(Has(qs, "Task")) << qs;
  EXPECT_TRUE(Has(qs, "Type") && Has(qs, "75")) << qs;
  EXPECT_TRUE(Has(qs, "Quality") && Has(qs, "3")) << qs;
  // Saved without asking (0x1000), own scan settings (0x10), the mail window shown (0x10000 clear).
  EXPECT_TRUE(Has(qs, "Hide    REG_SZ    4112")) << qs;
  EXPECT_TRUE(Has(run.transcript, "sel=3 text=\"My Folder Set\"") ||
              Has(run.transcript, "text=\"My Folder Set\""))
      << run.transcript;
  size_t pngs = 0;
  for (const auto& entry : fs::directory_iterator(m_dir / "out")) pngs += entry.path().extension() == ".png";
  EXPECT_EQ(pngs, 1u) << run.transcript << run.log;
}

// A PDF Quick Set made searchable on the quality page: the languages offered are the installed ones
// (and each with English), by their own names, the choice is stored as "Ocr"; a JPEG Quick Set hides the
// choice.
TEST_F(QsUiTest, QualityPageMakesAPdfQuickSetSearchable) {
  const std::string folder = (m_dir / "out").string() + "/";
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1048\nnext\nnext\nnext\nradio 1062\ntype 57 " + folder +
      "\nselect 63 PDF document (*.pdf)\nnext\nshow\ncheck 84\nselect 86 Deutsch + English\nnext\n"
      "type 1021 Letters\nnext\nfinish\ncancel\n";
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript << run.log;
  EXPECT_TRUE(Has(run.transcript, "item \"Deutsch + English\"")) << run.transcript;
  EXPECT_TRUE(Has(run.transcript, "item \"English\"")) << run.transcript;
  EXPECT_TRUE(Has(run.transcript, "84 check unchecked")) << run.transcript;
  EXPECT_TRUE(Has(QueryQs("Letters"), "Ocr    REG_SZ    deu+eng")) << QueryQs("Letters");

  const std::string jpeg = "dialog 102\nclick 3\nwizard\nradio 1048\nnext\nnext\nnext\nradio 1062\ntype 57 " +
                           folder + "\nselect 63 JPEG image (*.jpg)\nnext\nshow\ncancel\ncancel\n";
  const RunResult other = Marlin(jpeg);
  const size_t page = other.transcript.rfind("page 150");
  ASSERT_NE(page, std::string::npos) << other.transcript;
  EXPECT_TRUE(Has(other.transcript.substr(page), "84 check unchecked disabled hidden"))
      << other.transcript.substr(page);
}

// Cancel on every page of the one-time wizard: the dialog stays open, nothing is scanned or saved.
TEST_F(QsUiTest, CancelAtEveryPageKeepsTheDialogAndScansNothing) {
  const char* steps[] = {"", "next\n", "next\nnext\n", "next\nnext\ntype 57 /tmp/x\nnext\n"};
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    const std::string script = std::string("dialog 102\nselect 1001 <One-time scan>\nclick 1048\nwizard\n") +
                               step + "cancel\nshow\ncancel\n";
    const RunResult run = Marlin(script);
    EXPECT_EQ(run.exitCode, 0) << run.transcript;
    EXPECT_TRUE(Has(run.transcript, "end wizard result=2")) << run.transcript;
    EXPECT_TRUE(Has(run.transcript, "end dialog 102 result=2")) << run.transcript;
    EXPECT_TRUE(Has(run.log, "Wizard dialog cancelled")) << run.log;
    EXPECT_EQ(QueryQs("~OneTimeScan").find("Dest"), std::string::npos);
  }
}

// Deleting a Quick Set through Setup removes its key and its entry; the current one moves to the first.
TEST_F(QsUiTest, DeleteRemovesTheKeyAndTheEntry) {
  const RunResult first = Marlin("dialog 102\ncancel\n");  // the first run writes the default Quick Sets
  ASSERT_TRUE(Has(QueryQs("Save as TIFF"), "Dest")) << first.log;
  const RunResult run = Marlin(
      "dialog 102\nclick 3\nwizard\nradio 1017\nnext\nselect 1044 Save as "
      "TIFF\nnext\nfinish\nshow\ncancel\n");
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_FALSE(Has(QueryQs("Save as TIFF"), "Dest"));
  const std::string after = run.transcript.substr(run.transcript.find("end wizard"));
  EXPECT_FALSE(Has(after, "item \"Save as TIFF\"")) << after;
  EXPECT_TRUE(Has(after, "sel=0")) << after;
}

// The box: a Quick Set without "Task" is a saved one (data 2, caption "Scan"); the scratch Quick Set is
// never listed, and as the last used name it selects the one-time entry.
TEST_F(QsUiTest, BoxEntriesAndScanCaption) {
  Marlin("dialog 102\ncancel\n");
  ASSERT_EQ(0, Shell(Bin("marlin3-reg") +
                     " add 'HKCU\\SOFTWARE\\Nexora\\marlin3\\No Task' /v Dest /d 0 /f >/dev/null"));
  ASSERT_EQ(0, Shell(Bin("marlin3-reg") +
                     " add 'HKCU\\SOFTWARE\\Nexora\\marlin3\\~OneTimeScan' /v Dest /d 0 /f >/dev/null"));
  ASSERT_EQ(0, Shell(Bin("marlin3-reg") +
                     " add 'HKCU\\SOFTWARE\\Nexora\\marlin3' /v Qs /d ~OneTimeScan /f >/dev/null"));
  const RunResult run = Marlin("dialog 102\nselect 1001 No Task\nshow\ncancel\n");
  EXPECT_TRUE(Has(run.transcript, "item \"No Task\" data=2")) << run.transcript;
  EXPECT_FALSE(Has(run.transcript, "item \"~OneTimeScan\"")) << run.transcript;
  EXPECT_TRUE(Has(run.transcript, "text=\"<One-time scan>\"\n")) << run.transcript;
  const size_t shown = run.transcript.find("> show");
  ASSERT_NE(shown, std::string::npos);
  EXPECT_TRUE(Has(run.transcript.substr(shown), "1048 defbutton text=\"Scan\"")) << run.transcript;
}

// Review mode: Scan never closes the dialog and alternates its caption.
TEST_F(QsUiTest, ReviewModeAlternatesTheScanCaption) {
  const RunResult run =
      Marlin("dialog 102\nclick 1048\nshow\nclick 1048\nshow\nclick 1048\nshow\nclick 1048\nshow\ncancel\n",
             {"/Task", "9"});
  std::vector<std::string> captions;
  for (size_t at = run.transcript.find("> show"); at != std::string::npos;
       at = run.transcript.find("> show", at + 1)) {
    const size_t b = run.transcript.find("1048 defbutton text=\"", at);
    ASSERT_NE(b, std::string::npos);
    const size_t s = b + 21;
    captions.push_back(run.transcript.substr(s, run.transcript.find('"', s) - s));
  }
  ASSERT_EQ(captions.size(), 4u) << run.transcript;
  EXPECT_EQ(captions[0], captions[2]);
  EXPECT_EQ(captions[1], captions[3]);
  EXPECT_NE(captions[0], captions[1]);
  EXPECT_FALSE(Has(run.transcript, "end dialog 102 result=1")) << run.transcript;
}

// A new Quick Set named like the start of an existing one: the box selects and later deletes the new
// one by its whole name (a prefix search would act on "Save as TIFF", listed before it).
TEST_F(QsUiTest, ShortNameIsSelectedAndDeletedByItsWholeName) {
  const std::string folder = (m_dir / "out").string() + "/";
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1048\nnext\ncheck 40\nnext\nradio 1062\ntype 57 " + folder +
      "\nnext\ntype 1021 save\nnext\nfinish\nshow\n" +
      "click 3\nwizard\nradio 1017\nnext\nselect 1044 save\nnext\nfinish\nshow\ncancel\n";
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  const size_t first = run.transcript.find("> show");
  const size_t second = run.transcript.find("> show", first + 1);
  ASSERT_NE(second, std::string::npos) << run.transcript;
  const std::string afterNew = run.transcript.substr(first, second - first);
  // Entry 5: after the three default Quick Sets, the OCR Quick Set (our marlin3-ocr) and the one-time entry.
  EXPECT_TRUE(Has(afterNew, "sel=5 text=\"save\"")) << afterNew;
  const std::string afterDelete = run.transcript.substr(second);
  EXPECT_TRUE(Has(afterDelete, "item \"Save as TIFF\"")) << afterDelete;
  EXPECT_FALSE(Has(afterDelete, "item \"save\"")) << afterDelete;
  EXPECT_TRUE(Has(QueryQs("Save as TIFF"), "Dest"));
}

// Custom sizes: below the least width is refused with a message; 8.5 by 15 inches is stored in twips.
TEST_F(QsUiTest, CustomPaperIsCheckedAndStoredInTwips) {
  const std::string folder = (m_dir / "out").string() + "/";
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1048\nnext\nnext\n"
      "radio 47\ntype 54 0.99\ntype 52 15\nnext\nmsgbox OK\n"
      "type 54 8.5\nnext\nradio 1062\ntype 57 " +
      folder +
      "\nnext\n"
      "type 1021 Tall\nnext\nfinish\ncancel\n";
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  const std::string qs = QueryQs("Tall");
  EXPECT_TRUE(Has(qs, "12240")) << qs;
  EXPECT_TRUE(Has(qs, "21600")) << qs;
  EXPECT_TRUE(Has(qs, "PaperSize    REG_SZ    29")) << qs;
}

// The e-mail page: without the mail window, To and Subject are needed; the focus goes to the empty one.
TEST_F(QsUiTest, MailPageNeedsToAndSubjectWithoutTheMailWindow) {
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1048\nnext\nradio 1001\ncheck 40\nnext\n"
      "uncheck 1025\ntype 65 Scans\nnext\nmsgbox OK\nshow\n"
      "type 64 \" me@example.org \"\nnext\nnext\ntype 1021 Mail me\nnext\nfinish\ncancel\n";
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_TRUE(Has(run.transcript, "page 133 buttons=BACK|NEXT caption=\"E-mail\" focus=64"))
      << run.transcript;
  const std::string qs = QueryQs("Mail me");
  EXPECT_TRUE(Has(qs, " me@example.org ")) << qs;  // stored as typed
  EXPECT_TRUE(Has(qs, "Dest    REG_SZ    1")) << qs;
}

// A Note of several lines shows on the finish page as its first line and "...", never silently cut;
// its tool tip holds all of it.
TEST_F(QsUiTest, FinishPageShowsAMultiLineNoteWithAnEllipsis) {
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1048\nnext\nradio 1001\ncheck 40\nnext\n"
      "uncheck 1025\ntype 64 me@example.org\ntype 65 Scans\ntype 67 \"Hello Ann,\\r\\nthe scans.\"\nnext\n"
      "next\ntype 1021 Note test\nnext\ntooltip 1034\nfinish\ncancel\n";
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_TRUE(Has(run.transcript, "text=\"Message: Hello Ann,...\"")) << run.transcript;
  EXPECT_TRUE(Has(run.transcript, "text=\"Message: Hello Ann,\\r\\nthe scans.\"")) << run.transcript;
}

// Modifying a Quick Set: the pages open with its values and Finish stores the change under its name.
TEST_F(QsUiTest, ModifyChangesTheChosenQuickSet) {
  Marlin("dialog 102\ncancel\n");
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1049\nnext\nselect 1044 Save as TIFF\nnext\nshow\nnext\n"
      "select 42 300 dpi\nnext\nnext\n";
  // The save page appears when the device takes scan-to destinations; the name is hidden there.
  const RunResult probe = Marlin(script + "show\ncancel\ncancel\n");
  const bool savePage = Has(probe.transcript, "page 137");
  const RunResult run = Marlin(script + (savePage ? "next\n" : "") + "finish\ncancel\n");
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  EXPECT_TRUE(Has(run.transcript, "1000 radio checked")) << run.transcript;  // its file destination
  if (savePage) {
    EXPECT_TRUE(Has(run.transcript, "1021 edit hidden")) << run.transcript;
  }
  const std::string qs = QueryQs("Save as TIFF");
  EXPECT_TRUE(Has(qs, "Res    REG_SZ    300")) << qs;
  EXPECT_TRUE(Has(qs, "Type    REG_SZ    17")) << qs;
}

// The application page: a path to a missing program is refused; the folder is needed only when the
// file name is not asked for.
TEST_F(QsUiTest, ApplicationPageChecksTheProgramAndTheFolder) {
  const std::string script =
      "dialog 102\nclick 3\nwizard\nradio 1048\nnext\nradio 1002\ncheck 40\nnext\n"
      "type 75 /no/such/program\nnext\nmsgbox OK\n"
      "type 75 /bin/true\ncheck 1046\ntype 78 \" \"\nnext\nmsgbox OK\n"
      "uncheck 1046\nnext\nnext\ntype 1021 Open it\nnext\nfinish\ncancel\n";
  const RunResult run = Marlin(script);
  EXPECT_EQ(run.exitCode, 0) << run.transcript;
  const std::string qs = QueryQs("Open it");
  EXPECT_TRUE(Has(qs, "AppExe    REG_SZ    /bin/true")) << qs;
  EXPECT_TRUE(Has(qs, "Dest    REG_SZ    2")) << qs;
}

// Review mode's wizard: every page in the order added, each showing its messages instead of checking;
// Finish stays twice (the summaries) and closes on the third press; nothing is saved.
TEST_F(QsUiTest, ReviewWizardShowsEveryPageAndSavesNothing) {
  Marlin("dialog 102\ncancel\n");
  const std::string before = QueryMain();
  const std::string script =
      "dialog 102\nclick 3\nwizard\nnext\nnext\nmsgbox OK\nnext\nmsgbox OK\nnext\n"
      "next\nmsgbox OK\nmsgbox OK\nmsgbox OK\nnext\nmsgbox OK\nnext\nnext\ndialog 146\nok\nmsgbox OK\nmsgbox "
      "OK\n"
      "next\nmsgbox OK\nnext\nnext\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\n"
      "finish\nfinish\nshow\nfinish\n"
      // Then the device setup dialog in review mode: Update shows its messages and the name prompt's,
      // New only says so, nothing is sent.
      "dialog 129\nclick 1\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\n"
      "dialog 147\nok\nmsgbox OK\nclick 1045\nmsgbox OK \"REPEAT UI\"\ncancel\ncancel\n";
  const RunResult run = Marlin(script, {"/Task", "9"});
  const size_t setup = run.transcript.find("dialog 129");
  ASSERT_NE(setup, std::string::npos) << run.transcript;
  const std::string review = run.transcript.substr(setup);
  EXPECT_TRUE(Has(review, "1005 list count=29 sel=-1\n    item \"AAAAA:TEST 1\"")) << review;
  EXPECT_TRUE(Has(review, "item \"BBBBB:TEST 1 a really long one XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX\""))
      << review;
  EXPECT_TRUE(Has(review, "USER_DEFINED")) << review;
  EXPECT_TRUE(Has(review, "end dialog 147 result=1")) << review;
  EXPECT_TRUE(Has(review, "end dialog 129 result=2")) << review;
  EXPECT_FALSE(Has(run.log, "not available yet")) << run.log;
  std::string pages;
  for (size_t at = run.transcript.find("\npage "); at != std::string::npos;
       at = run.transcript.find("\npage ", at + 1))
    pages += run.transcript.substr(at + 6, 3) + " ";
  // The finish page twice: once shown, once written again by "show".
  EXPECT_EQ(pages, "145 141 140 130 131 133 132 134 150 137 139 139 ") << run.transcript;
  const size_t end = run.transcript.find("end wizard result=12325");
  ASSERT_NE(end, std::string::npos) << run.transcript;
  // The second Finish press left the wizard open: "show" ran on the finish page.
  EXPECT_LT(run.transcript.find("> show"), end);
  // The same Quick Sets as before: no key added, none removed.
  auto keys = [](const std::string& listing) {
    std::string out;
    for (size_t at = listing.find("\nHKEY_"); at != std::string::npos; at = listing.find("\nHKEY_", at + 1))
      out += listing.substr(at, listing.find('\n', at + 1) - at);
    return out;
  };
  EXPECT_EQ(keys(QueryMain()), keys(before));
}

}  // namespace
