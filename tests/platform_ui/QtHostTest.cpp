// The Qt host, offscreen: a message box, the dialog with every control kind and the three-page wizard
// driven through their widgets with QTest, checking that the model sees what the user did and that
// the widgets show what the model holds.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "TestDialogs.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"

// fontconfig keeps a cache for the life of the process; under the leak checker that is not our leak.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "platform_ui_qt_tests";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("MARLIN3_UI");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs steps against the modal window once it is up. A window the steps leave open is cancelled with
// Escape, so a failing test reports instead of hanging.
void WhenShown(std::function<void(QWidget*)> steps) {
  QTimer::singleShot(0, [steps] {
    QApplication::processEvents();
    QWidget* window = QApplication::activeModalWidget();
    steps(window);
    QApplication::processEvents();
    if (window != nullptr && QApplication::activeModalWidget() == window) {
      ADD_FAILURE() << "the window is still open after the steps";
      QTest::keyClick(window, Qt::Key_Escape);
    }
  });
}

// The widget of that name on the page shown (a wizard keeps the pages it has shown).
template <class T>
T* Find(QWidget* window, const char* name) {
  if (window == nullptr) return nullptr;
  for (T* w : window->findChildren<T*>(QString::fromLatin1(name)))
    if (w->isVisibleTo(window)) return w;
  return window->findChild<T*>(QString::fromLatin1(name));
}

class QtHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(UseTestResources());
  }
};

