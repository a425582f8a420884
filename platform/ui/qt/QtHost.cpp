#include "platform/ui/qt/QtHost.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleFactory>

#include "platform/ui/Dialog.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/qt/QtDialogView.h"
#include "platform/ui/qt/QtSheetView.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QWidget* ModalParent() {
  return QApplication::activeModalWidget();
}

class ModelDialog : public QDialog {
 public:
  ModelDialog(CDialog& dialog, QWidget* parent) : QDialog(parent), m_dialog(dialog) {}
  // Escape and the close button are IDCANCEL, as on Windows; the model decides whether to close.
  void reject() override { m_dialog.OnCommand(IDCANCEL, BN_CLICKED); }
  void accept() override { m_dialog.OnCommand(IDOK, BN_CLICKED); }

 private:
  CDialog& m_dialog;
};

}  // namespace

bool QtHost::EnsureApplication() {
  if (QApplication::instance() != nullptr)
    return qobject_cast<QApplication*>(QApplication::instance()) != nullptr;
  static int argc = 1;
  static char name[] = "marlin3";
  static char* argv[] = {name, nullptr};
  auto* app = new QApplication(argc, argv);
  app->setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  return true;
}

int QtHost::MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  QMessageBox box(ModalParent());
  box.setWindowTitle(Q(caption));
  box.setText(Q(text));
  box.setTextFormat(Qt::PlainText);
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONEXCLAMATION:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
  }
  struct Choice {
    QMessageBox::StandardButton button;
    int id;
  };
  std::vector<Choice> choices;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_ABORTRETRYIGNORE:
      choices = {
          {QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO:
      choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
      break;
    case MB_RETRYCANCEL:
      choices = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    default:
      choices = {{QMessageBox::Ok, IDOK}};
  }
  QMessageBox::StandardButtons buttons;
  for (const auto& c : choices) buttons |= c.button;
  box.setStandardButtons(buttons);
  const std::size_t def = (type & MB_DEFBUTTON2) != 0 && choices.size() > 1 ? 1 : 0;
  box.setDefaultButton(choices[def].button);
  // Escape answers Cancel where the box has it; a box with one button closes with that one.
  for (const auto& c : choices)
    if (c.id == IDCANCEL) box.setEscapeButton(c.button);
  if (choices.size() == 1) box.setEscapeButton(choices[0].button);
  const int pressed = box.exec();
  for (const auto& c : choices)
    if (c.button == pressed) return c.id;
  for (const auto& c : choices)
    if (c.id == IDCANCEL) return IDCANCEL;
  return choices.size() == 1 ? choices[0].id : IDNO;
}

INT_PTR QtHost::RunDialog(CDialog& dialog) {
  ModelDialog window(dialog, ModalParent());
  window.setWindowTitle(Q(dialog.GetWindowText()));
  QtDialogView view(dialog, &window);
  window.setFixedSize(view.TemplateSize());
  view.m_fnEnded = [&window](INT_PTR) { window.done(0); };
  view.m_fnCaption = [&window, &dialog] { window.setWindowTitle(Q(dialog.GetWindowText())); };
  if (!dialog.IsEnded()) window.exec();
  dialog.SetView(nullptr);
  if (!dialog.IsEnded()) dialog.EndDialog(IDCANCEL);
  return dialog.GetResult();
}

INT_PTR QtHost::RunSheet(CPropertySheet& sheet) {
  return RunQtSheet(sheet, ModalParent());
}

QStringList QtHost::NameFilters(const CFileDialog& dialog) {
  QStringList filters;
  for (const auto& f : dialog.Filters()) {
    QString description = Q(f.first).trimmed();
    // "JPEG (*.jpg)": the patterns Qt shows come from the list below, not from the description.
    if (description.endsWith(QLatin1Char(')')) && description.contains(QLatin1Char('(')))
      description = description.left(description.lastIndexOf(QLatin1Char('('))).trimmed();
    QStringList patterns;
    for (const auto& p : f.second) patterns << (p == "*.*" ? QStringLiteral("*") : Q(p));
    filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
  }
  return filters;
}

INT_PTR QtHost::RunFileDialog(CFileDialog& dialog) {
  QFileDialog window(ModalParent());
  window.setOption(QFileDialog::DontUseNativeDialog, true);
  window.setAcceptMode(dialog.IsOpen() ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  window.setFileMode(dialog.IsOpen() && (dialog.m_ofn.Flags & OFN_FILEMUSTEXIST) != 0
                         ? QFileDialog::ExistingFile
                         : QFileDialog::AnyFile);
  window.setOption(QFileDialog::DontConfirmOverwrite, (dialog.m_ofn.Flags & OFN_OVERWRITEPROMPT) == 0);
  if (!dialog.m_ofn.lpstrTitle.empty()) window.setWindowTitle(Q(dialog.m_ofn.lpstrTitle));
  const QStringList filters = NameFilters(dialog);
  if (!filters.isEmpty()) {
    window.setNameFilters(filters);
    const int index = static_cast<int>(dialog.m_ofn.nFilterIndex);
    window.selectNameFilter(filters.value(index >= 1 && index <= filters.size() ? index - 1 : 0));
  }
  if (!dialog.InitialFolder().empty()) window.setDirectory(Q(dialog.InitialFolder()));
  const std::string& name = dialog.GetInitialFileName();
  if (!name.empty()) window.selectFile(Q(name.substr(name.find_last_of('/') + 1)));
  if (window.exec() != QDialog::Accepted || window.selectedFiles().isEmpty()) return IDCANCEL;
  dialog.Accept(window.selectedFiles().first().toUtf8().toStdString(),
                static_cast<int>(filters.indexOf(window.selectedNameFilter())) + 1);
  return IDOK;
}

void QtHost::SetWaitCursor(bool on) {
  if (on)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else if (QApplication::overrideCursor() != nullptr)
    QApplication::restoreOverrideCursor();
}

extern "C" __attribute__((visibility("default"))) UiHost* m3uiqt_create_host() {
  if (!QtHost::EnsureApplication()) return nullptr;
  static QtHost host;
  return &host;
}
