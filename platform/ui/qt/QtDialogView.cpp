#include "platform/ui/qt/QtDialogView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>

#include "platform/resource/Resource.h"
#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Edit.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/ProgressCtrl.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"
#include "platform/ui/UiHost.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) {
  return s.toUtf8().toStdString();
}

// Win32 marks the access key with "&" ("&&" is one "&"). Buttons and labels with a buddy read it the
// same way in Qt; a label without a buddy would show it, so it is dropped there.
QString Label(const std::string& s) {
  return Q(s);
}
QString WithoutMnemonic(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size()) ++i;
    out.push_back(s[i]);
  }
  return Q(out);
}

// Asks the model for a control's tool tip when Qt wants to show one.
class ToolTipFilter : public QObject {
 public:
  ToolTipFilter(CDialog& dialog, QObject* parent) : QObject(parent), m_dialog(dialog) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    const int id = w != nullptr ? w->property("m3id").toInt() : 0;
    const std::string tip = m_dialog.ToolTipFor(id);
    if (tip.empty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), Q(tip), w);
    }
    return true;
  }

 private:
  CDialog& m_dialog;
};

// The desktop's icon theme where there is one, else the style's own (bundled with Qt).
QIcon StockIcon(int index) {
  QStyle* style = QApplication::style();
  switch (index) {
    case CImageList::kFolder:
      return QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirClosedIcon));
    case CImageList::kFolderOpen:
      return QIcon::fromTheme(QStringLiteral("folder-open"), style->standardIcon(QStyle::SP_DirOpenIcon));
    case CImageList::kDrive:
      return QIcon::fromTheme(QStringLiteral("drive-harddisk"), style->standardIcon(QStyle::SP_DriveHDIcon));
    default:
      return QIcon::fromTheme(QStringLiteral("text-x-generic"), style->standardIcon(QStyle::SP_FileIcon));
  }
}

HTREEITEM HandleOf(const QTreeWidgetItem* q) {
  return q == nullptr ? nullptr : reinterpret_cast<HTREEITEM>(q->data(0, Qt::UserRole).value<quintptr>());
}

// Brings the widget items under parent (or the view's top level) in line with the model's items, in
// place: items still there keep their widget item (and so the view its scroll position); only what
// changed is touched.
void SyncTree(QTreeWidget* view, CTreeCtrl& tree, QTreeWidgetItem* parent,
              const std::vector<std::unique_ptr<TreeItem>>& items, QTreeWidgetItem*& selected) {
  const bool icons = tree.GetImageList(TVSIL_NORMAL) != nullptr;
  auto count = [&] { return parent != nullptr ? parent->childCount() : view->topLevelItemCount(); };
  auto at = [&](int i) { return parent != nullptr ? parent->child(i) : view->topLevelItem(i); };
  auto take = [&](int i) { return parent != nullptr ? parent->takeChild(i) : view->takeTopLevelItem(i); };
  auto insert = [&](int i, QTreeWidgetItem* q) {
    if (parent != nullptr)
      parent->insertChild(i, q);
    else
      view->insertTopLevelItem(i, q);
  };
  // Widget items whose model item is gone go first.
  for (int i = count() - 1; i >= 0; --i)
    if (!tree.IsItem(HandleOf(at(i)))) delete take(i);
  for (std::size_t k = 0; k < items.size(); ++k) {
    const TreeItem& item = *items[k];
    const int i = static_cast<int>(k);
    QTreeWidgetItem* q = i < count() ? at(i) : nullptr;
    if (q == nullptr || HandleOf(q) != item.handle) {
      // Inserted in the model: a new widget item (a handle is never reused, so no other can match).
      q = new QTreeWidgetItem();
      q->setData(0, Qt::UserRole, QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(item.handle)));
      insert(i, q);
    }
    const QString text = QString::fromUtf8(item.text.data(), static_cast<qsizetype>(item.text.size()));
    if (q->text(0) != text) q->setText(0, text);
    const bool open = (item.state & TVIS_EXPANDED) != 0;
    const bool isSelected = tree.GetSelectedItem() == item.handle;
    if (icons) {
      const int image = isSelected || open ? item.selectedImage : item.image;
      if (q->data(0, Qt::UserRole + 1).toInt() != image + 1 || q->icon(0).isNull()) {
        q->setIcon(0, StockIcon(image));
        q->setData(0, Qt::UserRole + 1, image + 1);
      }
    }
    const auto policy =
        item.children.empty() ? QTreeWidgetItem::DontShowIndicator : QTreeWidgetItem::ShowIndicator;
    if (q->childIndicatorPolicy() != policy) q->setChildIndicatorPolicy(policy);
    if (isSelected) selected = q;
    SyncTree(view, tree, q, item.children, selected);
    if (q->isExpanded() != open) q->setExpanded(open);
  }
  while (count() > static_cast<int>(items.size())) delete take(count() - 1);
}

}  // namespace

