// The source choice on the scripted host (child processes) and on the Qt host offscreen.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "scan/SelectSourceDialog.h"
#include "tests/scan/ScanChild.h"

namespace fs = std::filesystem;

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

TEST(SelectSourceDialogTest, ChooseAndPreviewOnTheScriptedHost) {
  ScanChild child("select");
  const struct {
    const char* name;
    std::string args;
    std::string script;
    int exit;
    std::string out;
  } cases[] = {
      {"choose by OK", "1 'NX Flatbed' 'NX Feeder'", "dialog 143\nselect 148 NX Feeder\nok\n", 0,
       "result=1\nsource=NX Feeder\n"},
      {"choose by double-click", "1 'NX Flatbed' 'NX Feeder'", "dialog 143\ndblclick 148 NX Flatbed\n", 0,
       "result=1\nsource=NX Flatbed\n"},
      // OK without a selection: the box, and the dialog stays open for the choice.
      {"OK without selection", "1 'NX Flatbed' 'NX Feeder'",
       "dialog 143\nok\nmsgbox OK \"select an entry\"\nselect 148 NX Flatbed\nok\n", 0,
       "result=1\nsource=NX Flatbed\n"},
      {"cancel", "1 'NX Flatbed'", "dialog 143\nselect 148 NX Flatbed\ncancel\n", 0, "result=2\nsource=\n"},
      {"no source at all", "1", "dialog 143\nok\nmsgbox OK\ncancel\n", 0, "result=2\nsource=\n"},
      // Preview: the three sample names; OK always shows the box and ends with OK, naming nothing.
      {"preview", "0 'NX Flatbed'", "dialog 143\nselect 148 SCAN SOURCE 2\nok\nmsgbox OK\n", 0,
       "result=1\nsource=\n"},
      {"preview lists no real source", "0 'NX Flatbed'", "dialog 143\nselect 148 NX Flatbed\n", 70, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out, transcript;
    EXPECT_EQ(child.Run(c.args, c.script, out, transcript), c.exit) << transcript;
    if (c.exit == 0) {
      EXPECT_EQ(out, c.out);
    }
    EXPECT_NE(transcript.find("148 list count="), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("sel=-1"), std::string::npos) << "nothing is selected at the start";
  }
  std::string out, transcript;
  ASSERT_EQ(child.Run("1 'NX Flatbed' 'NX Feeder'", "dialog 143\nok\nmsgbox OK\ncancel\n", out, transcript),
            0);
  EXPECT_NE(transcript.find("caption=\"marlin3\" text=\"Please select an entry in the list first.\""),
            std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find("item \"NX Feeder\""), std::string::npos);
}

TEST(SelectSourceDialogTest, MessageReviewShowsTheQuestionThenThePreview) {
  ScanChild child("review");
  std::string out, transcript;
  ASSERT_EQ(child.Run("", "msgbox NO \"scan another page\"\ndialog 143\nok\nmsgbox OK\n", out, transcript), 0)
      << transcript;
  EXPECT_EQ(out, "reviewed\n");
  EXPECT_NE(transcript.find("buttons=YESNO"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("item \"SCAN SOURCE 3\""), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("end dialog 143 result=1"), std::string::npos) << transcript;
}

TEST(SelectSourceDialogTest, QtHostOkWithoutSelectionThenDoubleClick) {
  static int argc = 1;
  static char name[] = "scan_tests";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("MARLIN3_UI");
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
  HMODULE resources = LoadLibraryA("marlin3.dll");
  ASSERT_NE(resources, nullptr);
  AfxSetResourceHandle(resources);
  bool boxSeen = false;
  int rows = -1;
  QTimer::singleShot(0, [&] {
    QWidget* w = QApplication::activeModalWidget();
    auto* list = w != nullptr ? w->findChild<QListWidget*>(QStringLiteral("ctl_148")) : nullptr;
    if (list == nullptr) return;
    rows = list->count();
    // OK with nothing selected opens the box; close it and the dialog is still there.
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box != nullptr) {
        boxSeen = true;
        box->accept();
      }
      QTimer::singleShot(0, [&] {
        QWidget* dlg = QApplication::activeModalWidget();
        auto* l = dlg != nullptr ? dlg->findChild<QListWidget*>(QStringLiteral("ctl_148")) : nullptr;
        if (l == nullptr) return;
        QListWidgetItem* item = l->item(1);
        l->setCurrentItem(item);
        emit l->itemDoubleClicked(item);
      });
    });
    w->findChild<QPushButton*>(QStringLiteral("ctl_1"))->click();
  });
  SelectSourceDialog dialog(SelectSourceDialog::Choose);
  dialog.m_saSources = {"NX Flatbed", "NX Feeder", "NX Film"};
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(rows, 3);
  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(dialog.m_strSource, "NX Feeder");
  AfxSetResourceHandle(nullptr);
  FreeLibrary(resources);
}

}  // namespace
