#include "platform/ui/qt/QtHost.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleFactory>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "platform/folders/XdgFolders.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/StockText.h"
#include "platform/ui/UiHost.h"
#include "platform/ui/qt/QtDialogView.h"
#include "platform/ui/qt/QtSheetView.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QWidget* ModalParent() {
  return QApplication::activeModalWidget();
}

// The window that opened a box or dialog is active again when it closes, as on Windows: keyboard
// input (access keys, Enter, Escape) goes on there even without a window manager to hand it back.
class GiveBackActivation {
 public:
  explicit GiveBackActivation(QWidget* opener) : m_pOpener(opener) {}
  ~GiveBackActivation() {
    if (m_pOpener != nullptr && m_pOpener->isVisible()) m_pOpener->activateWindow();
  }
  GiveBackActivation(const GiveBackActivation&) = delete;
  GiveBackActivation& operator=(const GiveBackActivation&) = delete;

 private:
  QPointer<QWidget> m_pOpener;
};

class ModelDialog : public QDialog {
 public:
  ModelDialog(CDialog& dialog, QWidget* parent) : QDialog(parent), m_dialog(dialog) {
    // The program's items of the window menu: the window manager's own menu cannot take them, so
    // they are the dialog's context menu.
    setContextMenuPolicy(Qt::DefaultContextMenu);
  }
  // Escape and the close button are IDCANCEL, as on Windows; the model decides whether to close.
  void reject() override { m_dialog.OnCommand(IDCANCEL, BN_CLICKED); }
  void accept() override { m_dialog.OnCommand(IDOK, BN_CLICKED); }
  QtDialogView* m_pView = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QDialog::resizeEvent(event);
    if (m_pView != nullptr && m_pView->CanGrow()) m_pView->Layout(event->size());
  }
  void contextMenuEvent(QContextMenuEvent* event) override { ShowSystemMenu(event->globalPos()); }
  // The desktop's context-menu keys, Menu and Shift+F10, open it from anywhere in the dialog (Alt+Space,
  // the Windows key for the window menu, belongs to the window manager here).
  void keyPressEvent(QKeyEvent* event) override {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool menuKey = (event->key() == Qt::Key_F10 && mods == Qt::ShiftModifier) ||
                         (event->key() == Qt::Key_Menu && mods == Qt::NoModifier);
    if (menuKey && !m_dialog.SystemMenu().AddedItems().empty()) {
      ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
      return;
    }
    QDialog::keyPressEvent(event);
  }

 private:
  void ShowSystemMenu(const QPoint& at) {
    const auto items = m_dialog.SystemMenu().AddedItems();
    if (items.empty()) return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("sysmenu"));
    for (const auto& item : items) {
      if ((item.flags & MF_SEPARATOR) != 0) {
        menu.addSeparator();
        continue;
      }
      QAction* action = menu.addAction(Q(item.text.substr(0, item.text.find('\t'))));
      action->setEnabled((item.flags & (MF_GRAYED | MF_DISABLED)) == 0);
      const UINT id = item.id;
      connect(action, &QAction::triggered, this, [this, id] { m_dialog.UserSysCommand(id); });
    }
    menu.exec(at);
    if (isVisible()) activateWindow();
  }

  CDialog& m_dialog;
};

// Shows a model dialog's caption, icon and visibility on its window.
void Decorate(QDialog& window, CDialog& dialog) {
  window.setWindowTitle(Q(dialog.GetWindowText()));
  HICON icon = dialog.GetIcon(FALSE) != nullptr ? dialog.GetIcon(FALSE) : dialog.GetIcon(TRUE);
  const QIcon q = QtIcon(icon);
  window.setWindowIcon(q.isNull() ? QApplication::windowIcon() : q);
}

// Can this process reach an X server? Qt ends the process (abort) when it cannot, so ask first
// through the same library Qt's X11 platform uses; it is loaded only for the question.
bool X11Reachable(const char* display, std::string& why) {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (xcb == nullptr) {
    why = "the X11 client library libxcb is missing";
    return false;
  }
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  bool ok = false;
  if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
    void* c = connect(display, nullptr);
    ok = c != nullptr && hasError(c) == 0;
    if (c != nullptr) disconnect(c);
  }
  ::dlclose(xcb);
  if (!ok) why = std::string("the display \"") + display + "\" cannot be reached";
  return ok;
}

