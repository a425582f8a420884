// marlin3-screenshot: renders dialog templates of the resource library offscreen to PNG, filled with
// sample content, to check layouts by eye: "marlin3-screenshot 146 out.png" or "--all DIR"
// (DIR/<number>.png for every template). Dialogs are drawn as the Qt host shows them; property pages
// are drawn as their page area with the page title above.
#include <dlfcn.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"
#include "platform/ui/qt/QtDialogView.h"

namespace {

void FillSamples(CDialog& dialog) {
  for (CWnd* w : dialog.Controls()) {
    if (auto* l = dynamic_cast<CListBox*>(w)) {
      for (const char* t : {"Scan to File", "Scan to E-mail", "Documents (archive)"}) l->AddString(t);
      l->SetCurSel(0);
    } else if (auto* c = dynamic_cast<CComboBox*>(w)) {
      c->AddString("Sample entry");
      c->AddString("Another entry");
      c->SetCurSel(0);
    } else if (auto* s = dynamic_cast<CSliderCtrl*>(w)) {
      s->SetRange(0, 100);
      s->SetPos(60);
      s->SetTicFreq(10);
    } else if (auto* t = dynamic_cast<CTreeCtrl*>(w)) {
      t->SetImageList(CImageList::System(), TVSIL_NORMAL);
      HTREEITEM root = t->InsertItem("/", CImageList::kDrive, CImageList::kDrive);
      HTREEITEM home = t->InsertItem("home", CImageList::kFolder, CImageList::kFolderOpen, root);
      t->InsertItem("media", CImageList::kFolder, CImageList::kFolderOpen, root);
      HTREEITEM me = t->InsertItem("me", CImageList::kFolder, CImageList::kFolderOpen, home);
      t->InsertItem("Documents", CImageList::kFolder, CImageList::kFolderOpen, me);
      t->SelectItem(me);
    } else if (w->GetKind() == M3_EDIT && w->GetWindowText().empty()) {
      w->SetWindowText("Sample text");
    } else if (w->GetKind() == M3_STATIC && w->GetWindowText().empty()) {
      // Narrow statics hold short values (a network prefix); wide ones the longest summary line the
      // program shows (60 characters and "...").
      w->SetWindowText(w->GetWidth() < 60 ? "PC01:"
                                          : "Destination folder: /home/someone/Documents/Scans/Quarter-r...");
    } else if (auto* b = dynamic_cast<CButton*>(w); b != nullptr && (b->IsCheckBox() || b->IsRadio())) {
      if (dialog.GroupStart(b->GetDlgCtrlID()) == b->GetDlgCtrlID() || b->IsCheckBox())
        b->SetCheck(BST_CHECKED);
    }
  }
}

bool Render(const M3ResDialog& t, const std::string& out) {
  CDialog dialog(t.id);
  if (!dialog.CreateControls()) return false;
  FillSamples(dialog);
  QDialog window;
  window.setWindowTitle(QString::fromUtf8(t.caption != nullptr ? t.caption : ""));
  QPixmap pixmap;
  if (t.kind == M3_PROPERTY_PAGE) {
    auto* layout = new QVBoxLayout(&window);
    auto* title = new QLabel(window.windowTitle(), &window);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    auto* surface = new QWidget(&window);
    QtDialogView view(dialog, surface);
    surface->setFixedSize(view.TemplateSize());
    layout->addWidget(surface);
    view.Flush();
    window.adjustSize();
    pixmap = window.grab();
  } else {
    QtDialogView view(dialog, &window);
    window.setFixedSize(view.TemplateSize());
    view.Flush();
    pixmap = window.grab();
  }
  return pixmap.save(QString::fromStdString(out), "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: marlin3-screenshot NUMBER OUT.png | --all DIR\n");
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  if (platform::ui::ResourceModule() == nullptr) {
    std::fprintf(stderr, "marlin3-screenshot: the resource library libmarlin3.so was not found\n");
    return 1;
  }
  auto dialogs = reinterpret_cast<const M3ResDialog* (*)(std::size_t*)>(
      ::dlsym(platform::ui::ResourceModule(), "m3res_dialogs"));
  std::size_t count = 0;
  const M3ResDialog* table = dialogs != nullptr ? dialogs(&count) : nullptr;
  int failures = 0;
  for (std::size_t i = 0; table != nullptr && i < count; ++i) {
    const bool all = std::strcmp(argv[1], "--all") == 0;
    if (!all && std::to_string(table[i].id) != argv[1]) continue;
    const std::string out = all ? std::string(argv[2]) + "/" + std::to_string(table[i].id) + ".png" : argv[2];
    if (!Render(table[i], out)) {
      std::fprintf(stderr, "marlin3-screenshot: cannot render template %u to %s\n", table[i].id, out.c_str());
      ++failures;
    } else if (!all) {
      return 0;
    }
    if (!all) break;
  }
  if (std::strcmp(argv[1], "--all") != 0 && failures == 0) {
    std::fprintf(stderr, "marlin3-screenshot: no template %s\n", argv[1]);
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
