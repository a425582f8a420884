#include "platform/ui/qt/QtSheetView.h"

#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <map>
#include <memory>

#include "platform/ui/PropertySheet.h"
#include "platform/ui/StockText.h"
#include "platform/ui/qt/QtDialogView.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Stock(platform::ui::Stock which) {
  return Q(platform::ui::StockText(which));
}

// Lays a growing page out again whenever its surface changes size.
class GrowFilter : public QObject {
 public:
  GrowFilter(QtDialogView* view, QObject* parent) : QObject(parent), m_pView(view) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) m_pView->Layout(static_cast<QResizeEvent*>(event)->size());
    return false;
  }

 private:
  QtDialogView* m_pView;
};

class SheetDialog : public QDialog, public DialogView {
 public:
  SheetDialog(CPropertySheet& sheet, QWidget* parent) : QDialog(parent), m_sheet(sheet) {
    auto* layout = new QVBoxLayout(this);
    m_pTitle = new QLabel(this);
    QFont bold = m_pTitle->font();
    bold.setBold(true);
    m_pTitle->setFont(bold);
    layout->addWidget(m_pTitle);
    m_pStack = new QStackedWidget(this);
    layout->addWidget(m_pStack, 1);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    m_pBack = Button("wizard_back", Stock(platform::ui::Stock::kBack), row, PSBTN_BACK);
    m_pNext = Button("wizard_next", Stock(platform::ui::Stock::kNext), row, PSBTN_NEXT);
    m_pFinish = Button("wizard_finish", Stock(platform::ui::Stock::kFinish), row, PSBTN_FINISH);
    row->addSpacing(8);
    m_pCancel = Button("wizard_cancel", Stock(platform::ui::Stock::kCancel), row, PSBTN_CANCEL);
    layout->addLayout(row);
    int cx = 0, cy = 0;
    sheet.PageArea(cx, cy);
    const DialogUnits units(font());
    m_pStack->setMinimumSize(units.X(cx), units.Y(cy));
    sheet.SetView(this);
    SheetChanged();
  }
  ~SheetDialog() override {
    if (m_sheet.GetView() == this) m_sheet.SetView(nullptr);
    m_views.clear();
  }

  void SheetChanged() override {
    CPropertyPage* page = m_sheet.GetActivePage();
    if (page == nullptr) return;
    auto& view = m_views[page];
    if (!view) {
      auto* surface = new QWidget();
      view = std::make_unique<QtDialogView>(*page, surface);
      m_surfaces[page] = surface;
      auto* holder = new QWidget();
      auto* l = new QVBoxLayout(holder);
      l->setContentsMargins(0, 0, 0, 0);
      if (view->CanGrow()) {
        // A page with a list or tree takes the room the user gives the wizard.
        surface->setMinimumSize(view->TemplateSize());
        surface->installEventFilter(new GrowFilter(view.get(), surface));
        l->addWidget(surface, 1);
      } else {
        surface->setFixedSize(view->TemplateSize());
        l->addWidget(surface, 0, Qt::AlignLeft | Qt::AlignTop);
        l->addStretch(1);
      }
      m_pStack->addWidget(holder);
      m_holders[page] = holder;
    }
    m_pStack->setCurrentWidget(m_holders[page]);
    setWindowTitle(Q(m_sheet.GetWindowText().empty() ? page->GetWindowText() : m_sheet.GetWindowText()));
    m_pTitle->setText(Q(page->GetWindowText()));
    m_pBack->setEnabled(m_sheet.CanBack());
    m_pNext->setVisible(!m_sheet.ShowsFinish());
    m_pNext->setEnabled(m_sheet.CanNext());
    m_pFinish->setVisible(m_sheet.ShowsFinish());
    m_pFinish->setEnabled(m_sheet.CanFinish());
    m_pFinish->setText(m_sheet.GetFinishText().empty() ? Stock(platform::ui::Stock::kFinish)
                                                       : Q(m_sheet.GetFinishText()));
    (m_sheet.ShowsFinish() ? m_pFinish : m_pNext)->setDefault(true);
  }
  void Ended(INT_PTR result) override { done(0); }
  void reject() override { m_sheet.PressButton(PSBTN_CANCEL); }

 private:
  QPushButton* Button(const char* name, const QString& text, QHBoxLayout* row, int button) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, button] {
      // Pending control changes reach the model's page before its handler reads them.
      if (auto it = m_views.find(m_sheet.GetActivePage()); it != m_views.end() && it->second)
        it->second->Flush();
      m_sheet.PressButton(button);
    });
    row->addWidget(b);
    return b;
  }

  CPropertySheet& m_sheet;
  QLabel* m_pTitle;
  QStackedWidget* m_pStack;
  QPushButton *m_pBack, *m_pNext, *m_pFinish, *m_pCancel;
  std::map<CPropertyPage*, std::unique_ptr<QtDialogView>> m_views;
  std::map<CPropertyPage*, QWidget*> m_surfaces;
  std::map<CPropertyPage*, QWidget*> m_holders;
};

}  // namespace

INT_PTR RunQtSheet(CPropertySheet& sheet, QWidget* parent) {
  SheetDialog dialog(sheet, parent);
  dialog.exec();
  if (!sheet.IsEnded()) sheet.EndDialog(IDCANCEL);
  return sheet.GetResult();
}
