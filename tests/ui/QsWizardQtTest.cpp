// The Quick Set wizard once through the Qt host offscreen, driven with QTest as a person would: a
// one-time scan's destination, settings, file and quality pages to Finish.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "ui/QsWizard.h"

namespace fs = std::filesystem;

namespace {

QWidget* Modal() {
  return QApplication::activeModalWidget();
}

void Press(const char* name) {
  QApplication::processEvents();
  if (QWidget* w = Modal())
    if (auto* b = w->findChild<QPushButton*>(QString::fromLatin1(name))) QTest::mouseClick(b, Qt::LeftButton);
  QApplication::processEvents();
}

// The Qt host offscreen with a registry folder of the test's own (returned), and the resource library
// the strings (file type extensions) come from, loaded as the application loads it.
fs::path StartQt(const std::string& prefix) {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("MARLIN3_UI");
  const fs::path dir = fs::temp_directory_path() / (prefix + std::to_string(::getpid()));
  fs::create_directories(dir / "registry");
  ::setenv("MARLIN3_REGISTRY_DIR", (dir / "registry").c_str(), 1);
  static QApplication* app =
      qApp != nullptr ? static_cast<QApplication*>(qApp) : new QApplication(argc, argv);
  (void)app;
  if (AfxGetResourceHandle() == nullptr) AfxSetResourceHandle(LoadLibraryA("marlin3.dll"));
  return dir;
}

TEST(QsWizardQtTest, OneTimeScanPagesToFinish) {
  const fs::path dir = StartQt("m3qswiz-");
  const std::string target = (dir / "scan").string();
  bool typed = false;
  QTimer::singleShot(0, [&] {
    Press("wizard_next");  // destination: file
    Press("wizard_next");  // scan settings
    if (QWidget* w = Modal()) {
      if (auto* edit = w->findChild<QLineEdit*>(QStringLiteral("ctl_57"))) {
        QTest::keyClicks(edit, QString::fromStdString(target));
        typed = true;
      }
    }
    Press("wizard_next");  // file
    Press("wizard_next");  // quality
    Press("wizard_finish");
  });
  CQsWizard wizard(102, OneTimeScan, "");
  EXPECT_EQ(wizard.DoModal(), 12325);
  EXPECT_TRUE(typed);
  EXPECT_EQ(wizard.m_strOutFile, target + ".jpg");
  EXPECT_EQ(wizard.m_nType, PX_TYPE_JPEG);
  fs::remove_all(dir);
}

// The finish page as the Qt host draws it for an e-mail scan whose Note has two lines: the summary
// line shows the first line and "...", never the first line alone (a picture is kept for a look).
TEST(QsWizardQtTest, FinishPageShowsTheFirstLineOfAMultiLineNoteWithAnEllipsis) {
  const fs::path dir = StartQt("m3qsfin-");
  QString shown;
  QTimer::singleShot(0, [&] {
    for (int page = 0; page < 8; ++page) {
      QWidget* w = Modal();
      auto* finish = w != nullptr ? w->findChild<QPushButton*>(QStringLiteral("wizard_finish")) : nullptr;
      if (finish != nullptr && finish->isVisible()) {
        for (QLabel* label : w->findChildren<QLabel*>())
          if (label->text().startsWith(QStringLiteral("Message:"))) shown = label->text();
        w->grab().save(QString::fromStdString((fs::current_path() / "finish-note.png").string()));
        break;
      }
      Press("wizard_next");
    }
    Press("wizard_cancel");
  });
  CQsWizard wizard(102, OneTimeScan, "");
  wizard.m_nDest = 1;
  wizard.m_strNote = "Hello Ann,\r\nthe scans of today.";
  wizard.DoModal();
  EXPECT_EQ(shown.toStdString(), "Message: Hello Ann,...");
  fs::remove_all(dir);
}

}  // namespace