TEST_F(QtHostTest, MessageBoxReturnsThePressedButton) {
  QString shownText;
  WhenShown([&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    if (box == nullptr) return;
    shownText = box->text();
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(MessageBoxA(nullptr, "Delete it?", "Question", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(shownText, QStringLiteral("Delete it?"));
}

TEST_F(QtHostTest, DialogWidgetsAndModelStayInStep) {
  EveryControlDialog dialog;
  QString comboShown, editAfterPush;
  int treeTop = -1;
  WhenShown([&](QWidget* w) {
    auto* edit = Find<QLineEdit>(w, "ctl_100");
    if (edit == nullptr) return;
    edit->clear();
    QTest::keyClicks(edit, "Bob and more text");  // cut at 12 by the model
    Find<QCheckBox>(w, "ctl_101")->click();
    Find<QRadioButton>(w, "ctl_112")->click();
    auto* combo = Find<QComboBox>(w, "ctl_130");
    comboShown = combo->itemText(0) + "," + combo->itemText(1) + "," + combo->itemText(2);
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    Find<QSlider>(w, "ctl_150")->setValue(77);
    auto* list = Find<QListWidget>(w, "ctl_140");
    emit list->itemDoubleClicked(list->item(2));
    auto* tree = Find<QTreeWidget>(w, "ctl_160");
    treeTop = tree->topLevelItemCount();
    tree->topLevelItem(0)->setExpanded(true);
    tree->setCurrentItem(tree->topLevelItem(0)->child(1));
    Find<QPushButton>(w, "ctl_180")->click();
    QApplication::processEvents();
    editAfterPush = edit->text();
    Find<QPushButton>(w, "ctl_1")->click();
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(comboShown, QStringLiteral("alpha,Beta,Gamma"));
  EXPECT_EQ(treeTop, 1);
  EXPECT_EQ(editAfterPush, QStringLiteral("pushed"));
  EXPECT_EQ(dialog.m_strName, "pushed");
  EXPECT_EQ(dialog.m_nCheck, 1);
  EXPECT_EQ(dialog.m_nRadio, 2);
  EXPECT_EQ(dialog.m_strDropList, "Gamma");
  EXPECT_EQ(dialog.m_nSlider, 77);
  EXPECT_EQ(dialog.m_strEvents, "check;combo;slider;dblclk zeta;tree;push;");
}

TEST_F(QtHostTest, EscapeCancels) {
  EveryControlDialog dialog;
  WhenShown([](QWidget* w) {
    if (w != nullptr) QTest::keyClick(w, Qt::Key_Escape);
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST_F(QtHostTest, WizardRoutesThroughItsButtons) {
  const struct {
    std::function<void(QWidget*)> steps;
    INT_PTR result;
    int activations1;
  } cases[] = {
      {[](QWidget* w) {
         Find<QPushButton>(w, "wizard_next")->click();
         Find<QPushButton>(w, "wizard_back")->click();
         Find<QCheckBox>(w, "ctl_301")->click();  // page 510: stay
         Find<QPushButton>(w, "wizard_next")->click();
         Find<QCheckBox>(w, "ctl_301")->click();
         auto* edit = Find<QLineEdit>(w, "ctl_300");
         QTest::keyClicks(edit, "jump 512");
         Find<QPushButton>(w, "wizard_next")->click();
         auto* finish = Find<QPushButton>(w, "wizard_finish");
         EXPECT_EQ(finish->text(), QStringLiteral("Done"));
         EXPECT_FALSE(Find<QPushButton>(w, "wizard_next")->isVisibleTo(w));
         finish->click();
       },
       ID_WIZFINISH, 2},
      {[](QWidget* w) { Find<QPushButton>(w, "wizard_cancel")->click(); }, IDCANCEL, 1},
      {[](QWidget* w) {
         Find<QPushButton>(w, "wizard_next")->click();
         QTest::keyClicks(Find<QLineEdit>(w, "ctl_300"), "end");
         Find<QPushButton>(w, "wizard_next")->click();
       },
       -10, 1},
  };
  for (const auto& c : cases) {
    TestWizard wizard;
    WhenShown([&](QWidget* w) {
      if (w != nullptr) c.steps(w);
    });
    EXPECT_EQ(wizard.DoModal(), c.result);
    EXPECT_EQ(wizard.m_page1.m_nActivations, c.activations1);
  }
}

// The every-control dialog with a big tree: 400 folders under Top, each fifth with a child, and one
// name far wider than the control.
class BigTreeDialog : public EveryControlDialog {
 public:
  BOOL OnInitDialog() override {
    EveryControlDialog::OnInitDialog();
    auto* tree = GetDlgItemAs<CTreeCtrl>(160);
    HTREEITEM top = tree->GetRootItem();
    for (int i = 0; i < 400; ++i) {
      HTREEITEM item = tree->InsertItem("folder " + std::to_string(i), top);
      if (i % 5 == 0) tree->InsertItem("inner", item);
    }
    tree->InsertItem(std::string(200, 'W'), top);
    tree->Expand(top, TVE_EXPAND);
    return TRUE;
  }
};

QTreeWidgetItem* Named(QTreeWidgetItem* parent, const QString& text) {
  for (int i = 0; i < parent->childCount(); ++i)
    if (parent->child(i)->text(0) == text) return parent->child(i);
  return nullptr;
}

TEST_F(QtHostTest, TreeUpdatesInPlaceAndKeepsTheScrollPosition) {
  BigTreeDialog dialog;
  bool checked = false;
  WhenShown([&](QWidget* w) {
    auto* tree = Find<QTreeWidget>(w, "ctl_160");
    ASSERT_NE(tree, nullptr);
    QApplication::processEvents();
    QTreeWidgetItem* top = tree->topLevelItem(0);
    ASSERT_NE(top, nullptr);
    QTreeWidgetItem* far = Named(top, QStringLiteral("folder 390"));
    QTreeWidgetItem* plain = Named(top, QStringLiteral("folder 391"));
    ASSERT_NE(far, nullptr);
    // The expand button only where there is something below.
    EXPECT_EQ(far->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(plain->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    // The widest name scrolls sideways.
    EXPECT_GT(tree->horizontalScrollBar()->maximum(), 0);
    tree->scrollToItem(far);
    QApplication::processEvents();
    const int scrolled = tree->verticalScrollBar()->value();
    EXPECT_GT(scrolled, 0);
    // Expanding a folder away from the selection keeps the view where the user put it, and the
    // widget items that did not change are the same objects.
    far->setExpanded(true);
    QApplication::processEvents();
    EXPECT_EQ(tree->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(Named(top, QStringLiteral("folder 390")), far);
    EXPECT_EQ(Named(top, QStringLiteral("folder 391")), plain);
    EXPECT_EQ(dialog.GetDlgItemAs<CTreeCtrl>(160)->GetItemState(
                  dialog.GetDlgItemAs<CTreeCtrl>(160)->GetRootItem(), TVIS_EXPANDED),
              UINT{TVIS_EXPANDED});
    checked = true;
    Find<QPushButton>(w, "ctl_2")->click();
  });
  dialog.DoModal();
  EXPECT_TRUE(checked);
}

TEST_F(QtHostTest, DialogsWithListsGrowButNeverShrinkBelowTheTemplate) {
  EveryControlDialog dialog;
  WhenShown([&](QWidget* w) {
    ASSERT_NE(w, nullptr);
    const QSize base = w->size();
    EXPECT_EQ(w->minimumSize(), base);
    EXPECT_GT(w->maximumSize().width(), base.width());
    auto* ok = Find<QPushButton>(w, "ctl_1");
    const QRect okBefore = ok->geometry();
    const QList<QWidget*> growers = {Find<QListWidget>(w, "ctl_140"), Find<QTreeWidget>(w, "ctl_160")};
    int grownBefore = 0;
    for (QWidget* g : growers) grownBefore += g->width() + g->height();
    w->resize(base + QSize(120, 90));
    QApplication::processEvents();
    int grownAfter = 0;
    for (QWidget* g : growers) grownAfter += g->width() + g->height();
    EXPECT_GT(grownAfter, grownBefore);
    // Nothing leaves the window, and OK stays in it.
    for (QWidget* c : w->findChildren<QWidget*>(QRegularExpression(QStringLiteral("^ctl_"))))
      EXPECT_LE(c->geometry().right(), w->width()) << c->objectName().toStdString();
    EXPECT_TRUE(w->rect().contains(ok->geometry())) << okBefore.x();
    Find<QPushButton>(w, "ctl_2")->click();
  });
  dialog.DoModal();
}

// The Qt file dialog asks the model's questions after adding the default extension, as Windows does.
class QtFileDialogTest : public QtHostTest {
 protected:
  void SetUp() override {
    QtHostTest::SetUp();
    m_dir = std::filesystem::temp_directory_path() / ("m3qtfile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_dir);
    std::ofstream(m_dir / "old.tif") << "x";
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  // Types name and presses the dialog's accept; a box that comes up is answered with answer and its
  // text kept.
  static void Choose(QWidget* window, const QString& name, QMessageBox::StandardButton answer,
                     QString* boxText) {
    auto* fileDialog = qobject_cast<QFileDialog*>(window);
    ASSERT_NE(fileDialog, nullptr);
    auto* edit = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    QTimer::singleShot(0, [answer, boxText] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      if (boxText != nullptr) *boxText = box->text();
      box->button(answer)->click();
    });
    QMetaObject::invokeMethod(fileDialog, "accept", Qt::DirectConnection);
    QApplication::processEvents();
  }

  std::filesystem::path m_dir;
};

TEST_F(QtFileDialogTest, SaveAsAsksBeforeReplacingAfterTheExtensionIsAdded) {
  const std::string dir = m_dir.string() + "/";
  CFileDialog dialog(FALSE, "tif", (dir + "scan.tif").c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                     "TIFF image (*.tif)|*.tif|All files|*.*||");
  QString asked;
  WhenShown([&](QWidget* w) {
    Choose(w, QStringLiteral("old"), QMessageBox::No, &asked);
    ASSERT_EQ(QApplication::activeModalWidget(), w) << "No keeps the dialog open";
    Choose(w, QStringLiteral("new"), QMessageBox::Yes, nullptr);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(asked.toStdString(), dir + "old.tif already exists.\nDo you want to replace it?");
  EXPECT_EQ(dialog.GetPathName(), dir + "new.tif");

  CFileDialog again(FALSE, "tif", (dir + "scan.tif").c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                    "TIFF image (*.tif)|*.tif||");
  WhenShown([&](QWidget* w) { Choose(w, QStringLiteral("old"), QMessageBox::Yes, nullptr); });
  EXPECT_EQ(again.DoModal(), IDOK);
  EXPECT_EQ(again.GetPathName(), dir + "old.tif");
  EXPECT_EQ(again.m_ofn.nFilterIndex, 1u);
}

TEST_F(QtFileDialogTest, OpenRefusesAMissingFileAndFiltersComeFromTheModel) {
  const std::string dir = m_dir.string() + "/";
  CFileDialog dialog(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST,
                     "TIFF image (*.tif)|*.tif|JPEG|*.jpg;*.jpeg||");
  dialog.m_ofn.lpstrInitialDir = dir;
  dialog.m_ofn.nFilterIndex = 2;
  QString asked, filter;
  WhenShown([&](QWidget* w) {
    auto* fileDialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(fileDialog, nullptr);
    filter = fileDialog->selectedNameFilter();
    Choose(w, QStringLiteral("missing.tif"), QMessageBox::Ok, &asked);
    ASSERT_EQ(QApplication::activeModalWidget(), w);
    Choose(w, QStringLiteral("old.tif"), QMessageBox::Ok, nullptr);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(filter, QStringLiteral("JPEG (*.jpg *.jpeg)"));
  EXPECT_EQ(asked.toStdString(), dir + "missing.tif\nFile not found.\nCheck the file name and try again.");
  EXPECT_EQ(dialog.GetPathName(), dir + "old.tif");
}

// A display that cannot be reached and an unknown host name both end in the documented behaviour:
// boxes answer 0, after one clear line on standard error; never an abort.
TEST(HostChoiceTest, UnreachableDisplayAndUnknownHostShowNothing) {
  const struct {
    const char* env;
    const char* message;
  } cases[] = {
      {"env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u MARLIN3_UI DISPLAY=:87",
       "the display \":87\" cannot be reached"},
      {"env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u DISPLAY -u MARLIN3_UI", "no display"},
      {"env MARLIN3_UI=qtt", "MARLIN3_UI=\"qtt\" is not a user interface (qt or scripted)"},
  };
  const auto dir = std::filesystem::temp_directory_path() / ("m3host-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (const auto& c : cases) {
    const std::string command = std::string(c.env) + " '" + MARLIN3_BIN_DIR +
                                "/platform_ui_script_runner' msgbox > '" + (dir / "out").string() + "' 2> '" +
                                (dir / "err").string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.env;
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.env;
    std::ifstream out(dir / "out"), err(dir / "err");
    std::stringstream o, e;
    o << out.rdbuf();
    e << err.rdbuf();
    EXPECT_EQ(o.str(), "first=0\nsecond=0\n") << c.env;
    EXPECT_NE(e.str().find(c.message), std::string::npos) << c.env << ": " << e.str();
    EXPECT_NE(e.str().find("message boxes and dialogs are not shown"), std::string::npos) << e.str();
  }
  std::filesystem::remove_all(dir);
}

class AboutDialog : public EveryControlDialog {
 public:
  BOOL OnInitDialog() override {
    EveryControlDialog::OnInitDialog();
    GetSystemMenu(FALSE)->AppendMenu(MF_SEPARATOR);
    GetSystemMenu(FALSE)->AppendMenu(MF_STRING, 16, "&About Test...");
    GetDlgItemAs<CListBox>(141)->SetHorizontalExtent(900);
    return TRUE;
  }
  void OnSysCommand(UINT id, LPARAM param) override {
    if ((id & 0xFFF0) == 16) m_strEvents += "about;";
  }
};

TEST_F(QtHostTest, WindowMenuItemsAreTheDialogsContextMenuAndExtentsScroll) {
  AboutDialog dialog;
  QStringList shown;
  int scrollMax = -1;
  WhenShown([&](QWidget* w) {
    ASSERT_NE(w, nullptr);
    scrollMax = Find<QListWidget>(w, "ctl_141")->horizontalScrollBar()->maximum();
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) shown << a->text();
      if (!menu->actions().isEmpty()) menu->actions().back()->trigger();
      menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), w->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(w, &event);
    Find<QPushButton>(w, "ctl_2")->click();
  });
  dialog.DoModal();
  EXPECT_EQ(shown, QStringList{QStringLiteral("&About Test...")});
  EXPECT_EQ(dialog.m_strEvents, "about;");
  EXPECT_GT(scrollMax, 0);
}

TEST_F(QtHostTest, ModelessDialogLivesUntilDestroyed) {
  EveryControlDialog dialog;
  ASSERT_TRUE(dialog.Create(500));
  auto findWindow = [] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->findChild<QWidget*>(QStringLiteral("ctl_160")) != nullptr) return top;
    return static_cast<QWidget*>(nullptr);
  };
  QWidget* window = findWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->isVisible());
  dialog.ShowWindow(SW_SHOW);
  QApplication::processEvents();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Every Control"));
  EXPECT_TRUE(dialog.DestroyWindow());
  EXPECT_EQ(findWindow(), nullptr);
  EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST_F(QtHostTest, PumpingEventsShowsChangesAndRunsTheUsersClicks) {
  // A busy program's modeless window: the click waits in Qt's queue until the program pumps.
  EveryControlDialog dialog;
  ASSERT_TRUE(dialog.Create(500));
  dialog.ShowWindow(SW_SHOW);
  platform::ui::Host().PumpEvents();
  QWidget* window = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->findChild<QWidget*>(QStringLiteral("ctl_160")) != nullptr) window = top;
  ASSERT_NE(window, nullptr);
  auto* push = window->findChild<QPushButton*>(QStringLiteral("ctl_180"));
  ASSERT_NE(push, nullptr);
  QMetaObject::invokeMethod(push, &QPushButton::click, Qt::QueuedConnection);
  dialog.SetDlgItemText(170, "2");
  EXPECT_EQ(dialog.m_strEvents, "");
  platform::ui::Host().PumpEvents();
  EXPECT_EQ(dialog.m_strEvents, "push;");
  // Both the program's change and the one the click's handler made are on screen.
  EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("ctl_170"))->text(), QStringLiteral("2"));
  EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("ctl_100"))->text(), QStringLiteral("pushed"));
  EXPECT_TRUE(dialog.DestroyWindow());
}

}  // namespace
