// The main dialog through the Qt host offscreen, driven with QTest as a person would: choosing entries
// with the keyboard changes the Scan caption, Setup's tool tip, Setup opens the wizard and Cancel comes
// back, the window menu (the dialog's context menu, also on Shift+F10) opens the About box, Tab walks the
// template's order, access keys reach their controls, Escape cancels and Enter presses Scan.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "settings/MyReg.h"
#include "ui/HalyardDlg.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kMainKey = "SOFTWARE\\Nexora\\marlin3";

QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("MARLIN3_UI");
  static QApplication* app =
      qApp != nullptr ? static_cast<QApplication*>(qApp) : new QApplication(argc, argv);
  return *app;
}

QDialog* Modal() {
  QApplication::processEvents();
  return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

// For timer callbacks: processing events there could run a pending animated click whose modal loop
// would then block the very timer that waits for the window it opens.
QDialog* CurrentModal() {
  return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

template <class T>
T* Child(QWidget* parent, int id) {
  return parent == nullptr ? nullptr : parent->findChild<T*>(QStringLiteral("ctl_%1").arg(id));
}

std::string Text(QWidget* parent, int id) {
  QApplication::processEvents();
  auto* b = Child<QAbstractButton>(parent, id);
  return b == nullptr ? std::string("<missing>") : b->text().toStdString();
}

// The control that has the focus in the window (whether or not the window is the active one).
int FocusId(QWidget* window) {
  QWidget* w = window == nullptr ? nullptr : window->focusWidget();
  return w == nullptr ? 0 : w->property("m3id").toInt();
}

// Runs fn on a modal window other than over once one is open: a button pressed by its access key opens
// its dialog only after the press is drawn.
void WhenOpenedOver(QWidget* over, std::function<void(QDialog*)> fn) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, over, fn] {
    QDialog* d = CurrentModal();
    if (d == nullptr || d == over) return;
    poll->stop();
    poll->deleteLater();
    fn(d);
  });
  poll->start(5);
}

// Runs fn on the next modal window that opens (the calls that open one block until it closes).
void WhenShown(std::function<void(QDialog*)> fn) {
  QTimer::singleShot(0, [fn] { fn(CurrentModal()); });
}

class HalyardDlgQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    m_dir = fs::temp_directory_path() / ("m3main-" + std::to_string(::getpid()));
    fs::create_directories(m_dir / "registry");
    ::setenv("MARLIN3_REGISTRY_DIR", (m_dir / "registry").c_str(), 1);
    if (AfxGetResourceHandle() == nullptr) AfxSetResourceHandle(LoadLibraryA("marlin3.dll"));
    // Two Quick Sets, one named like the start of the other.
    MyReg main(HKEY_CURRENT_USER, kMainKey, MyReg::kCreate, KEY_WRITE);
    main.Set(std::string("Save"), "Qs");
    for (const char* name : {"Save as TIFF", "Save"}) {
      MyReg qs(HKEY_CURRENT_USER, std::string(kMainKey) + "\\" + name, MyReg::kCreate, KEY_WRITE);
      qs.Set(DWORD{2}, "Task");
      qs.Set(std::string("0"), "Dest");
    }
  }
  void TearDown() override {
    ::unsetenv("MARLIN3_REGISTRY_DIR");
    fs::remove_all(m_dir);
  }
  fs::path m_dir;
};

