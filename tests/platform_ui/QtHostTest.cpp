// The Qt host, offscreen: a message box, the dialog with every control kind and the three-page wizard
// driven through their widgets with QTest, checking that the model sees what the user did and that
// the widgets show what the model holds.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <functional>

#include "TestDialogs.h"
#include "platform/ui/MessageBox.h"

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

}  // namespace
