// QtDialogView: the Qt widgets of one dialog or property page, built from its model (controls placed
// by dialog units converted with the font's metrics) and kept in step both ways: the user's actions go
// to the model's User* operations, and the model's changes are collected and shown at the next turn of
// the event loop (so a handler that rebuilds a tree does not delete the widget item it runs for).
// Every control widget is named "ctl_<id>" so tests can find it.
#pragma once

#include <QIcon>
#include <QWidget>
#include <functional>
#include <set>
#include <vector>

#include "platform/ui/DialogView.h"
#include "platform/ui/qt/DialogUnits.h"

class CDialog;
class CWnd;

// A Qt icon for an icon of the model (resource PNG or stock icon); null for none.
QIcon QtIcon(HICON icon);

class QtDialogView : public DialogView {
 public:
  QtDialogView(CDialog& dialog, QWidget* surface);
  ~QtDialogView() override;

  void ControlChanged(CWnd& control) override;
  void DialogChanged(CDialog& dialog) override;
  void Ended(INT_PTR result) override;
  // Shows every pending change now.
  void Flush();
  QWidget* Widget(int id) const;
  // The surface's size for the template, in pixels.
  QSize TemplateSize() const;
  // True when the dialog holds a list, tree or multi-line edit that can use more room: its window is
  // then resizable, never below the template's size.
  bool CanGrow() const;
  // Places the controls for a surface of this size: the first list or tree takes the extra room,
  // controls right of it or below it move, controls spanning it widen.
  void Layout(QSize size);

  std::function<void(INT_PTR)> m_fnEnded;
  std::function<void()> m_fnCaption;

 private:
  void Build();
  void Refresh(std::size_t index);
  void Schedule();
  void ApplyFocus();

  CDialog& m_dialog;
  QWidget* m_pSurface;
  DialogUnits m_units;
  std::vector<QWidget*> m_widgets;  // parallel to the dialog's controls
  std::vector<QRect> m_base;        // their template places, in pixels
  std::set<std::size_t> m_dirty;
  bool m_bScheduled = false;
  bool m_bUpdating = false;
  QObject* m_pFilter = nullptr;
};
