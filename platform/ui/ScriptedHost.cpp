#include "platform/ui/ScriptedHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ui/Button.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Edit.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ProgressCtrl.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/TreeCtrl.h"

namespace {

// Splits off the first blank-separated word of text; rest keeps what follows it.
std::string Word(std::string text, std::string& rest) {
  const auto b = text.find_first_not_of(" \t");
  if (b == std::string::npos) {
    rest.clear();
    return {};
  }
  const auto e = text.find_first_of(" \t", b);
  // The rest keeps its blanks, so a blank after the last word can be told from none.
  rest = e == std::string::npos ? std::string() : text.substr(e);
  return text.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

enum class TextResult { kOk, kUnterminated, kTrailing };

// The text argument: a quoted string with \\ \" \n \r \t escapes, or the rest of the line without the
// blanks around it. Nothing but blanks may follow a closing quote.
TextResult TextArg(const std::string& rest, std::string& text) {
  const auto b = rest.find_first_not_of(" \t");
  text.clear();
  if (b == std::string::npos) return TextResult::kOk;
  if (rest[b] != '"') {
    text = rest.substr(b, rest.find_last_not_of(" \t") - b + 1);
    return TextResult::kOk;
  }
  for (std::size_t i = b + 1; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '"')
      return rest.find_first_not_of(" \t", i + 1) == std::string::npos ? TextResult::kOk
                                                                       : TextResult::kTrailing;
    if (c == '\\' && i + 1 < rest.size()) {
      c = rest[++i];
      c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    text.push_back(c);
  }
  return TextResult::kUnterminated;
}

// A whole number: an optional "-" and digits, nothing else (no blanks, no "+", no hex).
bool IntArg(const std::string& word, long& value) {
  std::size_t i = word.size() > 1 && word[0] == '-' ? 1 : 0;
  if (i >= word.size() || word.size() > 10) return false;
  for (std::size_t k = i; k < word.size(); ++k)
    if (word[k] < '0' || word[k] > '9') return false;
  value = std::strtol(word.c_str(), nullptr, 10);
  return true;
}

bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

// A tree path: item texts joined with "|"; "\\|" is a "|" inside a text and "\\\\" a backslash.
std::vector<std::string> SplitTreePath(const std::string& path) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' && i + 1 < path.size() && (path[i + 1] == '|' || path[i + 1] == '\\')) {
      parts.back().push_back(path[++i]);
    } else if (path[i] == '|') {
      parts.emplace_back();
    } else {
      parts.back().push_back(path[i]);
    }
  }
  return parts;
}

ScriptedHost* g_pCheckedHost = nullptr;

void CheckLeftoversAtExit() {
  if (g_pCheckedHost != nullptr) g_pCheckedHost->CheckLeftovers();
}

const char* KindName(const CWnd& w) {
  switch (w.GetKind()) {
    case M3_PUSHBUTTON:
      return "button";
    case M3_DEFPUSHBUTTON:
      return "defbutton";
    case M3_CHECKBOX:
      return "check";
    case M3_RADIOBUTTON:
      return "radio";
    case M3_EDIT:
      return "edit";
    case M3_STATIC:
      return "static";
    case M3_GROUPBOX:
      return "group";
    case M3_COMBO_DROPDOWN:
      return "combo";
    case M3_COMBO_DROPLIST:
      return "droplist";
    case M3_LISTBOX:
      return "list";
    case M3_SLIDER:
      return "slider";
    case M3_TREEVIEW:
      return "tree";
    case M3_ICON:
      return "icon";
    case M3_PROGRESS:
      return "progress";
    case M3_LISTVIEW:
      return "listview";
    default:
      return "window";
  }
}

void DescribeItems(const ItemList& items, std::vector<std::string>& out) {
  for (const auto& e : items.Entries())
    out.push_back("    item " + ScriptedHost::Quote(e.text) +
                  " data=" + std::to_string(static_cast<long long>(e.data)));
}

