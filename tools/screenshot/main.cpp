// marlin3-screenshot: renders dialog templates of the resource library offscreen to PNG, filled with
// the content of their role (Quick Set names, scanner names, settings lists, a finish summary), to check
// layouts by eye: "marlin3-screenshot [--scale F] 146 out.png" or "--all DIR" (DIR/<number>.png for
// every template); "--check" lists every text the host's font does not fit into its control (exit 1).
// The dialogs come in the user's language (LC_ALL, LC_MESSAGES, LANG). Each dialog runs through the Qt host
// as the program shows it and is captured with a drawn title bar (offscreen Qt has no window manager to draw
// one); a property page is shown inside the wizard, with the program's wizard caption and its
// Back/Next/Finish/Cancel row.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/module/Module.h"
#include "platform/resource/Resource.h"
#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/ProgressCtrl.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"

namespace {

// The program's wizard: its caption string and its pages in the order the sheet adds them.
constexpr UINT kWizardCaption = 102;
constexpr UINT kFinishText = 106;
constexpr UINT kDeleteText = 107;
constexpr UINT kWizardOrder[] = {145, 141, 140, 130, 131, 133, 132, 134, 150, 137, 139};

std::string Str(UINT id) {
  std::string text;
  platform::resource::LoadString(platform::ui::ResourceModule(), id, text);
  return text;
}

// The framework's two-placeholder formatting, for the finish page's summary lines.
std::string Format2(UINT id, const std::string& one, const std::string& two) {
  std::string out;
  const std::string format = Str(id);
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == '1' || format[i + 1] == '2')) {
      out += format[i + 1] == '1' ? one : two;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

// Content a user would see, by template and control: Quick Set names, scanner names, the settings
// lists, a summary. Texts of the resource library where the program takes them from there.
const char* const kQuickSets[] = {"Invoices to archive", "Contracts (searchable PDF)", "Photos 300 dpi"};
const char* const kFolder = "/home/anna/Documents/Scans";
const char* const kLongQuickSet =
    "Scan to the shared archive of the accounting department, 300 dpi, searchable PDF, weekly..";

void FillList(CWnd* w, const std::vector<std::string>& entries, int select) {
  if (auto* l = dynamic_cast<CListBox*>(w)) {
    for (const auto& e : entries) l->AddString(e);
    l->SetCurSel(select);
  } else if (auto* c = dynamic_cast<CComboBox*>(w)) {
    for (const auto& e : entries) c->AddString(e);
    c->SetCurSel(select);
  }
}

std::vector<std::string> QuickSetNames(bool withOneTime) {
  std::vector<std::string> names = {Str(89), Str(88)};
  for (const char* q : kQuickSets) names.emplace_back(q);
  if (withOneTime) names.push_back(Str(85));
  return names;
}

// Fills what a template's role gives it; false for a control it has no content for.
bool FillKnown(CDialog& dialog, CWnd* w) {
  const UINT d = dialog.GetTemplateId();
  const int id = w->GetDlgCtrlID();
  auto set = [&](const std::string& text) {
    w->SetWindowText(text);
    return true;
  };
  auto list = [&](const std::vector<std::string>& entries, int select) {
    FillList(w, entries, select);
    return true;
  };
  // The file type descriptions of the library (PDF, TIFF compressed, JPEG, PNG), as the program lists them.
  const std::vector<std::string> types = {Str(27), Str(29), Str(18), Str(22)};
  switch (d) {
    case 102:
      if (id == 1001) return list(QuickSetNames(true), 0);
      if (id == 1048) return set(Str(95));
      break;
    case 129:
      // The dialog's display forms: "Quick Set (device name)" on the left, "device name (Quick Set)"
      // for this PC's and the bare names of other PCs' on the right.
      if (id == 1004)
        return list({std::string(kQuickSets[1]) + " (ANNA:Contracts)", kQuickSets[2], kLongQuickSet}, 0);
      if (id == 1005)
        return list({"ANNA:Invoices (" + std::string(kQuickSets[0]) + ")", "ANNA:Mail PDF (" + Str(89) + ")",
                     "BOB-LAPTOP:Receipts", "BOB-LAPTOP:Scan to desktop", "RECEPTION:Visitor forms",
                     "RECEPTION:ID copies", "LAB-7:Lab notebook pages, 600 dpi colour", "LAB-7:Samples",
                     "WAREHOUSE:Delivery notes", "WAREHOUSE:Returns", "HR-OFFICE:Contracts (signed)",
                     "HR-OFFICE:Payroll"},
                    -1);
      if (id == 2) return set(Str(109));
      break;
    case 131:
      if (id == 42) return list({Str(113), Str(114), Str(115), Str(116), Str(117), Str(118)}, 2);
      if (id == 44) return list({Str(119), Str(121), Str(120)}, 2);
      if (id == 48) return list({Str(136), Str(137), Str(135), Str(124), Str(125), Str(126)}, 3);
      if (id == 50) return list({Str(142), Str(143)}, 1);
      if (id == 52) return set("297");
      if (id == 54) return set("210");
      break;
    case 132:
      if (id == 57 || id == 60) return set(kFolder);
      if (id == 63 || id == 62) return list(types, 0);
      break;
    case 133:
      if (id == 69) return list(types, 0);
      if (id == 64) return set("anna.berg@example.com");
      if (id == 65) return set("Scanned contract, 4 pages");
      if (id == 67) return set("Hello, here is the signed contract. Best regards, Anna");
      break;
    case 134:
      if (id == 75) return set("/usr/bin/document-viewer");
      if (id == 77) return list(types, 0);
      if (id == 78) return set(kFolder);
      break;
    case 137:
      if (id == 1021) return set(kQuickSets[0]);
      if (id == 1030) return set("Invoices");
      if (id == 1059) return set("ANNA:");  // four letters of the computer's name
      break;
    case 139: {
      // A real summary: the lines the finish page writes for a new file Quick Set, in its order.
      const std::vector<std::string> lines = {
          Str(148),
          Format2(205, Str(154), kQuickSets[0]),
          Format2(205, Str(149), Str(150)),
          Format2(205, Str(155), Format2(204, Str(158), "Invoices")),
          Format2(205, Str(160), Format2(206, "300", Str(164))),
          Format2(205, Str(161), Str(209)),
          Format2(205, Str(162), Str(124)),
          Format2(205, Str(174), Str(27)),
          Format2(205, Str(175), kFolder),
      };
      if (id >= 1028 && id <= 1041)
        return set(id - 1028 < static_cast<int>(lines.size()) ? lines[static_cast<std::size_t>(id - 1028)]
                                                              : std::string());
      break;
    }
    case 140:
    case 141:
      if (id == 1044) return list(QuickSetNames(false), 2);
      break;
    case 143:
      if (id == 148)
        return list(
            {"nx MFP 4100 (USB)", "nx MFP 4100 on ANNA-PC (network)", "Flatbed scanner (test device)"}, 0);
      break;
    case 147:
      if (id == 1056) return set(kLongQuickSet);
      if (id == 1061) return set("ANNA:");     // four letters of the computer's name
      if (id == 1021) return set("Accounts");  // at most 9 characters when networked
      break;
    case 148:
      if (id == 1058) return set(Str(218));
      if (id == 1057) return true;  // opens unticked
      break;
    case 150:  // a PDF Quick Set with searchable text
      if (id == 84) {
        dynamic_cast<CButton*>(w)->SetCheck(1);
        return true;
      }
      if (id == 86) return list({"Deutsch", "English", "Deutsch + English"}, 2);
      break;
    case 160:  // the scanner's own dialog over SANE's test device with a feeder
      if (id == 1601) return list({"Color", "Gray", "Lineart"}, 0);
      if (id == 1602) return list({"75", "150", "300", "600", "1200"}, 2);
      if (id == 1603) return list({"Flatbed", "Automatic Document Feeder"}, 1);
      if (id >= 1604 && id <= 1607) return set(id == 1606 ? "216" : id == 1607 ? "279" : "0");
      if (id == 1608 || id == 1609) {
        auto* slider = dynamic_cast<CSliderCtrl*>(w);
        slider->SetRange(-1000, 1000);
        slider->SetTicFreq(250);
        slider->SetPos(id == 1608 ? 150 : 0);
        return true;
      }
      if (id == 1611) return set("The area now holds what the preview found.");
      break;
    case 161:
      if (id == 1612)
        return list({"NX Pressline TWAIN", "Noname frontend-tester", "Flatbed scanner (test device)"}, 0);
      break;
    case 162:  // the TWAIN progress window during the second page of a feeder batch
      if (id == 1621) return set("Scanning page 2...");
      break;
    default:
      break;
  }
  return false;
}

// --check: every control is shown, also those the program shows only in some cases (the one-time
// scan's label of template 132), so that each text is measured.
bool g_bCheck = false;

void FillSamples(CDialog& dialog) {
  for (CWnd* w : dialog.Controls()) {
    if (g_bCheck) {
      w->ShowWindow(SW_SHOW);
      w->EnableWindow(TRUE);
    }
    if (FillKnown(dialog, w)) continue;
    if (auto* l = dynamic_cast<CListBox*>(w)) {
      FillList(l, QuickSetNames(false), 0);
    } else if (auto* c = dynamic_cast<CComboBox*>(w)) {
      FillList(c, {Str(27), Str(29)}, 0);
    } else if (auto* p = dynamic_cast<CProgressCtrl*>(w)) {
      p->SetRange32(0, 100);
      p->SetPos(40);
    } else if (auto* s = dynamic_cast<CSliderCtrl*>(w)) {
      s->SetRange(0, 100);
      s->SetPos(60);
      s->SetTicFreq(10);
    } else if (auto* t = dynamic_cast<CTreeCtrl*>(w)) {
      t->SetImageList(CImageList::System(), TVSIL_NORMAL);
      HTREEITEM root = t->InsertItem("/", CImageList::kDrive, CImageList::kDrive);
      HTREEITEM home = t->InsertItem("home", CImageList::kFolder, CImageList::kFolderOpen, root);
      t->InsertItem("media", CImageList::kFolder, CImageList::kFolderOpen, root);
      t->InsertItem("srv", CImageList::kFolder, CImageList::kFolderOpen, root);
      HTREEITEM me = t->InsertItem("anna", CImageList::kFolder, CImageList::kFolderOpen, home);
      HTREEITEM docs = t->InsertItem("Documents", CImageList::kFolder, CImageList::kFolderOpen, me);
      t->InsertItem("Pictures", CImageList::kFolder, CImageList::kFolderOpen, me);
      HTREEITEM scans = t->InsertItem("Scans", CImageList::kFolder, CImageList::kFolderOpen, docs);
      t->InsertItem("2026", CImageList::kFolder, CImageList::kFolderOpen, scans);
      t->InsertItem("Invoices of the accounting department, second quarter", CImageList::kFolder,
                    CImageList::kFolderOpen, docs);
      HTREEITEM usb = t->InsertItem("/media/usb", CImageList::kDrive, CImageList::kDrive);
      t->InsertItem("DCIM", CImageList::kFolder, CImageList::kFolderOpen, usb);
      t->SelectItem(scans);
    } else if (w->GetKind() == M3_EDIT && w->GetWindowText().empty()) {
      w->SetWindowText(kFolder);
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

// A wizard page with the buttons its role gives it: the task page starts the wizard, the save, finish
// and delete pages end it (with the Finish texts the program sets there).
class SamplePage : public WithSamples<CPropertyPage> {
 public:
  explicit SamplePage(UINT id) : WithSamples<CPropertyPage>(id) {}
  BOOL OnSetActive() override {
    CPropertySheet* sheet = GetSheet();
    switch (GetTemplateId()) {
      case 145:
        sheet->SetWizardButtons(PSWIZB_NEXT);
        break;
      case 137:
        sheet->SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
        sheet->SetFinishText(Str(kFinishText));
        break;
      case 139:
        sheet->SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
        break;
      case 140:
        sheet->SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
        sheet->SetFinishText(Str(kDeleteText));
        break;
      default:
        sheet->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
    }
    return CPropertyPage::OnSetActive();
  }
};

// The window as a desktop draws it: a one-pixel border and a caption bar with the title and a close
// button above the client area.
QImage Framed(const QPixmap& client, const QString& caption, const QIcon& icon) {
  // Drawn in logical pixels on an image of the client's device pixel ratio, so a scaled screen gets a
  // sharp picture of the same layout.
  const qreal ratio = client.devicePixelRatio();
  const QSize logical = (QSizeF(client.size()) / ratio).toSize();
  QFont font = QApplication::font();
  font.setBold(true);
  const QFontMetrics metrics(font);
  const int border = 1;
  const int bar = metrics.height() + 12;
  const QSize size(logical.width() + 2 * border, logical.height() + bar + 2 * border);
  QImage image((QSizeF(size) * ratio).toSize(), QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(QColor(0x3b, 0x4a, 0x5e));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(border, border, size.width() - 2 * border, bar, QColor(0x4a, 0x5d, 0x76));
  const int close = bar - 12;
  const QRect closeBox(size.width() - border - 8 - close, border + 6, close, close);
  painter.setPen(QPen(Qt::white, 1.6));
  painter.drawLine(closeBox.topLeft() + QPoint(3, 3), closeBox.bottomRight() - QPoint(3, 3));
  painter.drawLine(closeBox.topRight() + QPoint(-3, 3), closeBox.bottomLeft() + QPoint(3, -3));
  int left = border + 8;
  if (!icon.isNull()) {
    const int side = bar - 10;
    painter.drawPixmap(QRect(left, border + 5, side, side), icon.pixmap(QSize(side, side), ratio));
    left += side + 6;
  }
  painter.setFont(font);
  const QRect text(left, border, closeBox.left() - left - 8, bar);
  painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                   metrics.elidedText(caption, Qt::ElideRight, text.width()));
  painter.drawPixmap(QRect(QPoint(border, border + bar), logical), client);
  return image;
}

QString Shown(const QString& text) {
  QString out;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// The controls of a window whose text the host's font does not fit into their rectangle: one line
// per fault, naming the template, the control and what it needs.
std::vector<std::string> FitFaults(QWidget* window, UINT id) {
  std::vector<std::string> faults;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) || !w->property("m3id").isValid()) continue;
    const QFontMetrics fm(w->font());
    QString text;
    QSize need;
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      text = b->text();
      QStyleOptionButton option;
      option.initFrom(b);
      const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, b) +
                         2 * b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, b);
      need = QSize(fm.horizontalAdvance(Shown(text)) + margin, fm.height());
    } else if (auto* c = qobject_cast<QAbstractButton*>(w)) {
      text = c->text();
      need = QSize(c->sizeHint().width(), fm.height());
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
      text = g->title();
      need = QSize(fm.horizontalAdvance(Shown(text)) + 16, fm.height());
    } else if (auto* l = qobject_cast<QLabel*>(w); l != nullptr && l->pixmap().isNull()) {
      text = l->text();
      if (text.isEmpty()) continue;
      // A label wraps at blanks: every word must fit its width, and the lines its height.
      const int height = l->wordWrap() ? l->heightForWidth(l->width()) : l->sizeHint().height();
      // The widest piece the line breaker cannot split (a word; a single character of Chinese).
      int widest = 0;
      QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
      for (qsizetype from = 0, to = breaks.toNextBoundary(); to > 0; from = to, to = breaks.toNextBoundary())
        widest = std::max(widest, fm.horizontalAdvance(text.mid(from, to - from).trimmed()));
      const int oneLine = fm.horizontalAdvance(l->buddy() != nullptr ? Shown(text) : text);
      need = QSize(l->wordWrap() ? widest : oneLine, height);
    } else {
      continue;
    }
    if (text.isEmpty()) continue;
    // A pixel of leeway for rounding between the font's metrics and the layout's.
    if (need.width() > w->width() || need.height() > w->height() + 1) {
      faults.push_back("template " + std::to_string(id) + " control " +
                       w->property("m3id").toString().toStdString() + " \"" + text.toStdString() +
                       "\" needs " + std::to_string(need.width()) + "x" + std::to_string(need.height()) +
                       " px, has " + std::to_string(w->width()) + "x" + std::to_string(w->height()));
    }
  }
  return faults;
}

