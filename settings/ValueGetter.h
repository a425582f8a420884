// ValueGetter: where a setting comes from. A command-line option of the same name wins for one run,
// then the Quick Set record (a subkey of the main key), then the caller's default. Also the main-key
// values, the product's device key and the small path, file-name and system services of the program.
// Callers: start-up, scan job, wizard, device code. Every instance copies the framework's command line
// when it is constructed; options use the prefix "/" and case-sensitive names.
// The settings operations live in settings/; the services (file types, folders, names, identity,
// processes) are implemented in app/.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"
#include "settings/SettingsSchema.h"

class CComboBox;  // the ui layer's combo box control

// Named choices of the services below, so that a call never reads f(x, true, false).
enum class FileDialogKind { kOpen, kSave };
// Which types the file dialog's filter offers. All files leaves the type as it was; otherwise the
// chosen filter decides it.
enum class FileDialogFilter {
  kEveryTypeButPdf,  // the whole table except 146
  kEveryType,        // the whole table
  kOnlyThisType,     // the given type alone
  kAllFiles,         // "*.*"
};
enum class MissingFolder { kCreate, kAskFirst };  // ValidateDir: create it at once or ask the user
enum class FinalSlash { kAdd, kRequired };        // ValidateDir: add a missing last "/" or refuse
enum class MissingMainKey { kCreate, kFail };     // SetMainStr

class ValueGetter {
 public:
  ValueGetter();  // takes the framework's command line (AfxGetApp()->m_lpCmdLine)
  explicit ValueGetter(const std::string& commandLine);
  virtual ~ValueGetter();

  const std::string& GetCommandLine() const { return m_strCmdLine; }

  // --- Options and Quick Set records ---
  bool GetFromCmdLine(const std::string& name, std::string& out, const std::string& defaultValue);
  bool GetFromCmdLine(const std::string& name, int& out, int defaultValue, int min, int max);
  bool GetFromReg(const std::string& name, std::string& out, const std::string& qs,
                  const std::string& defaultValue);
  bool GetFromReg(const std::string& name, int& out, const std::string& qs, int defaultValue, int min,
                  int max);
  bool GetSetting(const std::string& name, std::string& out, const std::string& qs,
                  const std::string& defaultValue);
  bool GetSetting(const std::string& name, int& out, const std::string& qs, int defaultValue, int min,
                  int max);
  bool GetSetting(const std::string& name, bool& out, const std::string& qs, bool defaultValue);
  bool SetSetting(const std::string& name, const std::string& value, const std::string& qs);
  bool SetSetting(const std::string& name, int value, const std::string& qs);
  bool SetSetting(const std::string& name, bool value, const std::string& qs);
  // The same through a schema declaration.
  bool GetSetting(const settings::StrValue& value, std::string& out, const std::string& qs);
  bool GetSetting(const settings::IntValue& value, int& out, const std::string& qs);
  bool GetSetting(const settings::BoolValue& value, bool& out, const std::string& qs);
  bool GetFromCmdLine(const settings::StrValue& value, std::string& out);
  bool GetFromCmdLine(const settings::IntValue& value, int& out);
  bool SetSetting(const settings::StrValue& value, const std::string& text, const std::string& qs);
  bool SetSetting(const settings::IntValue& value, int number, const std::string& qs);
  bool SetSetting(const settings::BoolValue& value, bool flag, const std::string& qs);

  // --- Main key and product key ---
  int GetMainInt(const std::string& name, int defaultValue);
  int GetMainInt(const settings::DwordValue& value) { return GetMainInt(value.pszName, value.nDefault); }
  bool SetMainInt(const std::string& name, int value);
  std::string GetMainStr(const std::string& name);
  bool SetMainStr(const std::string& name, const std::string& value, MissingMainKey missing);
  std::string GetProductPortStr(const std::string& name);
  std::string GetProductPortStr(const settings::StrValue& value) { return GetProductPortStr(value.pszName); }
  // "SOFTWARE\Nexora\" + resource string 230 (the application name when the string is missing).
  std::string GetMainKeyPath();

  // --- Path, file-name and system services (implemented in app/) ---
  int ConvertExtToType(const std::string& ext);
  std::string ConvertTypeToExt(int type);
  bool LoadFileTypeControl(CComboBox* combo, int type);
  bool ShowFileDialog(FileDialogKind kind, std::string& fileName, int& type, std::string& folder,
                      FileDialogFilter filter);
  int CheckQualityLevel(int quality, int type);
  bool IsMultiPageSupported(int type);
  void GetTempDirectory(std::string& folder);
  bool GetDataDirectory(std::string& folder);
  void GetTempFilename(std::string& name, const std::string& ext, const std::string& folder);
  void GetTempFilename(std::string& name, int type, const std::string& folder);
  bool ValidateDir(std::string& folder, MissingFolder absent, FinalSlash slash);
  bool FindPathFromExe(std::string& path, const std::string& exeName, const std::string& valueName);
  // invalid receives the first invalid character: its whole UTF-8 sequence, or the one byte that does
  // not decode.
  bool FindInvalidChar(const std::string& text, std::string& invalid);
  void GetNetworkPrefix(std::string& prefix);
  void DetermineUniquePcName(std::string& name);
  bool IsNetworked();
  bool IsScanToAvailable();
  bool IsDupDevName(const std::string& deviceName, const std::string& qs);
  bool CreateProcess(const std::string& commandLine, const std::string& failureText);

 private:
  std::string m_strCmdLine;
  std::string m_strPrefix;
};
