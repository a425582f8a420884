// ScriptedHost: shows boxes and dialogs to a script instead of a person, for tests and automation.
// Each box, dialog, wizard and file dialog takes its answers from the script file, one action per line,
// and writes what it showed to the transcript (format: docs/ui-scripting.md). A script that runs out,
// does not match what is shown, or names a control that is missing, hidden or disabled ends the process
// with exit code 70 after an "error: ..." line on standard error and in the transcript: never a hang.
// The script must be a regular file (a FIFO would make the run wait), and lines still unused when the
// process ends are an error too (checked at exit for the process's own host).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/UiHost.h"

class CDialog;
class CPropertySheet;

class ScriptedHost : public UiHost {
 public:
  static constexpr int kFailureExitCode = 70;
  static constexpr long kMaxScriptBytes = 4L << 20;

  ScriptedHost(std::string scriptPath, std::string transcriptPath);

  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  INT_PTR RunDialog(CDialog& dialog) override;
  INT_PTR RunSheet(CPropertySheet& sheet) override;
  INT_PTR RunFileDialog(CFileDialog& dialog) override;
  // Writes "cursor wait" when the first level begins and "cursor normal" when the last one ends.
  void SetWaitCursor(bool on) override;
  int WaitCursorDepth() const { return m_nWaitCursor; }
  bool CreateModeless(CDialog& dialog) override;
  void DestroyModeless(CDialog& dialog) override;
  // Runs the script's lines for a shown modeless dialog: "modeless N" when it is the next line and
  // dialog N is visible, then its actions; "waitfor ID TEXT" holds them until the control's text
  // holds TEXT. Any other line ends the block and waits for what it belongs to.
  void PumpEvents() override;

  // The process's host: at exit, script lines not used are an error (exit 70).
  void EnableLeftoverCheck();
  void CheckLeftovers();

  // Transcript text of a value: quoted, with \\ \" \n \r escaped.
  static std::string Quote(const std::string& text);

 private:
  struct Line {
    int number = 0;
    std::string text;
  };
  // The next action line; fails (exit 70) at the end of the script, naming what was waiting.
  Line Next(const std::string& waiting);
  void Load(const std::string& waiting);
  [[noreturn]] void Fail(const std::string& message);
  // Fails unless rest is empty: extra words, or a blank after a number, name what they follow.
  void NoMore(const std::string& rest, const Line& line, const std::string& after);
  long Number(const std::string& word, const Line& line, const std::string& what);
  static unsigned IconId(HICON icon);
  void Write(const std::string& line);
  void WriteDialog(CDialog& dialog, const std::string& head);
  // One action on a dialog or page; false when the verb is not a dialog action.
  bool Act(CDialog& dialog, const std::string& verb, const std::string& rest, const Line& line);

  std::string m_strScriptPath;
  std::string m_strTranscriptPath;
  std::vector<Line> m_lines;
  std::size_t m_nNext = 0;
  bool m_bLoaded = false;
  bool m_bExiting = false;
  int m_nWaitCursor = 0;
  std::vector<CDialog*> m_modeless;  // modeless dialogs that exist now
  CDialog* m_pAttached = nullptr;    // the one whose script block runs
};
