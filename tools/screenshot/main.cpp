// marlin3-screenshot: renders dialog templates of the resource library offscreen to PNG, filled with
// sample content, to check layouts by eye: "marlin3-screenshot 146 out.png" or "--all DIR"
// (DIR/<number>.png for every template). Each dialog runs through the Qt host as the program shows it
// and is captured with a drawn title bar (offscreen Qt has no window manager to draw one); a property
// page is shown inside the wizard, with the program's wizard caption and its Back/Next/Finish/Cancel row.
#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QStyleFactory>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/resource/Resource.h"
#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"

namespace {

// The program's wizard: its caption string and its pages in the order the sheet adds them.
constexpr UINT kWizardCaption = 102;
constexpr UINT kFinishText = 106;
constexpr UINT kWizardOrder[] = {145, 141, 140, 130, 131, 133, 132, 134, 150, 137, 139};

// Data statics whose content is known: the longest Quick Set name (90 characters) and texts the
// program loads from the string table.
struct KnownSample {
  UINT nDialog;
  int nControl;
  const char* pszText;  // null: string nString of the library
  UINT nString;
};
constexpr KnownSample kKnownSamples[] = {
    {147, 1056, "Scan to the shared archive of the accounting department, 300 dpi, searchable PDF, weekly..",
     0},
    {148, 1058, nullptr, 218},
};

void FillSamples(CDialog& dialog) {
  for (CWnd* w : dialog.Controls()) {
    const auto known =
        std::find_if(std::begin(kKnownSamples), std::end(kKnownSamples), [&](const KnownSample& k) {
          return k.nDialog == dialog.GetTemplateId() && k.nControl == w->GetDlgCtrlID();
        });
    std::string text;
    if (known != std::end(kKnownSamples)) {
      if (known->pszText == nullptr)
        platform::resource::LoadString(platform::ui::ResourceModule(), known->nString, text);
      w->SetWindowText(known->pszText != nullptr ? known->pszText : text);
    } else if (auto* l = dynamic_cast<CListBox*>(w)) {
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
      // Narrow statics hold short values (a network prefix of wide letters); wide ones the longest
      // summary line the program shows (60 characters and "...").
      w->SetWindowText(w->GetWidth() < 60 ? "WWWW:"
                                          : "Destination folder: /home/someone/Documents/Scans/Quarter-r...");
    } else if (auto* b = dynamic_cast<CButton*>(w); b != nullptr && (b->IsCheckBox() || b->IsRadio())) {
      if (dialog.GroupStart(b->GetDlgCtrlID()) == b->GetDlgCtrlID() || b->IsCheckBox())
        b->SetCheck(BST_CHECKED);
    }
  }
}

// A dialog or page filled with sample content once its controls exist.
template <typename Base>
class WithSamples : public Base {
 public:
  explicit WithSamples(UINT id) : Base(id) {}
  BOOL OnInitDialog() override {
    Base::OnInitDialog();
    FillSamples(*this);
    return TRUE;
  }
};

using SampleDialog = WithSamples<CDialog>;

// A wizard page with the buttons its place in the wizard gives it.
class SamplePage : public WithSamples<CPropertyPage> {
 public:
  explicit SamplePage(UINT id) : WithSamples<CPropertyPage>(id) {}
  BOOL OnSetActive() override {
    CPropertySheet* sheet = GetSheet();
    const int index = sheet->GetPageIndex(this);
    if (index == sheet->GetPageCount() - 1) {
      sheet->SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
      std::string finish;
      if (platform::resource::LoadString(platform::ui::ResourceModule(), kFinishText, finish))
        sheet->SetFinishText(finish);
    } else {
      sheet->SetWizardButtons(index == 0 ? DWORD{PSWIZB_NEXT} : DWORD{PSWIZB_BACK | PSWIZB_NEXT});
    }
    return CPropertyPage::OnSetActive();
  }
};

// The window as a desktop draws it: a one-pixel border and a caption bar with the title and a close
// button above the client area.
QImage Framed(const QPixmap& client, const QString& caption) {
  QFont font = QApplication::font();
  font.setBold(true);
  const QFontMetrics metrics(font);
  const int border = 1;
  const int bar = metrics.height() + 12;
  QImage image(client.width() + 2 * border, client.height() + bar + 2 * border, QImage::Format_RGB32);
  image.fill(QColor(0x3b, 0x4a, 0x5e));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(border, border, image.width() - 2 * border, bar, QColor(0x4a, 0x5d, 0x76));
  const int close = bar - 12;
  const QRect closeBox(image.width() - border - 8 - close, border + 6, close, close);
  painter.setPen(QPen(Qt::white, 1.6));
  painter.drawLine(closeBox.topLeft() + QPoint(3, 3), closeBox.bottomRight() - QPoint(3, 3));
  painter.drawLine(closeBox.topRight() + QPoint(-3, 3), closeBox.bottomLeft() + QPoint(3, -3));
  painter.setFont(font);
  const QRect text(border + 8, border, closeBox.left() - border - 16, bar);
  painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                   metrics.elidedText(caption, Qt::ElideRight, text.width()));
  painter.drawPixmap(border, border + bar, client);
  return image;
}

