// The device name prompt and the device setup dialog's review once through the Qt host offscreen,
// driven with QTest: the edit box's length limit and the trimmed answer; the review's 29 sample
// entries in the device list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "ui/DeviceNamePrompt.h"
#include "ui/SetupDevice.h"

namespace fs = std::filesystem;

namespace {

class DeviceDialogsQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("MARLIN3_UI");
    m_dir = fs::temp_directory_path() / ("m3devdlg-" + std::to_string(::getpid()));
    fs::create_directories(m_dir / "registry");
    ::setenv("MARLIN3_REGISTRY_DIR", (m_dir / "registry").c_str(), 1);
    if (qApp == nullptr) new QApplication(argc, argv);
    if (AfxGetResourceHandle() == nullptr) AfxSetResourceHandle(LoadLibraryA("marlin3.dll"));
  }
  void TearDown() override { fs::remove_all(m_dir); }
  fs::path m_dir;
};

TEST_F(DeviceDialogsQtTest, NamePromptLimitsAndTrimsTheName) {
  // No product installed: a directly connected device, 14 characters, no prefix.
  QTimer::singleShot(0, [] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    auto* edit = w->findChild<QLineEdit*>(QStringLiteral("ctl_1021"));
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, QStringLiteral("  Invoices 2026 archive"));
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("ctl_1")), Qt::LeftButton);
  });
  DeviceNamePrompt prompt("Invoices", 1);
  EXPECT_EQ(prompt.DoModal(), IDOK);
  EXPECT_EQ(prompt.m_strAnswer, "Invoices 202");
}

TEST_F(DeviceDialogsQtTest, ReviewShowsTheSampleEntries) {
  int shown = -1;
  QTimer::singleShot(0, [&] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    if (auto* list = w->findChild<QListWidget*>(QStringLiteral("ctl_1005"))) shown = list->count();
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("ctl_2")), Qt::LeftButton);
  });
  SetupDeviceDialog dialog;
  dialog.m_bRealMode = false;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(shown, 29);
}

}  // namespace
