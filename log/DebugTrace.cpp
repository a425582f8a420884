#include "log/DebugTrace.h"

#include <cstdio>
#include <cstring>

#include "platform/base/WinTypes.h"
#include "platform/debugout/DebugOut.h"
#include "platform/files/Files.h"
#include "platform/framework/Afx.h"
#include "platform/ui/MessageBox.h"

namespace {

// Process-wide log state. A handle of 0 means "not opened yet"; INVALID_HANDLE_VALUE after a failed
// open keeps later tracers from trying again.
struct LogState {
  std::string strPath = "nxDebug.log";
  HANDLE hFile = 0;
  int nLevel = 1;
  bool bShowErrors = false;
  bool bErrorShown = false;
  bool bHoldBoxes = false;
  std::string strHeldBox;  // the first error box met while boxes were held
};

LogState& State() {
  static LogState state;
  return state;
}

bool IsIntConversion(char c) {
  return std::strchr("diouxXc", c) != nullptr;
}

// Copies the rest of a format after its one placeholder: "%%" still means "%", anything else is text.
void AppendTail(std::string& out, const char* p) {
  while (*p != '\0') {
    if (p[0] == '%' && p[1] == '%') {
      out += '%';
      p += 2;
    } else {
      out += *p++;
    }
  }
}

template <typename Fill>
std::string FormatWith(const char* format, Fill fill) {
  std::string out;
  if (format == nullptr) return out;
  const char* p = format;
  while (*p != '\0') {
    if (p[0] != '%') {
      out += *p++;
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      p += 2;
      continue;
    }
    // Parse flags, width and precision; length modifiers are dropped and chosen by the argument.
    const char* start = p++;
    std::string directive = "%";
    while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr) directive += *p++;
    while (*p >= '0' && *p <= '9') directive += *p++;
    if (*p == '.') {
      directive += *p++;
      while (*p >= '0' && *p <= '9') directive += *p++;
    }
    while (*p != '\0' && std::strchr("hlLqjzt", *p) != nullptr) ++p;
    if (*p == '\0' || *p == '*') {
      out.append(start);  // not a placeholder we understand: keep it as text
      return out;
    }
    fill(out, directive, *p);
    AppendTail(out, p + 1);
    return out;
  }
  return out;
}

std::string Printf(const std::string& directive, long long value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
  return buffer;
}

std::string PrintfText(const std::string& directive, const std::string& value) {
  int n = std::snprintf(nullptr, 0, directive.c_str(), value.c_str());
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), directive.c_str(), value.c_str());
  out.resize(static_cast<size_t>(n));
  return out;
}

// Control characters inside a message are written escaped ("\\r", "\\n", "\\t", "\\xNN"), so a value
// read from a command line, the registry or a device can never start a line of its own in the log.
// Line breaks at the very end are the program's own (the numbered "%d->%s\\n" form) and stay.
std::string Escaped(const std::string& message) {
  size_t end = message.size();
  while (end > 0 && (message[end - 1] == '\n' || message[end - 1] == '\r')) --end;
  std::string out;
  out.reserve(message.size());
  for (size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(message[i]);
    if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  out.append(message, end, std::string::npos);
  return out;
}

}  // namespace

std::string DebugTrace::FormatOne(const char* format, long long arg) {
  return FormatWith(format, [arg](std::string& out, const std::string& directive, char conversion) {
    if (conversion == 'c') {
      out += static_cast<char>(arg);
    } else if (IsIntConversion(conversion)) {
      out += Printf(directive + "ll" + conversion, arg);
    } else if (conversion == 's') {
      out += PrintfText(directive + 's', std::to_string(arg));
    } else {
      out += std::to_string(arg);
    }
  });
}

std::string DebugTrace::FormatOne(const char* format, const std::string& arg) {
  return FormatWith(format, [&arg](std::string& out, const std::string& directive, char conversion) {
    if (conversion == 's') {
      out += PrintfText(directive + 's', arg);
    } else {
      out += arg;  // a text given for a number placeholder is shown as it is
    }
  });
}

std::string DebugTrace::Numbered(int place, const std::string& message) {
  return std::to_string(place) + "->" + message + "\n";
}

DebugTrace::DebugTrace(const char* function, const char* sourcePath, const char* logPath)
    : m_strFunction(function != nullptr ? function : "") {
  std::string path = sourcePath != nullptr ? sourcePath : "";
  size_t slash = path.find_last_of('/');
  m_strFile = slash == std::string::npos ? path : path.substr(slash + 1);

  LogState& state = State();
  if (logPath != nullptr && *logPath != '\0') state.strPath = logPath;
  if (state.nLevel >= 3) WriteLine("Entered");
  if (state.hFile == 0) OpenLog();
}