bool WaylandReachable(const char* name) {
  std::string path = name;
  if (path.empty()) return false;
  if (path[0] != '/') {
    const std::string runtime = platform::folders::XdgRuntimeFolder();
    if (runtime.empty()) return false;
    path = runtime + "/" + path;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// Is Qt's platform plugin of that name installed? Qt aborts on a missing one as on a missing display.
bool HasPlugin(const char* fileStart) {
  const QDir dir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
  return !dir.entryList({QString::fromLatin1(fileStart) + QStringLiteral("*.so")}, QDir::Files).isEmpty();
}

// The platform plugin to start Qt with: the one QT_QPA_PLATFORM names (trusted, except X11 whose
// display is checked), else a reachable Wayland or X11 display. Empty with why set when none.
std::string ChoosePlatform(std::string& why) {
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool hasX = display != nullptr && *display != '\0';
  if (qpa != nullptr && *qpa != '\0') {
    const std::string named = qpa;
    if (named.rfind("xcb", 0) != 0) return named;
    if (!hasX) {
      why = "QT_QPA_PLATFORM is xcb but DISPLAY is unset";
      return {};
    }
    return X11Reachable(display, why) ? named : std::string();
  }
  const bool hasWayland = wayland != nullptr && *wayland != '\0';
  if (hasWayland && WaylandReachable(wayland) && HasPlugin("libqwayland")) {
    std::string ignored;
    return hasX && HasPlugin("libqxcb") && X11Reachable(display, ignored) ? "wayland;xcb" : "wayland";
  }
  if (!hasX) {
    why = std::string("the Wayland display \"") + (hasWayland ? wayland : "") +
          "\" cannot be reached, or Qt has no Wayland support";
    return {};
  }
  if (!HasPlugin("libqxcb")) {
    why = "Qt has no X11 support (platform plugin xcb)";
    return {};
  }
  return X11Reachable(display, why) ? "xcb" : std::string();
}

}  // namespace

void QtHost::ApplyLook() {
  // The desktop's style when its platform theme gives one; Qt's plain "Windows" style is no desktop's,
  // so Fusion stands in for it.
  if (QApplication::style() != nullptr &&
      QApplication::style()->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) == 0)
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // Every window carries the program's icon.
  const QIcon icon = QtIcon(platform::ui::LoadIcon(128));
  if (!icon.isNull()) QApplication::setWindowIcon(icon);
}

bool QtHost::EnsureApplication() {
  if (QApplication::instance() != nullptr) {
    if (qobject_cast<QApplication*>(QApplication::instance()) == nullptr) return false;
    ApplyLook();
    return true;
  }
  std::string why;
  const std::string platform = ChoosePlatform(why);
  if (platform.empty()) {
    std::fprintf(stderr, "%s: %s; message boxes and dialogs are not shown\n", platform::ui::AppName().c_str(),
                 why.c_str());
    return false;
  }
  static int argc = 3;
  static std::string name =
      platform::ui::AppName().empty() ? std::string("marlin3") : platform::ui::AppName();
  static std::string option = "-platform";
  static std::string chosen;
  chosen = platform;
  static char* argv[] = {name.data(), option.data(), chosen.data(), nullptr};
  auto* app = new QApplication(argc, argv);
  // Qt's own dialogs (the file dialog) in the user's language where Qt has it, as the rest.
  auto* translator = new QTranslator(app);
  if (translator->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(translator);
  ApplyLook();
  return true;
}

int QtHost::MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  GiveBackActivation back(ModalParent());
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
  using platform::ui::Stock;
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
  // The buttons speak the user's language, as the rest of the program does.
  for (const auto& c : choices) {
    const Stock text = c.id == IDOK       ? Stock::kOk
                       : c.id == IDCANCEL ? Stock::kCancel
                       : c.id == IDYES    ? Stock::kYes
                       : c.id == IDNO     ? Stock::kNo
                       : c.id == IDABORT  ? Stock::kAbort
                       : c.id == IDRETRY  ? Stock::kRetry
                                          : Stock::kIgnore;
    if (QAbstractButton* b = box.button(c.button)) b->setText(Q(platform::ui::StockText(text)));
  }
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
  GiveBackActivation back(ModalParent());
  ModelDialog window(dialog, ModalParent());
  Decorate(window, dialog);
  QtDialogView view(dialog, &window);
  window.m_pView = &view;
  Size(window, view);
  view.m_fnEnded = [&window](INT_PTR) { window.done(0); };
  view.m_fnCaption = [&window, &dialog] { Decorate(window, dialog); };
  if (!dialog.IsEnded()) window.exec();
  window.m_pView = nullptr;
  dialog.SetView(nullptr);
  if (!dialog.IsEnded()) dialog.EndDialog(IDCANCEL);
  return dialog.GetResult();
}

void QtHost::Size(QDialog& window, QtDialogView& view) {
  const QSize size = view.TemplateSize();
  if (view.CanGrow()) {
    window.setMinimumSize(size);
    window.resize(size);
    window.setSizeGripEnabled(true);
  } else {
    window.setFixedSize(size);
  }
}

