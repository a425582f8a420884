// Measures what a user feels in the folder tree of the Qt host (template 146) holding 5,000 items:
// one Down-arrow step (the model's selection change and the view's update) and one expand of a folder
// away from the selection. Prints the median and the 95th percentile of each, in milliseconds.
//
// Usage: bench_ui_tree [steps]   (offscreen; libmarlin3.so and libm3uiqt.so beside the program)
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ui/Dialog.h"
#include "platform/ui/TreeCtrl.h"

namespace {

class BigTree : public CDialog {
 public:
  BigTree() : CDialog(146) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* tree = GetDlgItemAs<CTreeCtrl>(1051);
    if (tree == nullptr) return TRUE;
    tree->SetRedraw(FALSE);
    HTREEITEM first = nullptr;
    for (int f = 0; f < 50; ++f) {
      HTREEITEM folder = tree->InsertItem("folder " + std::to_string(f));
      for (int i = 0; i < 99; ++i) {
        HTREEITEM item = tree->InsertItem("item " + std::to_string(i), folder);
        if (i % 10 == 0) tree->InsertItem("", item);  // a placeholder: an expand button
        if (first == nullptr) first = item;
      }
      if (f < 40) tree->Expand(folder, TVE_EXPAND);
    }
    tree->SetRedraw(TRUE);
    tree->SelectItem(first);
    return TRUE;
  }
};

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  std::printf("%-28s median %.2f ms, p95 %.2f ms (%zu samples)\n", what, samples[samples.size() / 2],
              samples[samples.size() * 95 / 100], samples.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("MARLIN3_UI", "qt", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  BigTree dialog;
  std::vector<double> down, expand;
  QTimer::singleShot(0, [&] {
    QWidget* window = QApplication::activeModalWidget();
    auto* tree = window != nullptr ? window->findChild<QTreeWidget*>(QStringLiteral("ctl_1051")) : nullptr;
    if (tree == nullptr) {
      std::fprintf(stderr, "bench_ui_tree: template 146 has no tree\n");
      std::exit(1);
    }
    QApplication::processEvents();
    tree->setFocus();
    for (int i = 0; i < steps; ++i) {
      const auto start = std::chrono::steady_clock::now();
      QTest::keyClick(tree, Qt::Key_Down);
      QApplication::processEvents();
      down.push_back(Ms(std::chrono::steady_clock::now() - start));
    }
    // Folders 40..49 are closed and far from the selection.
    for (int f = 40; f < 50; ++f) {
      QTreeWidgetItem* folder = tree->topLevelItem(f);
      const auto start = std::chrono::steady_clock::now();
      folder->setExpanded(true);
      QApplication::processEvents();
      expand.push_back(Ms(std::chrono::steady_clock::now() - start));
    }
    window->close();
    dialog.EndDialog(IDCANCEL);
  });
  dialog.DoModal();
  Report("Down arrow, 5,000 items", down);
  Report("expand a closed folder", expand);
  return 0;
}