// Captures the first modal window the host shows, then closes it.
class Capture {
 public:
  Capture() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Take(); });
    m_timer.start(0);
  }
  const QImage& Image() const { return m_image; }

 private:
  void Take() {
    auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (window == nullptr) return;
    m_timer.stop();
    // Let the view show its pending changes and the layouts settle before the picture is taken.
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    m_image = Framed(window->grab(), window->windowTitle());
    window->done(0);
  }
  QTimer m_timer;
  QImage m_image;
};

bool Render(const M3ResDialog& t, const std::vector<UINT>& pages, const std::string& out) {
  Capture capture;
  if (t.kind == M3_PROPERTY_PAGE) {
    CPropertySheet sheet(kWizardCaption);
    std::vector<std::unique_ptr<SamplePage>> owned;
    int start = -1;
    for (UINT id : pages) {
      owned.push_back(std::make_unique<SamplePage>(id));
      if (id == t.id) start = static_cast<int>(owned.size()) - 1;
      sheet.AddPage(owned.back().get());
    }
    if (start < 0) return false;
    sheet.SetWizardMode();
    sheet.SetActivePage(start);
    sheet.DoModal();
  } else {
    SampleDialog dialog(t.id);
    dialog.DoModal();
  }
  return !capture.Image().isNull() && capture.Image().save(QString::fromStdString(out), "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: marlin3-screenshot NUMBER OUT.png | --all DIR\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("MARLIN3_UI", "qt", 1);
  QApplication app(argc, argv);
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  HMODULE resources = platform::ui::ResourceModule();
  if (resources == nullptr) {
    std::fprintf(stderr, "marlin3-screenshot: the resource library libmarlin3.so was not found\n");
    return 1;
  }
  // Every property page, in wizard order first, then any the wizard order does not name.
  const std::vector<UINT> ids = platform::resource::DialogIds(resources);
  std::vector<UINT> pages;
  for (UINT id : kWizardOrder)
    if (const M3ResDialog* t = platform::resource::FindDialog(resources, id);
        t && t->kind == M3_PROPERTY_PAGE)
      pages.push_back(id);
  for (UINT id : ids) {
    const M3ResDialog* t = platform::resource::FindDialog(resources, id);
    if (t->kind == M3_PROPERTY_PAGE && std::find(pages.begin(), pages.end(), id) == pages.end())
      pages.push_back(id);
  }
  const bool all = std::strcmp(argv[1], "--all") == 0;
  int failures = 0;
  bool found = false;
  for (UINT id : ids) {
    if (!all && std::to_string(id) != argv[1]) continue;
    found = true;
    const std::string out = all ? std::string(argv[2]) + "/" + std::to_string(id) + ".png" : argv[2];
    if (!Render(*platform::resource::FindDialog(resources, id), pages, out)) {
      std::fprintf(stderr, "marlin3-screenshot: cannot render template %u to %s\n", id, out.c_str());
      ++failures;
    }
  }
  if (!found) {
    std::fprintf(stderr, "marlin3-screenshot: no template %s\n", argv[1]);
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
