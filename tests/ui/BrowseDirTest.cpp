// BrowseDir and the multi-file warning on the scripted host (child processes, as a failing script ends
// its process), and BrowseDir once more on the Qt host offscreen.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/common/TestFiles.h"
#include "ui/BrowseDir.h"

namespace fs = std::filesystem;

// fontconfig keeps a cache for the life of the process; under the leak checker that is not our leak.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

using test_common::ReadFile;

class UiDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("m3uidlg-" + std::to_string(::getpid()));
    fs::create_directories(m_dir / "data" / "Scans");
    fs::create_directories(m_dir / "registry");
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // Runs the runner on the scripted host; returns its exit code, out and transcript.
  int Start(const std::string& args, const std::string& script, std::string& out, std::string& transcript) {
    std::ofstream(m_dir / "script.txt") << script;
    fs::remove(m_dir / "transcript.txt");
    const std::string command = "MARLIN3_UI=scripted MARLIN3_REGISTRY_DIR='" + (m_dir / "registry").string() +
                                "' MARLIN3_UI_SCRIPT='" + (m_dir / "script.txt").string() +
                                "' MARLIN3_UI_TRANSCRIPT='" + (m_dir / "transcript.txt").string() + "' '" +
                                MARLIN3_BIN_DIR + "/ui_test_runner' " + args + " > '" +
                                (m_dir / "out.txt").string() + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    out = ReadFile(m_dir / "out.txt");
    transcript = ReadFile(m_dir / "transcript.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path m_dir;
};

TEST_F(UiDialogTest, BrowseDirOnTheScriptedHost) {
  const std::string data = (m_dir / "data" / "Scans").string();
  std::string out, transcript;
  // Opens at the data directory, whatever the caller passed.
  ASSERT_EQ(Start("browse '" + data + "/'", "dialog 146\nok\n", out, transcript), 0) << transcript;
  EXPECT_EQ(out, "result=1\npath=" + data + "\n");
  EXPECT_NE(transcript.find("item \"Scans\" selected"), std::string::npos) << transcript;

  std::string path = "/";
  for (const auto& part : fs::path(m_dir / "data")) {
    if (part == "/") continue;
    path += "|" + part.string();
  }
  ASSERT_EQ(Start("browse '" + data + "'", "dialog 146\ntreeselect 1051 " + path + "\nok\n", out, transcript),
            0)
      << transcript;
  EXPECT_EQ(out, "result=1\npath=" + (m_dir / "data").string() + "\n");

  ASSERT_EQ(Start("browse '" + data + "'", "dialog 146\ntreeselect 1051 /\nok\n", out, transcript), 0);
  EXPECT_EQ(out, "result=1\npath=/\n");

  // A data directory that cannot be selected leaves no selection: OK returns an empty path.
  ASSERT_EQ(Start("browse '" + (m_dir / "gone").string() + "'", "dialog 146\nok\n", out, transcript), 0);
  EXPECT_EQ(out, "result=1\npath=\n");
  ASSERT_EQ(Start("browse '" + data + "'", "dialog 146\ncancel\n", out, transcript), 0);
  EXPECT_EQ(out.substr(0, 9), "result=2\n");
  EXPECT_EQ(Start("browse '" + data + "'", "dialog 146\nexpand 1051 /|no such folder\n", out, transcript),
            70);
}

TEST_F(UiDialogTest, MultiFileWarnDialogStoresOnlyOnOk) {
  const struct {
    const char* script;
    const char* out;
  } cases[] = {
      {"dialog 148\nok\n", "result=1\ndontshow=0\n"},
      {"dialog 148\ncheck 1057\nok\n", "result=1\ndontshow=1\n"},
      {"dialog 148\ncheck 1057\ncancel\n", "result=2\ndontshow=0\n"},
  };
  for (const auto& c : cases) {
    std::string out, transcript;
    ASSERT_EQ(Start("multifile", c.script, out, transcript), 0) << transcript;
    EXPECT_EQ(out, c.out) << c.script;
    EXPECT_NE(transcript.find("1058 static text=\"Each page becomes a file of its own.\""),
              std::string::npos);
    EXPECT_NE(transcript.find("1057 check unchecked"), std::string::npos);
  }
}

TEST_F(UiDialogTest, MultiFileRule) {
  std::string out, transcript;
  // One page, or a type that holds several pages (3 is TIFF multi-page): no dialog, no script needed.
  ASSERT_EQ(Start("warn 1 10", "", out, transcript), 0);
  EXPECT_EQ(out, "shown=0\nvalue=0\n");
  ASSERT_EQ(Start("warn 3 3", "", out, transcript), 0);
  EXPECT_EQ(out, "shown=0\nvalue=0\n");
  ASSERT_EQ(Start("warn 3 10", "dialog 148\nok\n", out, transcript), 0) << transcript;
  EXPECT_EQ(out, "shown=1\nvalue=0\n");
  // Cancel stores nothing, however the check box stands.
  ASSERT_EQ(Start("warn 3 10", "dialog 148\ncheck 1057\ncancel\n", out, transcript), 0) << transcript;
  EXPECT_EQ(out, "shown=1\nvalue=0\n");
  // A dialog that cannot be shown (here: a host name nobody knows) was not shown.
  ASSERT_EQ(Start("warn 3 10 bogus", "", out, transcript), 0) << transcript;
  EXPECT_EQ(out, "shown=0\nvalue=0\n");
  ASSERT_EQ(Start("warn 3 10", "dialog 148\ncheck 1057\nok\n", out, transcript), 0) << transcript;
  EXPECT_EQ(out, "shown=1\nvalue=1\n");
  // From now on the warning stays away.
  ASSERT_EQ(Start("warn 3 10", "", out, transcript), 0) << transcript;
  EXPECT_EQ(out, "shown=0\nvalue=1\n");
}

// Mounted volumes are drives of their own: SelectPath starts at the longest one a path begins with,
// and a volume's text has no final "/". Needs a private mount namespace (unshare), else skipped.
TEST_F(UiDialogTest, SelectPathStartsAtTheLongestDrive) {
  if (std::system("unshare -rm true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no mount namespaces here";
  // A folder of the test bound to /media/usb (over a private /media), so the volume has a real file
  // system type.
  fs::create_directories(m_dir / "volume" / "Scans");
  const std::string command =
      "unshare -rm sh -c 'mount -t tmpfs none /media && mkdir -p /media/usb && "
      "mount --bind \"" +
      (m_dir / "volume").string() +
      "\" /media/usb && MARLIN3_UI=scripted \"" MARLIN3_BIN_DIR
      "/ui_test_runner\" drives /media/usb/Scans/' > '" +
      (m_dir / "out.txt").string() + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(m_dir / "out.txt");
  const std::string out = ReadFile(m_dir / "out.txt");
  EXPECT_NE(out.find("top=/\n"), std::string::npos) << out;
  EXPECT_NE(out.find("top=/media/usb\n"), std::string::npos) << out;
  EXPECT_NE(out.find("selected=1\nchain=/media/usb|Scans\n"), std::string::npos) << out;
}

TEST(BrowseDirQtTest, SelectsTheDataDirectoryAndReturnsTheChoice) {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("MARLIN3_UI");
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
  const fs::path dir = fs::temp_directory_path() / ("m3uiqt-" + std::to_string(::getpid()));
  fs::create_directories(dir / "data" / "Scans");
  BrowseDir::SetDataDirectorySource([dir](std::string& folder) {
    folder = (dir / "data" / "Scans").string() + "/";
    return true;
  });
  QString shownSelection;
  int childrenAfterExpand = -1;
  QTimer::singleShot(0, [&] {
    QApplication::processEvents();
    QWidget* w = QApplication::activeModalWidget();
    auto* tree = w != nullptr ? w->findChild<QTreeWidget*>(QStringLiteral("ctl_1051")) : nullptr;
    if (tree == nullptr) return;
    shownSelection = tree->currentItem() != nullptr ? tree->currentItem()->text(0) : QString();
    // The user opens "data" after a folder was added: the tree reads it again.
    QTreeWidgetItem* data = tree->currentItem()->parent();
    fs::create_directories(dir / "data" / "Added");
    data->setExpanded(false);
    QApplication::processEvents();
    data = tree->currentItem();  // the collapsed branch took the selection
    data->setExpanded(true);
    QApplication::processEvents();
    childrenAfterExpand = tree->currentItem()->childCount();
    w->findChild<QPushButton*>(QStringLiteral("ctl_1"))->click();
  });
  BrowseDir dialog;
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(shownSelection, QStringLiteral("Scans"));
  EXPECT_EQ(childrenAfterExpand, 2);
  EXPECT_EQ(dialog.m_strPath, (dir / "data").string());
  fs::remove_all(dir);
}

}  // namespace
