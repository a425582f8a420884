// The message review (task 9) from start to end through the real marlin3 and the scripted host: the main
// dialog's alternating Scan caption, the window menu's About box, the wizard's pages with the finish
// page's three review summaries (every variant of every summary line), the device setup dialog, and
// after the main dialog is closed the program's whole list of messages. Nothing may be saved or scanned.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/ProductRun.h"

namespace {

using product_run::RunResult;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The part of the transcript between the n-th occurrence of from (0-based) and the next "\n> ".
std::string After(const std::string& text, const std::string& from, int n = 0) {
  size_t at = text.find(from);
  for (int i = 0; i < n && at != std::string::npos; ++i) at = text.find(from, at + 1);
  if (at == std::string::npos) return {};
  const size_t end = text.find("\n> ", at + from.size());
  return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

class ReviewRunTest : public product_run::ProductRun {};

TEST_F(ReviewRunTest, EveryDialogAndMessageOnceAndNothingChanges) {
  RunMarlin({}, "dialog 102\ncancel\n");  // the first run writes the default Quick Sets
  const std::string before = Capture(Bin("marlin3-reg") + " query 'HKCU\\SOFTWARE\\Nexora\\marlin3' /s");
  const std::string script =
      // Four presses of Scan: the caption alternates and the dialog stays.
      "dialog 102\nclick 1048\nshow\nclick 1048\nshow\nclick 1048\nshow\nclick 1048\nshow\n"
      // The window menu's About box.
      "sysmenu About marlin3...\ndialog 100\nok\ntooltip 3\ntooltip 1048\n"
      // Setup: every page of the wizard with its messages, the finish page's three summaries.
      "click 3\nwizard\nnext\nnext\nmsgbox OK\nnext\nmsgbox OK\nnext\n"
      "next\nmsgbox OK\nmsgbox OK\nmsgbox OK\nnext\nmsgbox OK\nnext\nnext\ndialog 146\nok\nmsgbox OK\n"
      "msgbox OK\nnext\nmsgbox OK\nnext\nnext\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\n"
      "finish\nshow\nfinish\nshow\nfinish\n"
      // The device setup dialog in review mode.
      "dialog 129\nclick 1\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\n"
      "dialog 147\nok\nmsgbox OK\nclick 1045\nmsgbox OK\ncancel\n"
      // Closing the main dialog starts the program's messages.
      "cancel\n"
      "msgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\nmsgbox OK\n"
      "msgbox YES\nmsgbox NO\n"
      "msgbox YES\ndialog 143\ncancel\n"
      "msgbox OK\nmsgbox OK USER_DEFINED\n"
      "dialog 148\nok\n"
      "msgbox NO USER_DEFINED\n";
  const RunResult run = RunMarlin({"/Task", "9"}, script);
  ASSERT_EQ(run.exitCode, 0) << run.transcript;
  const std::string& t = run.transcript;

  // The caption after each press: 92, 95, 92, 95.
  std::vector<std::string> captions;
  for (int i = 0; i < 4; ++i) {
    const std::string shown = After(t, "> show", i);
    const size_t b = shown.find("1048 defbutton text=\"");
    ASSERT_NE(b, std::string::npos) << t;
    captions.push_back(shown.substr(b + 21, shown.find('"', b + 21) - b - 21));
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"Scan...", "Scan", "Scan...", "Scan"}));
  EXPECT_TRUE(Has(t, "icon=128")) << t;
  EXPECT_TRUE(Has(t, "  sysmenu 16 text=\"&About marlin3...\"")) << t;
  EXPECT_TRUE(Has(t, "dialog 100 caption=\"About marlin3\"")) << t;
  EXPECT_TRUE(Has(t, "end dialog 100 result=1")) << t;
  // Setup has a tool tip, Scan none.
  EXPECT_TRUE(Has(t, "tooltip 3 text=\"Create, change or delete Quick Sets")) << t;
  EXPECT_TRUE(Has(t, "tooltip 1048 text=\"\"")) << t;

  // The finish page: shown with the delete summary, then the two others on the first two presses.
  const std::string shown = After(t, "\npage 139");
  EXPECT_TRUE(Has(shown, "1028 static text=\"This Quick Set will be deleted:\"")) << shown;
  EXPECT_TRUE(Has(shown, "1030 static text=\"\"")) << shown;
  // The Finish button's text follows the summary: Delete, Finish, then Scan.
  EXPECT_TRUE(Has(shown, "finish=\"Delete\"")) << shown;
  EXPECT_TRUE(Has(After(t, "> show", 4), "finish=\"Finish\"")) << t;
  EXPECT_TRUE(Has(After(t, "> show", 5), "finish=\"Scan\"")) << t;
  const std::string second = After(t, "> show", 4);  // after the first Finish press
  const char* const settings[] = {"Please check these settings:",
                                  "Quick Set name: ",
                                  "Destination: File",
                                  "Destination: E-mail",
                                  "Destination: Application",
                                  "On the device's panel: Yes, as \\\"",
                                  "On the device's panel: No",
                                  "Resolution: ",
                                  "Color: Black and white",
                                  "Color: Grayscale",
                                  "Color: Color",
                                  "Width: ",
                                  "Height: ",
                                  "Paper size: "};
  for (int i = 0; i < 14; ++i)
    EXPECT_TRUE(Has(second, std::to_string(1028 + i) + " static text=\"" + settings[i]))
        << settings[i] << second;
  const std::string third = After(t, "> show", 5);
  const char* const details[] = {"Scan settings: chosen in the scanner's own window",
                                 "Application: ",
                                 "File type: ",
                                 "Send without showing the message: No",
                                 "Send without showing the message: Yes",
                                 "File type: ",
                                 "Message: ",
                                 "Subject: ",
                                 "To: ",
                                 "Output file: ",
                                 "File type: ",
                                 "Folder: "};
  for (int i = 0; i < 12; ++i)
    EXPECT_TRUE(Has(third, std::to_string(1028 + i) + " static text=\"" + details[i])) << details[i] << third;
  EXPECT_TRUE(Has(third, "1040 static text=\"\"")) << third;
  // Empty values read as such; the third press closes the wizard without saving.
  EXPECT_TRUE(Has(third, "USER DEFINED STRING")) << third;
  EXPECT_TRUE(Has(t, "end wizard result=12325")) << t;

  // Then the program's messages, in their order, and the end of the run.
  const size_t closed = t.find("end dialog 102 result=2");
  ASSERT_NE(closed, std::string::npos) << t;
  const std::string messages = t.substr(closed);
  size_t at = 0;
  for (const char* part :
       {"converted to the chosen file type", "imaging components could not be loaded",
        "not enough system resources", "text=\"", "text=\"", "does not exist. Do you want to create it?",
        "Do you want to stop the scan?", "scan another page?", "dialog 143", "e-mail message could not be",
        "could not be started to open \\\"USER_DEFINED\\\"", "dialog 148", "caption=\"Replace File\""}) {
    const size_t next = messages.find(part, at);
    EXPECT_NE(next, std::string::npos) << part << "\n" << messages;
    if (next != std::string::npos) at = next + 1;
  }
  EXPECT_FALSE(Has(run.log, "not available yet")) << run.log;
  EXPECT_EQ(Capture(Bin("marlin3-reg") + " query 'HKCU\\SOFTWARE\\Nexora\\marlin3' /s"), before);
}

}  // namespace
