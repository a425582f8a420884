// DebugTrace: the per-call tracer every working function of the program constructs first, and the
// process-wide log state behind it (log path, open handle, level, error-box switch).
// Lines read "source: function> message\r\n"; each goes to the debugger output with "***" in front and
// is written through to the log file at once, so the log is complete even if the process dies.
// Control characters inside a message are escaped, so one line of the log is one line of the program.
// Level 3 adds "Entered"/"Exiting", level 2 adds detail lines. With the error-box switch on, the first
// error of the run is also shown in a message box. One thread; the state is unguarded on purpose.
#pragma once

#include <string>

class DebugTrace {
 public:
  // A non-empty logPath replaces the process-wide log path (used once, by SetupLogging).
  DebugTrace(const char* function, const char* sourcePath, const char* logPath = "");
  virtual ~DebugTrace();
  DebugTrace(const DebugTrace&) = delete;
  DebugTrace& operator=(const DebugTrace&) = delete;

  // With n other than -1, text is a format with one integer placeholder filled with n.
  void Write(const std::string& text, int n = -1);
  void Detail(const std::string& text);
  void WriteFormat(const char* format, const std::string& arg);
  void WriteFormat(const char* format, long long arg);
  void Error(const std::string& text, int n = -1);
  void ErrorFormat(const char* format, const std::string& arg);
  void ErrorFormat(const char* format, long long arg);
  // "%s: (%d) %s" with text, the thread's last error code and that code's system text.
  void SystemError(const std::string& text);
  // The system text of a code for a log line: without the line end the system's own text carries.
  static std::string SystemText(unsigned long code);

  static void SetLevel(int level);
  static int GetLevel();
  static void SetShowErrors(bool show);
  static bool GetShowErrors();
  // Start-up holds the error box until it knows whether this run may show boxes at all (task 8 and a
  // hide mask with every bit set never do); Release shows the first held error if the switch is still on.
  static void HoldErrorBoxes();
  static void ReleaseErrorBoxes();

  // The numbered convention of error texts: "%d->%s\n" with the reporting place and the message.
  static std::string Numbered(int place, const std::string& message);

  // printf-style formatting of a format with (at most) one placeholder. The argument is converted to
  // the placeholder's kind, so a mismatched or extra placeholder can never read a missing argument.
  static std::string FormatOne(const char* format, const std::string& arg);
  static std::string FormatOne(const char* format, long long arg);

  // Test seam: forget the open log and restore the initial state of the process (path "nxDebug.log",
  // level 1, no error box shown). The old handle is closed.
  static void ResetForTest();

 private:
  void WriteLine(const std::string& message);
  void ShowErrorBox(const std::string& message);
  static void OpenLog();

  std::string m_strLine;
  std::string m_strFunction;
  std::string m_strFile;
};

// The numbered error text for the current source line.
#define TRACE_NUMBERED(message) DebugTrace::Numbered(__LINE__, (message))