TEST_F(HalyardDlgQtTest, MouseAndKeyboardAsAPersonUsesIt) {
  std::string qsName;
  CHalyardDlg dlg(qsName);
  dlg.m_nTask = 3;
  struct Seen {
    std::string firstCaption, oneTimeCaption, savedCaption, title, tip;
    int firstFocus = 0, afterBackTab = 0, afterTab1 = 0, afterTab2 = 0, afterTab3 = 0, afterQ = 0;
    bool iconSet = false, wizardShown = false, openAfterWizard = false, menuShown = false, menuByKey = false;
    std::string menuItems, aboutTitle;
    bool aboutIcon = false, aboutClosed = false;
    int setupByKey = 0;
  } seen;
  WhenShown([&](QDialog* w) {
    if (w == nullptr) return;
    seen.title = w->windowTitle().toStdString();
    seen.iconSet = !w->windowIcon().isNull();
    seen.firstFocus = FocusId(w);
    seen.firstCaption = Text(w, 1048);
    auto* combo = Child<QComboBox>(w, 1001);
    // The keyboard moves through the closed box: the last entry is the one-time entry.
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_End);
    seen.oneTimeCaption = Text(w, 1048);
    QTest::keyClick(combo, Qt::Key_Up);
    seen.savedCaption = Text(w, 1048);

    // Setup's tool tip, as the host answers a hover.
    auto* setup = Child<QPushButton>(w, 3);
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), setup->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(setup, &hover);
    seen.tip = QToolTip::text().toStdString();
    QToolTip::hideText();

    // Setup opens the wizard; its Cancel comes back to the dialog.
    WhenShown([&](QDialog* wizard) {
      seen.wizardShown = wizard != nullptr && wizard->findChild<QPushButton*>("wizard_cancel") != nullptr;
      if (seen.wizardShown)
        QTest::mouseClick(wizard->findChild<QPushButton*>("wizard_cancel"), Qt::LeftButton);
    });
    QTest::mouseClick(setup, Qt::LeftButton);
    seen.openAfterWizard = Modal() == w;

    // The window menu: the About item opens the About box, Enter closes it.
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr || menu->objectName() != "sysmenu") return;
      seen.menuShown = true;
      for (QAction* a : menu->actions()) seen.menuItems += (a->isSeparator() ? "|" : a->text().toStdString());
      WhenShown([&](QDialog* about) {
        if (about == nullptr || about == w) return;
        seen.aboutTitle = about->windowTitle().toStdString();
        for (QLabel* l : about->findChildren<QLabel*>()) seen.aboutIcon |= !l->pixmap().isNull();
        QTest::keyClick(about, Qt::Key_Return);
        seen.aboutClosed = Modal() != about;
      });
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) menu->setActiveAction(a);
      QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(4, 4), w->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(w, &context);

    // Shift+F10 on the focused button opens the same menu from the keyboard; Escape closes it.
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr || menu->objectName() != "sysmenu") return;
      seen.menuByKey = true;
      QTest::keyClick(menu, Qt::Key_Escape);
    });
    Child<QPushButton>(w, 1048)->setFocus();
    QTest::keyClick(w->focusWidget(), Qt::Key_F10, Qt::ShiftModifier);

    // Tab follows the template: Scan, Setup, Close, then round to the box.
    Child<QPushButton>(w, 1048)->setFocus();
    QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
    seen.afterTab1 = FocusId(w);
    QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
    seen.afterTab2 = FocusId(w);
    QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
    seen.afterTab3 = FocusId(w);
    // Alt+Q, the label's access key, goes from Close to the box; Alt+S presses Setup. Access keys
    // act in the active window, which the closed menu gave back.
    QTest::keyClick(w->focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    seen.afterBackTab = FocusId(w);
    QApplication::processEvents();
    QTest::keyClick(w, Qt::Key_Q, Qt::AltModifier);
    seen.afterQ = FocusId(w);
    WhenOpenedOver(w, [&](QDialog* wizard) {
      ++seen.setupByKey;
      QTest::keyClick(wizard, Qt::Key_Escape);
    });
    QTest::keyClick(w, Qt::Key_S, Qt::AltModifier);
    for (int i = 0; i < 100 && seen.setupByKey == 0; ++i) QTest::qWait(10);
    // Escape cancels the main dialog.
    QTest::keyClick(w, Qt::Key_Escape);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);

  EXPECT_EQ(seen.title, "marlin3");
  EXPECT_TRUE(seen.iconSet);
  EXPECT_NE(dlg.GetIcon(TRUE), nullptr);
  EXPECT_EQ(seen.firstFocus, 1048);
  EXPECT_EQ(seen.firstCaption, "Scan");  // "Save", the last used, is a saved Quick Set
  EXPECT_EQ(seen.oneTimeCaption, "Scan...");
  EXPECT_EQ(seen.savedCaption, "Scan");
  EXPECT_FALSE(seen.tip.empty());
  EXPECT_TRUE(seen.wizardShown);
  EXPECT_TRUE(seen.openAfterWizard);
  EXPECT_TRUE(seen.menuShown);
  EXPECT_EQ(seen.menuItems, "|&About marlin3...");
  EXPECT_EQ(seen.aboutTitle, "About marlin3");
  EXPECT_TRUE(seen.aboutIcon);
  EXPECT_TRUE(seen.aboutClosed);
  EXPECT_TRUE(seen.menuByKey);
  EXPECT_EQ(seen.afterTab1, 3);
  EXPECT_EQ(seen.afterTab2, 2);
  EXPECT_EQ(seen.afterTab3, 1001);
  EXPECT_EQ(seen.afterBackTab, 2);
  EXPECT_EQ(seen.afterQ, 1001);
  EXPECT_EQ(seen.setupByKey, 1);
  // The entry chosen last with the keyboard is the current Quick Set.
  EXPECT_EQ(qsName, "Save as TIFF");
}

// Enter with the focus in the box presses the default button, Scan: the dialog ends with the entry's
// task and name, and the name is stored as the last used.
TEST_F(HalyardDlgQtTest, EnterScansWithTheSelectedEntry) {
  std::string qsName;
  CHalyardDlg dlg(qsName);
  dlg.m_nTask = 3;
  std::string selected;
  WhenShown([&](QDialog* w) {
    if (w == nullptr) return;
    auto* combo = Child<QComboBox>(w, 1001);
    selected = combo->currentText().toStdString();
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Return);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  // The last used name selects its own entry, not the longer name beginning with it.
  EXPECT_EQ(selected, "Save");
  EXPECT_EQ(qsName, "Save");
  EXPECT_EQ(dlg.m_nTask, 2);
  std::string stored;
  MyReg main;
  ASSERT_TRUE(main.Open(HKEY_CURRENT_USER, kMainKey, KEY_READ));
  main.Query(stored, "Qs");
  EXPECT_EQ(stored, "Save");
}

}  // namespace