DebugTrace::~DebugTrace() {
  if (State().nLevel >= 3) WriteLine("Exiting");
}

void DebugTrace::OpenLog() {
  LogState& state = State();
  if (state.hFile != 0 && state.hFile != INVALID_HANDLE_VALUE) CloseHandle(state.hFile);
  // Never through a link, never a FIFO, device or folder, never another user's file; 0600.
  state.hFile = platform::files::CreatePrivateFileA(state.strPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ, OPEN_ALWAYS);
  if (state.hFile == INVALID_HANDLE_VALUE) {
    std::string text = "***" + FormatOne("'%s' could not be created or opened\n", state.strPath);
    OutputDebugStringA(text.c_str());
  } else if (platform::files::LockWaitedOut(state.hFile)) {
    const std::string line =
        "DebugTrace.cpp: OpenLog> The log's sharing lock is held by another program; "
        "going on without it\r\n";
    DWORD written = 0;
    WriteFile(state.hFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

void DebugTrace::WriteLine(const std::string& message) {
  m_strLine = m_strFile + ": " + m_strFunction + "> " + Escaped(message) + "\r\n";
  std::string debugLine = "***" + m_strLine;
  OutputDebugStringA(debugLine.c_str());

  HANDLE file = State().hFile;
  if (file == 0 || file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, m_strLine.data(), static_cast<DWORD>(m_strLine.size()), &written, nullptr);
}

void DebugTrace::ShowErrorBox(const std::string& message) {
  LogState& state = State();
  if (!state.bShowErrors || state.bErrorShown) return;
  std::string text = m_strFile + ":" + m_strFunction + "> " + message;
  if (state.bHoldBoxes) {
    if (state.strHeldBox.empty()) state.strHeldBox = text;
    return;
  }
  AfxMessageBox(text, MB_OK);
  state.bErrorShown = true;
}

void DebugTrace::HoldErrorBoxes() {
  State().bHoldBoxes = true;
}

void DebugTrace::ReleaseErrorBoxes() {
  LogState& state = State();
  if (!state.bHoldBoxes) return;
  state.bHoldBoxes = false;
  std::string text;
  text.swap(state.strHeldBox);
  if (text.empty() || !state.bShowErrors || state.bErrorShown) return;
  AfxMessageBox(text, MB_OK);
  state.bErrorShown = true;
}

void DebugTrace::Write(const std::string& text, int n) {
  WriteLine(n == -1 ? text : FormatOne(text.c_str(), n));
}

void DebugTrace::Detail(const std::string& text) {
  if (State().nLevel >= 2) WriteLine(text);
}

void DebugTrace::WriteFormat(const char* format, const std::string& arg) {
  WriteLine(FormatOne(format, arg));
}

void DebugTrace::WriteFormat(const char* format, long long arg) {
  WriteLine(FormatOne(format, arg));
}

void DebugTrace::Error(const std::string& text, int n) {
  std::string message = n == -1 ? text : FormatOne(text.c_str(), n);
  ShowErrorBox(message);
  WriteLine(message);
}

void DebugTrace::ErrorFormat(const char* format, const std::string& arg) {
  std::string message = FormatOne(format, arg);
  ShowErrorBox(message);
  WriteLine(message);
}

void DebugTrace::ErrorFormat(const char* format, long long arg) {
  std::string message = FormatOne(format, arg);
  ShowErrorBox(message);
  WriteLine(message);
}

std::string DebugTrace::SystemText(unsigned long code) {
  std::string text = platform::FormatMessageText(static_cast<DWORD>(code));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void DebugTrace::SystemError(const std::string& text) {
  const DWORD code = platform::GetLastError();
  Error(text + ": (" + std::to_string(static_cast<int>(code)) + ") " + SystemText(code));
}

void DebugTrace::SetLevel(int level) {
  State().nLevel = level;
}

int DebugTrace::GetLevel() {
  return State().nLevel;
}

void DebugTrace::SetShowErrors(bool show) {
  State().bShowErrors = show;
}

bool DebugTrace::GetShowErrors() {
  return State().bShowErrors;
}

void DebugTrace::ResetForTest() {
  LogState& state = State();
  if (state.hFile != 0 && state.hFile != INVALID_HANDLE_VALUE) CloseHandle(state.hFile);
  state = LogState();
}