QIcon QtIcon(HICON icon) {
  if (icon == nullptr) return {};
  if (icon->png == nullptr) {
    // Stock icons: the desktop's theme, else the style's.
    QStyle* style = QApplication::style();
    switch (icon->id) {
      case IDI_ERROR:
        return QIcon::fromTheme(QStringLiteral("dialog-error"),
                                style->standardIcon(QStyle::SP_MessageBoxCritical));
      case IDI_QUESTION:
        return QIcon::fromTheme(QStringLiteral("dialog-question"),
                                style->standardIcon(QStyle::SP_MessageBoxQuestion));
      case IDI_WARNING:
        return QIcon::fromTheme(QStringLiteral("dialog-warning"),
                                style->standardIcon(QStyle::SP_MessageBoxWarning));
      case IDI_INFORMATION:
        return QIcon::fromTheme(QStringLiteral("dialog-information"),
                                style->standardIcon(QStyle::SP_MessageBoxInformation));
      default:
        return QApplication::windowIcon();
    }
  }
  QPixmap pixmap;
  if (!pixmap.loadFromData(icon->png, static_cast<uint>(icon->size))) return {};
  return QIcon(pixmap);
}

QtDialogView::QtDialogView(CDialog& dialog, QWidget* surface)
    : m_dialog(dialog), m_pSurface(surface), m_units(surface->font()) {
  m_pFilter = new ToolTipFilter(dialog, surface);
  Build();
  dialog.SetView(this);
}

QtDialogView::~QtDialogView() {
  if (m_dialog.GetView() == this) m_dialog.SetView(nullptr);
  delete m_pFilter;
}

QSize QtDialogView::TemplateSize() const {
  return QSize(m_units.X(m_dialog.GetTemplateWidth()), m_units.Y(m_dialog.GetTemplateHeight()));
}

static bool Grows(const CWnd& c) {
  return c.GetKind() == M3_LISTBOX || c.GetKind() == M3_TREEVIEW || c.GetKind() == M3_LISTVIEW ||
         (c.GetKind() == M3_EDIT && (c.GetStyle() & M3_MULTILINE) != 0);
}

bool QtDialogView::CanGrow() const {
  for (CWnd* c : m_dialog.Controls())
    if (Grows(*c)) return true;
  return false;
}

void QtDialogView::Layout(QSize size) {
  const auto& controls = m_dialog.Controls();
  const QSize base = TemplateSize();
  const int dx = std::max(0, size.width() - base.width());
  const int dy = std::max(0, size.height() - base.height());
  QRect grower;
  for (std::size_t i = 0; i < controls.size() && i < m_base.size(); ++i)
    if (Grows(*controls[i])) {
      grower = m_base[i];
      break;
    }
  if (grower.isNull()) return;
  for (std::size_t i = 0; i < controls.size() && i < m_base.size(); ++i) {
    QRect r = m_base[i];
    const QRect b = m_base[i];
    if (b.left() >= grower.right())
      r.translate(dx, 0);
    else if (b.right() >= grower.right() - 2)
      r.setWidth(b.width() + dx);
    if (b.top() >= grower.bottom())
      r.translate(0, dy);
    else if (b.bottom() >= grower.bottom() - 2 &&
             (Grows(*controls[i]) || controls[i]->GetKind() == M3_GROUPBOX))
      r.setHeight(b.height() + dy);
    m_widgets[i]->setGeometry(r);
  }
}