void DescribeTree(const CTreeCtrl& tree, const std::vector<std::unique_ptr<TreeItem>>& items, int depth,
                  std::vector<std::string>& out) {
  for (const auto& item : items) {
    std::string line(static_cast<std::size_t>(4 + 2 * depth), ' ');
    line += "item " + ScriptedHost::Quote(item->text);
    if (!item->children.empty()) line += (item->state & TVIS_EXPANDED) != 0 ? " expanded" : " collapsed";
    if (tree.GetSelectedItem() == item->handle) line += " selected";
    out.push_back(line);
    if ((item->state & TVIS_EXPANDED) != 0) DescribeTree(tree, item->children, depth + 1, out);
  }
}

void Describe(CWnd& w, std::vector<std::string>& out) {
  std::string line = "  " + std::to_string(w.GetDlgCtrlID()) + " " + KindName(w);
  if (auto* b = dynamic_cast<CButton*>(&w); b != nullptr && (b->IsCheckBox() || b->IsRadio()))
    line += b->GetCheck() == BST_CHECKED ? " checked" : " unchecked";
  std::vector<std::string> extra;
  if (auto* l = dynamic_cast<CListBox*>(&w)) {
    line += " count=" + std::to_string(l->GetCount()) + " sel=" + std::to_string(l->GetCurSel());
    DescribeItems(l->Items(), extra);
  } else if (auto* c = dynamic_cast<CComboBox*>(&w)) {
    line += " count=" + std::to_string(c->GetCount()) + " sel=" + std::to_string(c->GetCurSel());
    DescribeItems(c->Items(), extra);
  } else if (auto* s = dynamic_cast<CSliderCtrl*>(&w)) {
    line += " range=" + std::to_string(s->GetRangeMin()) + ".." + std::to_string(s->GetRangeMax()) +
            " pos=" + std::to_string(s->GetPos());
  } else if (auto* p = dynamic_cast<CProgressCtrl*>(&w)) {
    int lower = 0, upper = 0;
    p->GetRange(lower, upper);
    line += " range=" + std::to_string(lower) + ".." + std::to_string(upper) +
            (p->IsMarquee() ? std::string(" marquee") : " pos=" + std::to_string(p->GetPos()));
  } else if (auto* t = dynamic_cast<CTreeCtrl*>(&w)) {
    line += " count=" + std::to_string(t->GetCount());
    DescribeTree(*t, t->TopItems(), 0, extra);
  }
  if (!w.IsWindowEnabled()) line += " disabled";
  if (!w.IsWindowVisible()) line += " hidden";
  if (auto* e = dynamic_cast<CEdit*>(&w); e != nullptr && e->GetLimitText() != CEdit::kDefaultLimit)
    line += " limit=" + std::to_string(e->GetLimitText());
  if (w.GetKind() != M3_TREEVIEW && w.GetKind() != M3_LISTBOX && w.GetKind() != M3_SLIDER &&
      w.GetKind() != M3_PROGRESS)
    line += " text=" + ScriptedHost::Quote(w.GetWindowText());
  out.push_back(line);
  out.insert(out.end(), extra.begin(), extra.end());
}

std::string TypeName(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return "OKCANCEL";
    case MB_ABORTRETRYIGNORE:
      return "ABORTRETRYIGNORE";
    case MB_YESNOCANCEL:
      return "YESNOCANCEL";
    case MB_YESNO:
      return "YESNO";
    case MB_RETRYCANCEL:
      return "RETRYCANCEL";
    default:
      return "OK";
  }
}

std::string IconName(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
      return "error";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONEXCLAMATION:
      return "exclamation";
    case MB_ICONINFORMATION:
      return "information";
    default:
      return "none";
  }
}

int AnswerId(const std::string& answer) {
  static const struct {
    const char* name;
    int id;
  } kAnswers[] = {{"OK", IDOK},       {"CANCEL", IDCANCEL}, {"YES", IDYES},      {"NO", IDNO},
                  {"ABORT", IDABORT}, {"RETRY", IDRETRY},   {"IGNORE", IDIGNORE}};
  for (const auto& a : kAnswers)
    if (answer == a.name) return a.id;
  return 0;
}