bool QtHost::CreateModeless(CDialog& dialog) {
  auto window = std::make_unique<ModelDialog>(dialog, nullptr);
  window->setModal(false);
  auto view = std::make_unique<QtDialogView>(dialog, window.get());
  window->m_pView = view.get();
  Decorate(*window, dialog);
  Size(*window, *view);
  QDialog* raw = window.get();
  view->m_fnEnded = [raw](INT_PTR) { raw->hide(); };
  view->m_fnCaption = [raw, &dialog] {
    Decorate(*raw, dialog);
    raw->setVisible(dialog.IsWindowVisible());
  };
  window->setVisible(dialog.IsWindowVisible());
  m_modeless[&dialog] = Modeless{std::move(window), std::move(view)};
  return true;
}

void QtHost::DestroyModeless(CDialog& dialog) {
  auto it = m_modeless.find(&dialog);
  if (it == m_modeless.end()) return;
  it->second.view.reset();
  it->second.window.reset();
  m_modeless.erase(it);
}

void QtHost::PumpEvents() {
  // Paints the model's changes (the view collects them for the next turn) and runs what the user did.
  QApplication::processEvents(QEventLoop::AllEvents, 50);
}

INT_PTR QtHost::RunSheet(CPropertySheet& sheet) {
  GiveBackActivation back(ModalParent());
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

namespace {

// The file dialog asks the model's questions (missing file, replace) itself, after the default
// extension is added, exactly as the Windows dialog does; Qt's own checks are off.
class ModelFileDialog : public QFileDialog {
 public:
  ModelFileDialog(CFileDialog& model, QWidget* parent) : QFileDialog(parent), m_model(model) {}
  void accept() override {
    const QStringList files = selectedFiles();
    if (files.isEmpty()) return;
    const QString first = files.first();
    // A folder typed or chosen opens it, as in every file dialog.
    if (QFileInfo(first).isDir()) {
      QFileDialog::accept();
      return;
    }
    const std::string path = m_model.ResolveChoice(first.toUtf8().toStdString());
    if (!m_model.ConfirmChoice(path)) return;
    m_strChosen = path;
    QDialog::accept();
  }
  std::string m_strChosen;

 private:
  CFileDialog& m_model;
};

}  // namespace

INT_PTR QtHost::RunFileDialog(CFileDialog& dialog) {
  GiveBackActivation back(ModalParent());
  ModelFileDialog window(dialog, ModalParent());
  window.setObjectName(QStringLiteral("filedialog"));
  window.setOption(QFileDialog::DontUseNativeDialog, true);
  window.setAcceptMode(dialog.IsOpen() ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  window.setFileMode(QFileDialog::AnyFile);
  window.setOption(QFileDialog::DontConfirmOverwrite, true);
  window.setWindowTitle(!dialog.m_ofn.lpstrTitle.empty() ? Q(dialog.m_ofn.lpstrTitle)
                        : dialog.IsOpen()                ? QStringLiteral("Open")
                                                         : QStringLiteral("Save As"));
  const QStringList filters = NameFilters(dialog);
  if (!filters.isEmpty()) {
    window.setNameFilters(filters);
    const int index = static_cast<int>(dialog.m_ofn.nFilterIndex);
    window.selectNameFilter(filters.value(index >= 1 && index <= filters.size() ? index - 1 : 0));
  }
  if (!dialog.InitialFolder().empty()) window.setDirectory(Q(dialog.InitialFolder()));
  const std::string& name = dialog.GetInitialFileName();
  if (!name.empty()) window.selectFile(Q(name.substr(name.find_last_of('/') + 1)));
  if (window.exec() != QDialog::Accepted || window.m_strChosen.empty()) return IDCANCEL;
  dialog.Accept(window.m_strChosen, static_cast<int>(filters.indexOf(window.selectedNameFilter())) + 1);
  return IDOK;
}

void QtHost::SetWaitCursor(bool on) {
  // Counted, so an end without a begin never takes away a cursor someone else set.
  if (on) {
    if (m_nWaitCursor++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (m_nWaitCursor > 0 && --m_nWaitCursor == 0) {
    QApplication::restoreOverrideCursor();
  }
}

// For the screenshot tool, which makes its own QApplication: the look the host gives every window.
extern "C" __attribute__((visibility("default"))) void m3uiqt_apply_look() {
  QtHost::ApplyLook();
}

extern "C" __attribute__((visibility("default"))) UiHost* m3uiqt_create_host() {
  if (!QtHost::EnsureApplication()) return nullptr;
  static QtHost host;
  return &host;
}
