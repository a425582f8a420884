// ScanApp: the application object. One start performs one task chosen by the command line: InitInstance
// sets up the log, loads the resource library, writes first-run defaults, checks the device address the
// device monitor passed, selects the current Quick Set and dispatches the task, then returns false so
// the process ends. Every dialog is modal and runs inside InitInstance.
// Owns the ValueGetter, the resource library handle and the scan files of the run. The current Quick
// Set name is process-wide (g_strQsName) because the main dialog and the wizard change it too.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/framework/WinApp.h"
#include "settings/ValueGetter.h"

class DebugTrace;
class OcrPages;
struct ScanRequest;

// The current Quick Set name of the run; empty until start-up selects one.
extern std::string g_strQsName;

// Task numbers of the "Task" option.
enum ScanTask : int {
  kTaskInteractive = 3,  // also every unlisted value
  kTaskDeviceSetup = 7,
  kTaskConvert = 8,
  kTaskReview = 9,
  kTaskPoll = 10,
  kTaskPublish = 11,
  kTaskDeviceScan = 13,
  kTaskInitPolling = 14,
  kTaskClear = 15,
};

class ScanApp : public CWinApp {
 public:
  ScanApp();
  ~ScanApp() override;

  // Runs the whole task; always false.
  BOOL InitInstance() override;

  // --- Start-up ---
  void SetupLogging();
  bool LoadResourceDll(const std::string& name);
  void SetupRegistry();
  bool IsThisSelected(const std::string& address);
  void ShowErrorMessages();

  // --- Publishing and device-monitor notification ---
  void GetQsFromDeviceName(const std::string& deviceName, std::string& qs);
  bool ClearMainRegistry();
  // Defined with the device code.
  bool SendDestToDeviceNow();
  bool InitializePolling();
  bool SendDestToDevice(const std::string& name);

  // --- Scan job and convert task (defined with the scan code) ---
  bool DoScan();
  bool SetupTwainSettings(ScanRequest& request);
  bool DoFile();
  bool DoEmail();
  bool DoApp();
  bool GetOutFileName(std::vector<std::string>& names);
  void GetAttachNames(std::vector<std::string>& names);
  bool MoveScanFiles(std::vector<std::string>& targets);
  bool DoConvertFile();
  bool GetInFileNames(std::vector<std::string>& names);
  bool FindIris();
  // Steps the scan job shares: the replace question for an existing output (or "OverWrite" when every
  // hide bit is set; false keeps the file), a free temporary-style name in folder, the multi-file warning.
  bool AskForReplacement(const std::string& name, DebugTrace& trace);
  std::string ReserveName(int type, const std::string& folder);
  // "OutFile" with its date, time and counter placeholders filled in (scan/OutFilePattern.h).
  std::string ExpandOutFile(const std::string& outFile, DebugTrace& trace);
  void WarnMultiFileIfNeeded();
  // The "Ocr" value for output of this type, started (scan/OcrPages.h); null when off or not PDF.
  std::unique_ptr<OcrPages> OcrPagesFor(int type, bool& failed);

  ValueGetter& GetValueGetter() { return m_ValueGetter; }
  HMODULE GetResourceDll() const { return m_hResDll; }

  // Run state shared with the scan job, the convert task and the dialogs.
  std::string m_strCmdLine;
  ValueGetter m_ValueGetter;
  HMODULE m_hResDll;
  std::string m_strNetworkPrefix;
  int m_nFileType;
  int m_nTask;
  int m_nHide;
  std::vector<std::string> m_saScanFiles;
  // Output names the user (or "OverWrite") agreed to replace: the new file takes their place at the
  // move, atomically, so the old one stays until the new one is complete.
  std::vector<std::string> m_saReplaceable;
  int m_nPageCount;

 private:
  // Steps of InitInstance; they log under InitInstance's tracer.
  void SelectQuickSet(DebugTrace& trace);
  void ReadHideMask();
  // True when this run must show no message box at all, as far as is known before the resource
  // library and the current Quick Set: task 8, or a hide mask with every bit set.
  bool IsQuietRun();
  void RunDeviceSetupDialog(DebugTrace& trace);
  void RunInteractive(DebugTrace& trace);
  void RunPoll(DebugTrace& trace);
  void ReleaseResourceDll();
};

// The application object of the process (null before it is constructed).
ScanApp* GetScanApp();