QWidget* QtDialogView::Widget(int id) const {
  const auto& controls = m_dialog.Controls();
  for (std::size_t i = 0; i < controls.size() && i < m_widgets.size(); ++i)
    if (controls[i]->GetDlgCtrlID() == id) return m_widgets[i];
  return nullptr;
}

void QtDialogView::Build() {
  const auto& controls = m_dialog.Controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    CWnd* c = controls[i];
    QWidget* w = nullptr;
    switch (c->GetKind()) {
      case M3_PUSHBUTTON:
      case M3_DEFPUSHBUTTON: {
        auto* b = new QPushButton(m_pSurface);
        b->setAutoDefault(false);
        b->setDefault(c->GetKind() == M3_DEFPUSHBUTTON);
        QObject::connect(b, &QPushButton::clicked, [this, i] {
          if (auto* m = dynamic_cast<CButton*>(m_dialog.Controls()[i])) m->UserClick();
        });
        w = b;
        break;
      }
      case M3_CHECKBOX:
      case M3_RADIOBUTTON: {
        QAbstractButton* b = c->GetKind() == M3_CHECKBOX
                                 ? static_cast<QAbstractButton*>(new QCheckBox(m_pSurface))
                                 : new QRadioButton(m_pSurface);
        // The model keeps radio groups exclusive, by the template's groups rather than Qt's parents.
        b->setAutoExclusive(false);
        QObject::connect(b, &QAbstractButton::clicked, [this, i] {
          if (m_bUpdating) return;
          if (auto* m = dynamic_cast<CButton*>(m_dialog.Controls()[i])) m->UserClick();
          Flush();
        });
        w = b;
        break;
      }
      case M3_EDIT:
        if ((c->GetStyle() & M3_MULTILINE) != 0) {
          auto* e = new QPlainTextEdit(m_pSurface);
          QObject::connect(e, &QPlainTextEdit::textChanged, [this, i, e] {
            if (m_bUpdating) return;
            if (auto* m = dynamic_cast<CEdit*>(m_dialog.Controls()[i])) m->UserType(S(e->toPlainText()));
          });
          w = e;
        } else {
          auto* e = new QLineEdit(m_pSurface);
          QObject::connect(e, &QLineEdit::textEdited, [this, i](const QString& text) {
            if (auto* m = dynamic_cast<CEdit*>(m_dialog.Controls()[i])) m->UserType(S(text));
          });
          w = e;
        }
        break;
      case M3_GROUPBOX:
        w = new QGroupBox(m_pSurface);
        break;
      case M3_COMBO_DROPDOWN:
      case M3_COMBO_DROPLIST: {
        auto* cb = new QComboBox(m_pSurface);
        cb->setEditable(c->GetKind() == M3_COMBO_DROPDOWN);
        QObject::connect(cb, qOverload<int>(&QComboBox::activated), [this, i](int index) {
          if (auto* m = dynamic_cast<CComboBox*>(m_dialog.Controls()[i])) m->UserSelect(index);
        });
        if (cb->lineEdit() != nullptr)
          QObject::connect(cb->lineEdit(), &QLineEdit::textEdited, [this, i](const QString& text) {
            if (auto* m = dynamic_cast<CComboBox*>(m_dialog.Controls()[i])) m->UserType(S(text));
          });
        w = cb;
        break;
      }
      case M3_LISTBOX: {
        auto* l = new QListWidget(m_pSurface);
        // The selection, not the current row: focus alone makes the first row current without
        // selecting it, and a Win32 list box has no selection then either.
        QObject::connect(l, &QListWidget::itemSelectionChanged, [this, i, l] {
          if (m_bUpdating) return;
          const QList<QListWidgetItem*> selected = l->selectedItems();
          const int row = selected.isEmpty() ? -1 : l->row(selected.front());
          if (auto* m = dynamic_cast<CListBox*>(m_dialog.Controls()[i])) m->UserSelect(row);
        });
        QObject::connect(l, &QListWidget::itemDoubleClicked, [this, i, l](QListWidgetItem* item) {
          if (auto* m = dynamic_cast<CListBox*>(m_dialog.Controls()[i])) m->UserDoubleClick(l->row(item));
        });
        w = l;
        break;
      }
      case M3_SLIDER: {
        auto* s = new QSlider(Qt::Horizontal, m_pSurface);
        if ((c->GetStyle() & M3_TICKS) != 0) s->setTickPosition(QSlider::TicksBelow);
        QObject::connect(s, &QSlider::valueChanged, [this, i](int value) {
          if (m_bUpdating) return;
          if (auto* m = dynamic_cast<CSliderCtrl*>(m_dialog.Controls()[i])) m->UserMove(value);
        });
        w = s;
        break;
      }
      case M3_TREEVIEW:
      case M3_LISTVIEW: {
        auto* t = new QTreeWidget(m_pSurface);
        t->setHeaderHidden(true);
        t->setRootIsDecorated((c->GetStyle() & M3_HASBUTTONS) != 0 || c->GetKind() == M3_TREEVIEW);
        auto item = [](QTreeWidgetItem* q) { return HandleOf(q); };
        // Long paths scroll sideways instead of being cut off.
        t->header()->setStretchLastSection(false);
        t->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        t->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        t->setUniformRowHeights(true);
        QObject::connect(t, &QTreeWidget::itemExpanded, [this, i, item](QTreeWidgetItem* q) {
          if (m_bUpdating) return;
          if (auto* m = dynamic_cast<CTreeCtrl*>(m_dialog.Controls()[i])) m->UserExpand(item(q), true);
        });
        QObject::connect(t, &QTreeWidget::itemCollapsed, [this, i, item](QTreeWidgetItem* q) {
          if (m_bUpdating) return;
          if (auto* m = dynamic_cast<CTreeCtrl*>(m_dialog.Controls()[i])) m->UserExpand(item(q), false);
        });
        QObject::connect(t, &QTreeWidget::currentItemChanged,
                         [this, i, item](QTreeWidgetItem* q, QTreeWidgetItem*) {
                           if (m_bUpdating) return;
                           if (auto* m = dynamic_cast<CTreeCtrl*>(m_dialog.Controls()[i]))
                             m->UserSelect(item(q));
                         });
        w = t;
        break;
      }
      case M3_PROGRESS:
        w = new QProgressBar(m_pSurface);
        break;
      case M3_ICON: {
        auto* l = new QLabel(m_pSurface);
        const QIcon icon =
            QtIcon(platform::ui::LoadIcon(static_cast<UINT>(std::atoi(c->GetWindowText().c_str()))));
        // Drawn at the device's pixel ratio, so it stays sharp on scaled screens.
        l->setPixmap(
            (icon.isNull() ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation) : icon)
                .pixmap(QSize(32, 32), m_pSurface->devicePixelRatioF()));
        w = l;
        break;
      }
      default: {
        auto* l = new QLabel(m_pSurface);
        l->setWordWrap((c->GetStyle() & M3_CENTER) == 0 || c->GetHeight() > 10);
        l->setAlignment(Qt::AlignTop | ((c->GetStyle() & M3_CENTER) != 0  ? Qt::AlignHCenter
                                        : (c->GetStyle() & M3_RIGHT) != 0 ? Qt::AlignRight
                                                                          : Qt::AlignLeft));
        if ((c->GetStyle() & M3_BORDER) != 0) l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        w = l;
        break;
      }
    }
    w->setObjectName(QStringLiteral("ctl_%1").arg(c->GetDlgCtrlID()));
    w->setProperty("m3id", c->GetDlgCtrlID());
    w->installEventFilter(m_pFilter);
    int height = m_units.Y(c->GetHeight());
    // A combo box's template height includes its drop-down list; the box itself is one line.
    if (c->GetKind() == M3_COMBO_DROPDOWN || c->GetKind() == M3_COMBO_DROPLIST)
      height = w->sizeHint().height();
    w->setGeometry(m_units.X(c->GetX()), m_units.Y(c->GetY()), m_units.X(c->GetWidth()), height);
    if (c->GetKind() == M3_GROUPBOX) w->lower();
    m_widgets.push_back(w);
    m_base.push_back(w->geometry());
  }
  // A label's access key moves the focus to the control after it, as in a Win32 dialog.
  for (std::size_t i = 0; i + 1 < m_widgets.size(); ++i) {
    auto* label = qobject_cast<QLabel*>(m_widgets[i]);
    const CWnd* c = controls[i];
    if (label == nullptr || c->GetKind() != M3_STATIC || (c->GetStyle() & M3_NOPREFIX) != 0) continue;
    const std::uint16_t next = controls[i + 1]->GetKind();
    if (next != M3_STATIC && next != M3_GROUPBOX && next != M3_ICON && next != M3_PROGRESS)
      label->setBuddy(m_widgets[i + 1]);
  }
  for (std::size_t i = 0; i < m_widgets.size(); ++i) Refresh(i);
  ApplyFocus();
}