// Captures the first modal window the host shows, then closes it.
class Capture {
 public:
  Capture() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Take(); });
    m_timer.start(0);
  }
  explicit Capture(UINT id) : Capture() { m_nId = id; }
  const QImage& Image() const { return m_image; }
  const std::vector<std::string>& Faults() const { return m_faults; }

 private:
  void Take() {
    auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (window == nullptr) return;
    m_timer.stop();
    // Let the view show its pending changes and the layouts settle before the picture is taken.
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    m_image = Framed(window->grab(), window->windowTitle(), window->windowIcon());
    m_faults = FitFaults(window, m_nId);
    window->done(0);
  }
  QTimer m_timer;
  QImage m_image;
  UINT m_nId = 0;
  std::vector<std::string> m_faults;
};

bool Render(const M3ResDialog& t, const std::vector<UINT>& pages, const std::string& out, int& faults) {
  Capture capture(t.id);
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
  for (const std::string& fault : capture.Faults()) std::printf("%s\n", fault.c_str());
  faults += static_cast<int>(capture.Faults().size());
  if (g_bCheck) return !capture.Image().isNull();
  return !capture.Image().isNull() && capture.Image().save(QString::fromStdString(out), "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  // "--scale F" first: render as on a screen scaled by F (1.5, 2).
  if (argc == 5 && std::strcmp(argv[1], "--scale") == 0) {
    ::setenv("QT_SCALE_FACTOR", argv[2], 1);
    argv += 2;
    argc -= 2;
  }
  // "--check": render every template and list the texts that do not fit their control (exit 1).
  if (argc == 2 && std::strcmp(argv[1], "--check") == 0) {
    g_bCheck = true;
    static char all[] = "--all";
    static char none[] = "";
    static char* args[] = {argv[0], all, none, nullptr};
    argv = args;
    argc = 3;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: marlin3-screenshot [--scale F] NUMBER OUT.png | --all DIR | --check\n");
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("MARLIN3_UI", "qt", 1);
  QApplication app(argc, argv);
  // The host's look: the desktop's style where there is one, Fusion otherwise, the program's icon.
  using ApplyLookFn = void (*)();
  if (HMODULE qt = LoadLibraryA("m3uiqt.dll"))
    if (auto look = reinterpret_cast<ApplyLookFn>(GetProcAddress(qt, "m3uiqt_apply_look"))) look();
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
  int faults = 0;
  bool found = false;
  for (UINT id : ids) {
    if (!all && std::to_string(id) != argv[1]) continue;
    found = true;
    const std::string out = all ? std::string(argv[2]) + "/" + std::to_string(id) + ".png" : argv[2];
    if (!Render(*platform::resource::FindDialog(resources, id), pages, out, faults)) {
      std::fprintf(stderr, "marlin3-screenshot: cannot render template %u to %s\n", id, out.c_str());
      ++failures;
    }
  }
  if (!found) {
    std::fprintf(stderr, "marlin3-screenshot: no template %s\n", argv[1]);
    return 1;
  }
  return failures == 0 && faults == 0 ? 0 : 1;
}
