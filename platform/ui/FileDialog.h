// CFileDialog: the open and save file dialogs. The filter is the framework's form
// "description|pattern[;pattern]|...||"; m_ofn.nFilterIndex is the filter to start with (1-based; 0
// counts as 1) and, after OK, the filter the user chose. The initial folder is m_ofn.lpstrInitialDir,
// else the folder of the initial file name. A name chosen without extension gets the default extension.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/ui/Wnd.h"

struct OpenFileNameInfo {
  DWORD Flags = 0;
  DWORD nFilterIndex = 0;
  std::string lpstrInitialDir;
  std::string lpstrTitle;
};

class CFileDialog {
 public:
  CFileDialog(BOOL openFileDialog, const char* defExt = nullptr, const char* fileName = nullptr,
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
              CWnd* parent = nullptr);
  virtual ~CFileDialog() = default;

  virtual INT_PTR DoModal();
  std::string GetPathName() const { return m_strPath; }
  std::string GetFileName() const;
  std::string GetFileExt() const;
  std::string GetFileTitle() const;
  std::string GetFolderPath() const;

  bool IsOpen() const { return m_bOpen; }
  const std::string& GetDefExt() const { return m_strDefExt; }
  const std::string& GetInitialFileName() const { return m_strInitialName; }
  // (description, patterns) pairs in order.
  const std::vector<std::pair<std::string, std::vector<std::string>>>& Filters() const { return m_filters; }
  // The folder the dialog opens in ("" for the current folder).
  std::string InitialFolder() const;
  // Framework: what a host reports after OK. Adds the default extension when the name has none.
  void Accept(const std::string& path, int filterIndex);
  // Framework, for the hosts: the path a typed name stands for (relative to the start folder, with
  // the default extension when the name has none), and the questions the dialog asks before it may
  // close with it, as message boxes of the process's host: a missing file or folder (OFN_FILEMUSTEXIST,
  // OFN_PATHMUSTEXIST) and replacing an existing file (OFN_OVERWRITEPROMPT, asked after the extension
  // is added). False keeps the dialog open.
  std::string ResolveChoice(const std::string& typed) const;
  bool ConfirmChoice(const std::string& path) const;

  OpenFileNameInfo m_ofn;

 private:
  bool m_bOpen;
  std::string m_strDefExt;
  std::string m_strInitialName;
  std::string m_strPath;
  std::vector<std::pair<std::string, std::vector<std::string>>> m_filters;
};