void QtDialogView::Refresh(std::size_t index) {
  const auto& controls = m_dialog.Controls();
  if (index >= controls.size() || index >= m_widgets.size()) return;
  CWnd* c = controls[index];
  QWidget* w = m_widgets[index];
  m_bUpdating = true;
  w->setEnabled(c->IsWindowEnabled());
  w->setVisible(c->IsWindowVisible());
  if (auto* b = dynamic_cast<QAbstractButton*>(w)) {
    b->setText(Label(c->GetWindowText()));
    if (auto* m = dynamic_cast<CButton*>(c); m != nullptr && b->isCheckable())
      b->setChecked(m->GetCheck() == BST_CHECKED);
  } else if (auto* e = dynamic_cast<QLineEdit*>(w)) {
    auto* m = dynamic_cast<CEdit*>(c);
    if (e->text() != Q(c->GetWindowText())) e->setText(Q(c->GetWindowText()));
    if (m != nullptr) e->setMaxLength(m->GetLimitText());
    e->setReadOnly((c->GetStyle() & M3_READONLY) != 0);
    if ((c->GetStyle() & M3_PASSWORD) != 0) e->setEchoMode(QLineEdit::Password);
  } else if (auto* pe = dynamic_cast<QPlainTextEdit*>(w)) {
    if (pe->toPlainText() != Q(c->GetWindowText())) pe->setPlainText(Q(c->GetWindowText()));
    pe->setReadOnly((c->GetStyle() & M3_READONLY) != 0);
  } else if (auto* g = dynamic_cast<QGroupBox*>(w)) {
    g->setTitle(Label(c->GetWindowText()));
  } else if (auto* cb = dynamic_cast<QComboBox*>(w)) {
    auto* m = dynamic_cast<CComboBox*>(c);
    if (m != nullptr) {
      QStringList texts;
      for (const auto& e : m->Items().Entries()) texts << Q(e.text);
      QStringList shown;
      for (int k = 0; k < cb->count(); ++k) shown << cb->itemText(k);
      if (texts != shown) {
        cb->clear();
        cb->addItems(texts);
      }
      cb->setCurrentIndex(m->GetCurSel());
      if (cb->isEditable() && cb->currentText() != Q(m->GetWindowText()))
        cb->setEditText(Q(m->GetWindowText()));
    }
  } else if (auto* l = dynamic_cast<QListWidget*>(w)) {
    auto* m = dynamic_cast<CListBox*>(c);
    if (m != nullptr) {
      QStringList texts;
      for (const auto& e : m->Items().Entries()) texts << Q(e.text);
      bool same = l->count() == texts.size();
      for (int k = 0; same && k < l->count(); ++k) same = l->item(k)->text() == texts[k];
      if (!same) {
        l->clear();
        l->addItems(texts);
      }
      l->setCurrentRow(m->GetCurSel());
      if (m->GetCurSel() < 0) l->clearSelection();
      // The horizontal extent (pixels) is the width the list scrolls over, as LB_SETHORIZONTALEXTENT.
      const int extent = m->GetHorizontalExtent();
      const int rowHeight = l->fontMetrics().height() + 2;
      for (int k = 0; k < l->count(); ++k) {
        const QSize hint = extent > 0 ? QSize(extent, rowHeight) : QSize();
        if (l->item(k)->sizeHint() != hint) l->item(k)->setSizeHint(hint);
      }
      l->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
  } else if (auto* pb = dynamic_cast<QProgressBar*>(w)) {
    if (auto* m = dynamic_cast<CProgressCtrl*>(c)) {
      int lower = 0, upper = 0;
      m->GetRange(lower, upper);
      // Qt's busy indicator is a range of 0..0.
      if (m->IsMarquee()) {
        pb->setRange(0, 0);
      } else {
        pb->setRange(lower, upper);
        pb->setValue(m->GetPos());
      }
    }
  } else if (auto* s = dynamic_cast<QSlider*>(w)) {
    if (auto* m = dynamic_cast<CSliderCtrl*>(c)) {
      s->setRange(m->GetRangeMin(), m->GetRangeMax());
      s->setValue(m->GetPos());
      s->setTickInterval(m->GetTicFreq());
    }
  } else if (auto* t = dynamic_cast<QTreeWidget*>(w)) {
    if (auto* m = dynamic_cast<CTreeCtrl*>(c); m != nullptr && m->IsRedrawOn()) {
      QTreeWidgetItem* selected = nullptr;
      SyncTree(t, *m, nullptr, m->TopItems(), selected);
      // The view follows the selection only when the selection moved; an expand elsewhere keeps the
      // user's scroll position.
      const HTREEITEM now = m->GetSelectedItem();
      const bool moved = t->property("m3sel").value<quintptr>() != reinterpret_cast<quintptr>(now);
      t->setProperty("m3sel", QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(now)));
      if (t->currentItem() != selected) t->setCurrentItem(selected);
      if (selected == nullptr) t->clearSelection();
      if (moved && selected != nullptr) t->scrollToItem(selected);
    }
  } else if (auto* label = dynamic_cast<QLabel*>(w)) {
    if (c->GetKind() != M3_ICON) {
      const bool plain = (c->GetStyle() & M3_NOPREFIX) != 0;
      label->setTextFormat(Qt::PlainText);
      label->setText(plain || label->buddy() != nullptr ? Q(c->GetWindowText())
                                                        : WithoutMnemonic(c->GetWindowText()));
    }
  }
  m_bUpdating = false;
}

void QtDialogView::Schedule() {
  if (m_bScheduled) return;
  m_bScheduled = true;
  QTimer::singleShot(0, m_pFilter, [this] { Flush(); });
}

void QtDialogView::Flush() {
  m_bScheduled = false;
  const std::set<std::size_t> dirty = std::move(m_dirty);
  m_dirty.clear();
  for (std::size_t i : dirty) Refresh(i);
}

void QtDialogView::ControlChanged(CWnd& control) {
  const auto& controls = m_dialog.Controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i] == &control) {
      m_dirty.insert(i);
      Schedule();
      return;
    }
  }
}

void QtDialogView::ApplyFocus() {
  if (QWidget* w = Widget(m_dialog.GetFocusId())) w->setFocus(Qt::OtherFocusReason);
}

void QtDialogView::DialogChanged(CDialog& dialog) {
  ApplyFocus();
  if (m_fnCaption) m_fnCaption();
}

void QtDialogView::Ended(INT_PTR result) {
  if (m_fnEnded) m_fnEnded(result);
}