bool BoxHas(UINT type, int id) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return id == IDOK || id == IDCANCEL;
    case MB_ABORTRETRYIGNORE:
      return id == IDABORT || id == IDRETRY || id == IDIGNORE;
    case MB_YESNOCANCEL:
      return id == IDYES || id == IDNO || id == IDCANCEL;
    case MB_YESNO:
      return id == IDYES || id == IDNO;
    case MB_RETRYCANCEL:
      return id == IDRETRY || id == IDCANCEL;
    default:
      return id == IDOK;
  }
}

}  // namespace

ScriptedHost::ScriptedHost(std::string scriptPath, std::string transcriptPath)
    : m_strScriptPath(std::move(scriptPath)), m_strTranscriptPath(std::move(transcriptPath)) {}

std::string ScriptedHost::Quote(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    switch (c) {
      case '\\':
        q += "\\\\";
        break;
      case '"':
        q += "\\\"";
        break;
      case '\n':
        q += "\\n";
        break;
      case '\r':
        q += "\\r";
        break;
      default:
        q.push_back(c);
    }
  }
  return q + "\"";
}

void ScriptedHost::Write(const std::string& line) {
  if (m_strTranscriptPath.empty()) return;
  // Opened for each line, so a process that ends at any point leaves every line written so far.
  if (FILE* f = std::fopen(m_strTranscriptPath.c_str(), "a")) {
    std::fputs(line.c_str(), f);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

void ScriptedHost::Fail(const std::string& message) {
  // One error is enough: the check for lines left over does not run after it.
  if (g_pCheckedHost == this) g_pCheckedHost = nullptr;
  const std::string line = "error: " + message;
  Write(line);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  if (m_bExiting) {
    // Already inside exit: end here, with what the program wrote flushed.
    std::fflush(nullptr);
    std::_Exit(kFailureExitCode);
  }
  std::exit(kFailureExitCode);
}

void ScriptedHost::EnableLeftoverCheck() {
  if (g_pCheckedHost == nullptr) std::atexit(CheckLeftoversAtExit);
  g_pCheckedHost = this;
}

void ScriptedHost::CheckLeftovers() {
  if (m_strScriptPath.empty()) return;
  if (!m_bLoaded) {
    // Nothing was shown: only a readable script can have lines left over.
    struct stat st {};
    if (::stat(m_strScriptPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  }
  m_bExiting = true;
  Load("the program ends");
  if (m_nNext >= m_lines.size()) return;
  const Line& line = m_lines[m_nNext];
  Fail("the program ended with " + std::to_string(m_lines.size() - m_nNext) +
       " script line(s) left, the first is line " + std::to_string(line.number) + " \"" + line.text + "\"");
}

void ScriptedHost::Load(const std::string& waiting) {
  if (m_bLoaded) return;
  m_bLoaded = true;
  if (m_strScriptPath.empty()) Fail("MARLIN3_UI_SCRIPT is not set; " + waiting);
  // Never wait: a FIFO or a device would block the open or the read, so neither is accepted.
  const int fd = ::open(m_strScriptPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    Fail("cannot read the script " + m_strScriptPath + " (" + std::strerror(errno) + "); " + waiting);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail("the script " + m_strScriptPath + " is not a regular file; " + waiting);
  }
  if (st.st_size > kMaxScriptBytes) {
    ::close(fd);
    Fail("the script " + m_strScriptPath + " is larger than " + std::to_string(kMaxScriptBytes) + " bytes");
  }
  std::string content;
  char buffer[8192];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      Fail("cannot read the script " + m_strScriptPath + " (" + std::strerror(errno) + ")");
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
    if (content.size() > static_cast<std::size_t>(kMaxScriptBytes)) break;
  }
  ::close(fd);
  int number = 0;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t end = content.find('\n', pos);
    std::string text = content.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? content.size() : end + 1;
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const auto b = text.find_first_not_of(" \t");
    if (b == std::string::npos || text[b] == '#') continue;
    m_lines.push_back(Line{number, text.substr(b)});
  }
}

ScriptedHost::Line ScriptedHost::Next(const std::string& waiting) {
  Load(waiting);
  if (m_nNext >= m_lines.size()) Fail("the script ran out; " + waiting);
  return m_lines[m_nNext++];
}

int ScriptedHost::MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  const std::string shown = "msgbox caption=" + Quote(caption) + " text=" + Quote(text) +
                            " buttons=" + TypeName(type) + " icon=" + IconName(type);
  const Line line = Next("waiting: " + shown);
  std::string rest;
  const std::string verb = Word(line.text, rest);
  std::string answer = Word(rest, rest);
  std::string substring;
  const TextResult parsed = TextArg(rest, substring);
  const std::string where = "line " + std::to_string(line.number) + " \"" + line.text + "\"";
  if (verb != "msgbox") Fail(where + " does not answer the message box; shown: " + shown);
  if (parsed == TextResult::kUnterminated) Fail(where + ": unterminated quoted text");
  if (parsed == TextResult::kTrailing) Fail(where + ": extra text after the closing quote");
  const int id = AnswerId(answer);
  if (id == 0 || !BoxHas(type, id))
    Fail(where + ": " + answer + " is not a button of the box; shown: " + shown);
  if (!substring.empty() && text.find(substring) == std::string::npos)
    Fail(where + ": the box text does not contain " + Quote(substring) + "; shown: " + shown);
  Write(shown + " answer=" + answer);
  return id;
}

void ScriptedHost::WriteDialog(CDialog& dialog, const std::string& head) {
  std::vector<std::string> lines;
  std::string first = head + " caption=" + Quote(dialog.GetWindowText());
  if (dialog.GetFocusId() != 0) first += " focus=" + std::to_string(dialog.GetFocusId());
  if (HICON icon = dialog.GetIcon(FALSE) != nullptr ? dialog.GetIcon(FALSE) : dialog.GetIcon(TRUE))
    first += " icon=" + std::to_string(IconId(icon));
  lines.push_back(first);
  for (const auto& item : dialog.SystemMenu().AddedItems()) {
    if ((item.flags & MF_SEPARATOR) != 0)
      lines.push_back("  sysmenu separator");
    else
      lines.push_back("  sysmenu " + std::to_string(item.id) + " text=" + Quote(item.text));
  }
  for (CWnd* w : dialog.Controls()) Describe(*w, lines);
  for (const auto& l : lines) Write(l);
}

namespace {

HTREEITEM FindTreePath(CTreeCtrl& tree, const std::string& path) {
  const std::vector<std::unique_ptr<TreeItem>>* items = &tree.TopItems();
  const TreeItem* found = nullptr;
  for (const std::string& part : SplitTreePath(path)) {
    if (found != nullptr) items = &found->children;
    found = nullptr;
    for (const auto& item : *items)
      if (found == nullptr && item->text == part) found = item.get();
    if (found == nullptr) return nullptr;
  }
  return found != nullptr ? found->handle : nullptr;
}

// The text of a stock or resource icon: its number.
}  // namespace

unsigned ScriptedHost::IconId(HICON icon) {
  return icon != nullptr ? icon->id : 0;
}

namespace {

int FindEntry(const ItemList& items, const std::string& text) {
  for (int i = 0; i < items.Count(); ++i)
    if (items.At(i).text == text) return i;
  return -1;
}

}  // namespace

void ScriptedHost::NoMore(const std::string& rest, const Line& line, const std::string& after) {
  if (rest.empty()) return;
  const std::string where = "line " + std::to_string(line.number) + " \"" + line.text + "\"";
  if (Blank(rest)) Fail(where + ": blank after " + after + " (quote a text to keep blanks)");
  Fail(where + ": extra text after " + after);
}

long ScriptedHost::Number(const std::string& word, const Line& line, const std::string& what) {
  long value = 0;
  if (!IntArg(word, value))
    Fail("line " + std::to_string(line.number) + " \"" + line.text + "\": " + what +
         (word.empty() ? " is missing" : " \"" + word + "\" is not a number"));
  return value;
}

bool ScriptedHost::Act(CDialog& dialog, const std::string& verb, const std::string& rest, const Line& line) {
  const std::string where = "line " + std::to_string(line.number) + " \"" + line.text + "\"";
  if (verb == "show") {
    NoMore(rest, line, "\"show\"");
    WriteDialog(dialog, "state " + std::to_string(dialog.GetTemplateId()));
    return true;
  }
  if (verb == "sysmenu") {
    std::string text;
    const TextResult parsed = TextArg(rest, text);
    if (parsed == TextResult::kUnterminated) Fail(where + ": unterminated quoted text");
    if (parsed == TextResult::kTrailing) Fail(where + ": extra text after the closing quote");
    for (const auto& item : dialog.SystemMenu().Items()) {
      if ((item.flags & MF_SEPARATOR) != 0 || (item.flags & (MF_GRAYED | MF_DISABLED)) != 0) continue;
      // The text as the transcript shows it, or without its access-key "&" and shortcut.
      std::string plain;
      for (std::size_t i = 0; i < item.text.size() && item.text[i] != '\t'; ++i) {
        if (item.text[i] == '&' && i + 1 < item.text.size()) ++i;
        plain.push_back(item.text[i]);
      }
      if (item.text == text || plain == text) {
        dialog.UserSysCommand(item.id);
        return true;
      }
    }
    Fail(where + ": the window menu of dialog " + std::to_string(dialog.GetTemplateId()) + " has no item " +
         Quote(text));
  }
  static const char* const kControlVerbs[] = {"click",  "dblclick", "check",      "uncheck",
                                              "radio",  "type",     "select",     "slide",
                                              "expand", "collapse", "treeselect", "tooltip"};
  bool known = false;
  for (const char* v : kControlVerbs) known = known || verb == v;
  if (!known) return false;

  std::string args;
  const std::string idWord = Word(rest, args);
  if (idWord.empty()) Fail(where + ": a control number is missing");
  const long id = Number(idWord, line, "the control number");
  CWnd* w = dialog.GetDlgItem(static_cast<int>(id));
  const std::string name =
      "control " + std::to_string(id) + " of dialog " + std::to_string(dialog.GetTemplateId());
  // Actions that take nothing after the control number.
  const bool bare =
      verb == "click" || verb == "check" || verb == "uncheck" || verb == "radio" || verb == "tooltip";
  if (bare) NoMore(args, line, "the control number " + idWord);
  if (w == nullptr) Fail(where + ": " + name + " does not exist");
  if (verb == "tooltip") {
    Write("tooltip " + std::to_string(id) + " text=" + Quote(dialog.ToolTipFor(static_cast<int>(id))));
    return true;
  }
  if (!w->IsWindowVisible()) Fail(where + ": " + name + " is hidden");
  if (!w->IsWindowEnabled()) Fail(where + ": " + name + " is disabled");
  std::string text;
  if (verb == "slide") {
    std::string extra;
    const std::string posWord = Word(args, extra);
    text = posWord;
    NoMore(extra, line, "the position " + posWord);
  } else {
    const TextResult parsed = TextArg(args, text);
    if (parsed == TextResult::kUnterminated) Fail(where + ": unterminated quoted text");
    if (parsed == TextResult::kTrailing) Fail(where + ": extra text after the closing quote");
  }

  auto* button = dynamic_cast<CButton*>(w);
  auto* list = dynamic_cast<CListBox*>(w);
  auto* combo = dynamic_cast<CComboBox*>(w);
  auto* tree = dynamic_cast<CTreeCtrl*>(w);
  auto wrong = [&](const char* what) { Fail(where + ": " + name + " is not " + what); };

  if (verb == "click") {
    if (button == nullptr) wrong("a button");
    button->UserClick();
  } else if (verb == "check" || verb == "uncheck") {
    if (button == nullptr || !button->IsCheckBox()) wrong("a check box");
    if ((button->GetCheck() == BST_CHECKED) != (verb == "check")) button->UserClick();
  } else if (verb == "radio") {
    if (button == nullptr || !button->IsRadio()) wrong("a radio button");
    button->UserClick();
  } else if (verb == "type") {
    auto* edit = dynamic_cast<CEdit*>(w);
    if (edit != nullptr) {
      if ((edit->GetStyle() & M3_READONLY) != 0) Fail(where + ": " + name + " is read-only");
      edit->UserType(text);
    } else if (combo != nullptr && !combo->IsDropList()) {
      combo->UserType(text);
    } else {
      wrong("an edit box");
    }
  } else if (verb == "select" || verb == "dblclick") {
    const ItemList* items = list != nullptr ? &list->Items() : combo != nullptr ? &combo->Items() : nullptr;
    if (items == nullptr || (verb == "dblclick" && list == nullptr)) wrong("a list");
    const int index = FindEntry(*items, text);
    if (index < 0) Fail(where + ": " + name + " has no entry " + Quote(text));
    if (verb == "dblclick")
      list->UserDoubleClick(index);
    else if (list != nullptr)
      list->UserSelect(index);
    else
      combo->UserSelect(index);
  } else if (verb == "slide") {
    auto* slider = dynamic_cast<CSliderCtrl*>(w);
    if (slider == nullptr) wrong("a slider");
    if (text.empty()) Fail(where + ": a slider position is missing");
    slider->UserMove(static_cast<int>(Number(text, line, "the slider position")));
  } else {
    if (tree == nullptr) wrong("a tree view");
    HTREEITEM item = FindTreePath(*tree, text);
    if (item == nullptr) Fail(where + ": " + name + " has no item " + Quote(text));
    if (verb == "treeselect")
      tree->UserSelect(item);
    else
      tree->UserExpand(item, verb == "expand");
  }
  return true;
}

INT_PTR ScriptedHost::RunDialog(CDialog& dialog) {
  const std::string head = "dialog " + std::to_string(dialog.GetTemplateId());
  const Line open = Next(head + " opened");
  {
    std::string rest;
    const std::string verb = Word(open.text, rest);
    std::string extra;
    const std::string number = Word(rest, extra);
    if (verb != "dialog")
      Fail("line " + std::to_string(open.number) + " \"" + open.text + "\" does not expect " + head);
    const long id = Number(number, open, "the dialog number");
    NoMore(extra, open, "the dialog number " + number);
    if (id != static_cast<long>(dialog.GetTemplateId()))
      Fail("line " + std::to_string(open.number) + " \"" + open.text + "\" does not expect " + head);
  }
  WriteDialog(dialog, head);
  while (!dialog.IsEnded()) {
    const Line a = Next(head + " waits for an action");
    std::string rest;
    const std::string verb = Word(a.text, rest);
    Write("> " + a.text);
    if (verb == "ok" || verb == "cancel") {
      NoMore(rest, a, "\"" + verb + "\"");
      dialog.OnCommand(verb == "ok" ? IDOK : IDCANCEL, BN_CLICKED);
    } else if (!Act(dialog, verb, rest, a)) {
      Fail("line " + std::to_string(a.number) + " \"" + a.text + "\" is not an action for " + head);
    }
  }
  Write("end " + head + " result=" + std::to_string(dialog.GetResult()));
  return dialog.GetResult();
}

bool ScriptedHost::CreateModeless(CDialog& dialog) {
  // Created, a modeless window takes no script lines: it is there, and the transcript says so. Its
  // lines run when the program pumps events while it is shown.
  WriteDialog(dialog, "modeless " + std::to_string(dialog.GetTemplateId()) +
                          (dialog.IsWindowVisible() ? "" : " hidden"));
  m_modeless.push_back(&dialog);
  return true;
}

void ScriptedHost::DestroyModeless(CDialog& dialog) {
  std::erase(m_modeless, &dialog);
  if (m_pAttached == &dialog) m_pAttached = nullptr;
  Write("end modeless " + std::to_string(dialog.GetTemplateId()));
}

void ScriptedHost::PumpEvents() {
  // Nothing to answer without a window to act on, and no script needed for that.
  if (m_modeless.empty() || m_strScriptPath.empty()) return;
  if (!m_bLoaded) {
    // A window that needs no answer does not need a script either: a missing one fails at a dialog.
    struct stat st {};
    if (::stat(m_strScriptPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  }
  Load("a modeless dialog is shown");
  static const char* const kActions[] = {"show",       "sysmenu", "click",  "dblclick", "check",  "uncheck",
                                         "radio",      "type",    "select", "slide",    "expand", "collapse",
                                         "treeselect", "tooltip", "ok",     "cancel",   "waitfor"};
  while (m_nNext < m_lines.size()) {
    const Line line = m_lines[m_nNext];
    const std::string where = "line " + std::to_string(line.number) + " \"" + line.text + "\"";
    std::string rest;
    const std::string verb = Word(line.text, rest);
    if (m_pAttached == nullptr) {
      if (verb != "modeless") return;
      std::string extra;
      const std::string number = Word(rest, extra);
      const long id = Number(number, line, "the dialog number");
      NoMore(extra, line, "the dialog number " + number);
      CDialog* shown = nullptr;
      for (CDialog* d : m_modeless)
        if (static_cast<long>(d->GetTemplateId()) == id && d->IsWindowVisible()) shown = d;
      if (shown == nullptr) return;  // the line waits for its window
      ++m_nNext;
      m_pAttached = shown;
      WriteDialog(*shown, "modeless " + std::to_string(id));
      continue;
    }
    bool action = false;
    for (const char* a : kActions) action = action || verb == a;
    if (!action) {
      m_pAttached = nullptr;  // the block ends; the line belongs to what comes next
      return;
    }
    CDialog& dialog = *m_pAttached;
    if (verb == "waitfor") {
      std::string args;
      const std::string idWord = Word(rest, args);
      const long id = Number(idWord, line, "the control number");
      std::string text;
      const TextResult parsed = TextArg(args, text);
      if (parsed == TextResult::kUnterminated) Fail(where + ": unterminated quoted text");
      if (parsed == TextResult::kTrailing) Fail(where + ": extra text after the closing quote");
      CWnd* w = dialog.GetDlgItem(static_cast<int>(id));
      if (w == nullptr)
        Fail(where + ": control " + std::to_string(id) + " of dialog " +
             std::to_string(dialog.GetTemplateId()) + " does not exist");
      if (w->GetWindowText().find(text) == std::string::npos) return;  // not yet: try at the next pump
      ++m_nNext;
      Write("> " + line.text);
      continue;
    }
    ++m_nNext;
    Write("> " + line.text);
    if (verb == "ok" || verb == "cancel") {
      NoMore(rest, line, "\"" + verb + "\"");
      dialog.OnCommand(verb == "ok" ? IDOK : IDCANCEL, BN_CLICKED);
    } else {
      Act(dialog, verb, rest, line);
    }
  }
}

void ScriptedHost::SetWaitCursor(bool on) {
  if (on) {
    if (m_nWaitCursor++ == 0) Write("cursor wait");
  } else if (m_nWaitCursor > 0 && --m_nWaitCursor == 0) {
    Write("cursor normal");
  }
}

INT_PTR ScriptedHost::RunSheet(CPropertySheet& sheet) {
  const std::string head = "wizard caption=" + Quote(sheet.GetWindowText());
  const Line open = Next(head + " opened");
  {
    std::string rest;
    if (Word(open.text, rest) != "wizard")
      Fail("line " + std::to_string(open.number) + " \"" + open.text + "\" does not expect the wizard");
    NoMore(rest, open, "\"wizard\"");
  }
  Write(head);
  int seen = -1;
  auto writePage = [&](bool always) {
    if (!always && seen == sheet.GetActivationCount()) return;
    seen = sheet.GetActivationCount();
    CPropertyPage* page = sheet.GetActivePage();
    std::string buttons;
    if (sheet.CanBack()) buttons += "|BACK";
    if (sheet.CanNext()) buttons += "|NEXT";
    if (sheet.ShowsFinish()) buttons += sheet.CanFinish() ? "|FINISH" : "|DISABLEDFINISH";
    std::string pageHead = "page " + std::to_string(page->GetTemplateId()) +
                           " buttons=" + (buttons.empty() ? std::string("none") : buttons.substr(1));
    if (!sheet.GetFinishText().empty()) pageHead += " finish=" + Quote(sheet.GetFinishText());
    WriteDialog(*page, pageHead);
  };
  writePage(true);
  while (!sheet.IsEnded()) {
    CPropertyPage* page = sheet.GetActivePage();
    const std::string waiting =
        "page " + std::to_string(page->GetTemplateId()) + " of the wizard waits for an action";
    const Line a = Next(waiting);
    std::string rest;
    const std::string verb = Word(a.text, rest);
    Write("> " + a.text);
    const std::string where = "line " + std::to_string(a.number) + " \"" + a.text + "\"";
    static const struct {
      const char* verb;
      int button;
    } kButtons[] = {
        {"back", PSBTN_BACK}, {"next", PSBTN_NEXT}, {"finish", PSBTN_FINISH}, {"cancel", PSBTN_CANCEL}};
    bool pressed = false;
    for (const auto& b : kButtons) {
      if (verb != b.verb) continue;
      pressed = true;
      NoMore(rest, a, "\"" + verb + "\"");
      if (!sheet.PressButton(b.button)) Fail(where + ": the wizard's " + verb + " button is not available");
    }
    if (!pressed && verb == "show") {
      NoMore(rest, a, "\"show\"");
      writePage(true);
      continue;
    }
    if (!pressed && !Act(*page, verb, rest, a)) Fail(where + " is not an action for " + waiting);
    if (!sheet.IsEnded()) writePage(false);
  }
  Write("end wizard result=" + std::to_string(sheet.GetResult()));
  return sheet.GetResult();
}

INT_PTR ScriptedHost::RunFileDialog(CFileDialog& dialog) {
  std::string filters;
  for (const auto& f : dialog.Filters()) {
    std::string patterns;
    for (const auto& p : f.second) patterns += (patterns.empty() ? "" : ";") + p;
    filters += (filters.empty() ? "" : ",") + Quote(f.first + " (" + patterns + ")");
  }
  const std::string shown = std::string("filedialog ") + (dialog.IsOpen() ? "open" : "save") +
                            " folder=" + Quote(dialog.InitialFolder()) +
                            " name=" + Quote(dialog.GetInitialFileName()) +
                            " filter=" + std::to_string(dialog.m_ofn.nFilterIndex) + " filters=" + filters;
  while (true) {
    const Line a = Next("waiting: " + shown);
    const std::string where = "line " + std::to_string(a.number) + " \"" + a.text + "\"";
    std::string rest;
    if (Word(a.text, rest) != "file") Fail(where + " does not answer the file dialog; shown: " + shown);
    std::string args;
    std::string first = Word(rest, args);
    if (first == "cancel" && args.find_first_not_of(" \t") == std::string::npos) {
      Write(shown + " answer=CANCEL");
      return IDCANCEL;
    }
    long filter = static_cast<long>(dialog.m_ofn.nFilterIndex);
    if (first.rfind("filter=", 0) == 0) {
      if (!IntArg(first.substr(7), filter) || filter < 1 ||
          filter > static_cast<long>(dialog.Filters().size()))
        Fail(where + ": the dialog has no filter " + first.substr(7));
    } else {
      args = rest;
    }
    std::string typed;
    const TextResult parsed = TextArg(args, typed);
    if (parsed == TextResult::kUnterminated) Fail(where + ": unterminated quoted text");
    if (parsed == TextResult::kTrailing) Fail(where + ": extra text after the closing quote");
    if (typed.empty()) Fail(where + ": a file name is missing");
    const std::string path = dialog.ResolveChoice(typed);
    // The questions the dialog itself asks before it closes; each is a message box of the script.
    if (!dialog.ConfirmChoice(path)) continue;
    dialog.Accept(path, static_cast<int>(filter));
    Write(shown + " answer=OK path=" + Quote(dialog.GetPathName()) +
          " chosen=" + std::to_string(dialog.m_ofn.nFilterIndex));
    return IDOK;
  }
}
