// The Quick Set wizard once through the Qt host offscreen, driven with QTest as a person would: a
// one-time scan's destination, settings, file and quality pages to Finish.
#include <gtest/gtest.h>

#include <QApplication>
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

TEST(QsWizardQtTest, OneTimeScanPagesToFinish) {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("MARLIN3_UI");
  const fs::path dir = fs::temp_directory_path() / ("m3qswiz-" + std::to_string(::getpid()));
  fs::create_directories(dir / "registry");
  ::setenv("MARLIN3_REGISTRY_DIR", (dir / "registry").c_str(), 1);
  static QApplication* app =
      qApp != nullptr ? static_cast<QApplication*>(qApp) : new QApplication(argc, argv);
  (void)app;
  // The strings (file type extensions) come from the resource library, as the application loads it.
  if (AfxGetResourceHandle() == nullptr) AfxSetResourceHandle(LoadLibraryA("marlin3.dll"));
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

}  // namespace
