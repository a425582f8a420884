// Every registry value and option of the program, declared once: name, type (the declaration's kind),
// default, accepted range, unit and meaning. Callers: ValueGetter users (start-up, scan job, convert
// task, wizard, device code) read and write through these; no file outside settings/ spells a value's
// name (tests/settings/SchemaTest.cpp checks both rules).
// Quick Set values are stored as text through the profile calls (ints as decimal, bools as "0"/"1");
// "Task" and the DWORD main values go through MyReg.
// Where readers differ in their default or range, the one declaration carries a reader table
// (aReaders) and such a reader asks for its view with For(Reader::...), e.g. "Type" at start-up.
// A default known only at run time (the locale's paper size) is given with WithDefault().
// To add a value: one line at the end of its block, in the form of its neighbours, for example
//   inline constexpr BoolValue kQsNewFlag{"NewFlag", false, "what it means"};
//   inline constexpr IntValue kQsNewCount{"NewCount", 1, 0, 99, "pages", "what it means"};
// with a name no other declaration uses; then read it with GetSetting(settings::kQsNewFlag, ...).
#pragma once

#include <climits>

namespace settings {

// The main key: HKEY_CURRENT_USER, kMainKeyBase + "\" + resource string 230.
inline constexpr const char* kMainKeyBase = "SOFTWARE\\Nexora";
inline constexpr const char* kRegistryKey = "Nexora";
// HKEY_LOCAL_MACHINE, written by the product's installer and only read here.
inline constexpr const char* kProductKey = "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port";
inline constexpr const char* kKnownProduct = "Kyte";

inline constexpr int kAnyMin = INT_MIN;
inline constexpr int kAnyMax = INT_MAX;
inline constexpr int kHideAll = 0x11111111;  // 286331153

// The readers whose default or range differs from a declaration's own.
enum class Reader : unsigned char {
  kAny,         // the declaration's own default and range (the scan job's)
  kStartup,     // ScanApp::InitInstance
  kOutputName,  // GetOutFileName (file delivery, convert task), when the file type is still 0
  kWizard,      // CQsWizard::LoadSettings
  kWizardSave,  // CQsWizard::SaveSettings, reading "Hide" before it sets its bits
};

struct IntRule {
  Reader reader = Reader::kAny;
  int nDefault = 0;
  int nMin = kAnyMin;
  int nMax = kAnyMax;
};

struct IntValue {
  const char* pszName;
  int nDefault;
  int nMin = kAnyMin;
  int nMax = kAnyMax;
  const char* pszUnit = "";
  const char* pszMeaning = "";
  IntRule aReaders[3] = {};

  // The value as that reader reads it: its own default and range when the table has it.
  constexpr IntValue For(Reader reader) const {
    IntValue view = *this;
    for (const IntRule& rule : aReaders) {
      if (reader == Reader::kAny || rule.reader != reader) continue;
      view.nDefault = rule.nDefault;
      view.nMin = rule.nMin;
      view.nMax = rule.nMax;
    }
    return view;
  }
  constexpr IntValue WithDefault(int value) const {
    IntValue copy = *this;
    copy.nDefault = value;
    return copy;
  }
};

struct StrValue {
  const char* pszName;
  const char* pszDefault;
  const char* pszMeaning = "";
};

struct BoolValue {
  const char* pszName;
  bool bDefault;
  const char* pszMeaning = "";

  constexpr BoolValue WithDefault(bool value) const { return {pszName, value, pszMeaning}; }
};

struct DwordValue {  // main-key DWORD
  const char* pszName;
  int nDefault;
  const char* pszMeaning = "";
};

// Hide mask digits (one flag per hexadecimal digit).
inline constexpr int kHideMainDialog = 0x1;
inline constexpr int kHideScannerDialog = 0x10;
inline constexpr int kHideUiMode2 = 0x100;
inline constexpr int kHideFilePrompts = 0x1000;
inline constexpr int kHideMailWindow = 0x10000;
inline constexpr int kHideAnotherPage = 0x100000;

// Main values.
inline constexpr StrValue kMainQs{"Qs", "", "the current (last used) Quick Set; also an option"};
// Also an option, read first; an empty option falls to this value, and an empty value to "Kyte".
inline constexpr StrValue kMainProductToUse{"ProductToUse", "Kyte", "product code: the product key"};
inline constexpr DwordValue kMainScanToOn{"ScanToOn", -1, "device scans served; -1 undecided"};
inline constexpr StrValue kMainToolboxId{"ToolboxId", "", "the device address as given in \"DevAddr\""};
inline constexpr StrValue kMainToolboxExe{"ToolboxExe", "", "full path of the device monitor"};
inline constexpr StrValue kMainDestPrefix{"DestPrefix", "", "this computer's destination-name prefix"};
inline constexpr StrValue kMainUniquePcName{"UniquePcName", "", "this computer's host ID"};
inline constexpr DwordValue kMainLastTmpNum{"LastTmpNum", 0, "number of the last temporary scan file"};
inline constexpr DwordValue kMainDontShowMultiFileWarn{"DontShowMultiFileWarn", 0,
                                                       "1: no several-files warning"};
inline constexpr DwordValue kMainUsbWait{"UsbWait", 200, "milliseconds to wait before each USB read"};

// Options that are only ever given on the command line.
inline constexpr StrValue kOptDevAddr{"DevAddr", "", "the device address the device monitor passes"};
// The option names the task to run; a saved Quick Set's record holds the same name as a DWORD,
// always kQsTaskSaved (the main dialog's entry task).
inline constexpr IntValue kOptTask{"Task", 3, kAnyMin, kAnyMax, "task number", "the task to run"};
inline constexpr IntValue kOptPoll{"Poll", 0, kAnyMin, kAnyMax, "", "task 10: the new \"ScanToOn\""};
inline constexpr IntValue kOptLogDebug{"LogDebug", 1, kAnyMin, kAnyMax, "log level", "diagnostic log level"};
inline constexpr IntValue kOptShowDebug{"ShowDebug", 0, kAnyMin, kAnyMax, "", "present: errors in boxes"};
// The convert task's inputs and outputs, normally options.
inline constexpr StrValue kOptInFile{"InFile", "", "the input; empty: \"InFile1\".. name them"};
inline constexpr IntValue kOptNumInFiles{"NumInFiles", 1, kAnyMin, kAnyMax, "files", "\"InFile\" numbered"};
inline constexpr IntValue kOptType2{"Type2", 0, kAnyMin, kAnyMax, "file type code", "second output type"};
inline constexpr StrValue kOptExt2{"Ext2", "", "second output's extension; empty: \"Type2\"'s"};
inline constexpr IntValue kOptMfpDtf{"MfpDtf", 0, kAnyMin, kAnyMax, "", "not 0: inputs are wrapped fax"};
inline constexpr IntValue kOptOutX{"OutX", -1, kAnyMin, kAnyMax, "pixels", "output width"};
inline constexpr IntValue kOptOutY{"OutY", -1, kAnyMin, kAnyMax, "pixels", "output height"};
inline constexpr IntValue kOptOutX2{"OutX2", -1, kAnyMin, kAnyMax, "pixels", "second output width"};
inline constexpr IntValue kOptOutY2{"OutY2", -1, kAnyMin, kAnyMax, "pixels", "second output height"};

// Quick Set values.
inline constexpr const char* kQsTask = kOptTask.pszName;  // the DWORD "Task": see kOptTask
inline constexpr int kQsTaskSaved = 2;
inline constexpr IntValue kQsDest{"Dest", 0, kAnyMin, kAnyMax, "", "0 file, 1 e-mail, 2 application"};
inline constexpr StrValue kQsDevDest{"DevDest", "", "the name shown on the device's panel"};
inline constexpr StrValue kQsDevDestOld{"DevDestOld", "", "\"DevDest\" before the last edit"};
inline constexpr BoolValue kQsAddToDevice{"AddToDevice", false, "publish this Quick Set to the device"};
inline constexpr BoolValue kQsAddToDeviceOld{"AddToDeviceOld", false, "\"AddToDevice\" before the last edit"};
// The hide mask: one kHide* flag a hexadecimal digit.
inline constexpr IntValue kQsHide{
    "Hide", 16, 0, kHideAll, "flags", "hide mask", {{Reader::kWizard, 16}, {Reader::kWizardSave, 0}}};
inline constexpr IntValue kQsType{"Type",
                                  10,
                                  kAnyMin,
                                  kAnyMax,
                                  "file type code",
                                  "output file type",
                                  {{Reader::kStartup, 0}, {Reader::kOutputName, 0}}};
inline constexpr IntValue kQsQuality{"Quality", -1, kAnyMin, kAnyMax, "", "compression; -1 not chosen"};
inline constexpr IntValue kQsRes{"Res", 150, kAnyMin, kAnyMax, "dots per inch", "scan resolution"};
inline constexpr IntValue kQsBitDepth{"BitDepth", 24, kAnyMin, kAnyMax, "bits per pixel", "1, 8 or 24"};
// 1 to 28; 0, below 0 or 29: the custom area "InX" by "InY". The wizard's default is the locale's.
inline constexpr IntValue kQsPaperSize{"PaperSize", 0, kAnyMin, kAnyMax, "paper code", "paper size"};
inline constexpr IntValue kQsInX{
    "InX", -1, kAnyMin, kAnyMax, "1/1440 inch", "custom area width", {{Reader::kWizard, 0}}};
inline constexpr IntValue kQsInY{
    "InY", -1, kAnyMin, kAnyMax, "1/1440 inch", "custom area height", {{Reader::kWizard, 0}}};
// The wizard's default is the locale's choice (WithDefault).
inline constexpr BoolValue kQsIsMetric{"IsMetric", false, "show sizes in metric units"};
inline constexpr IntValue kQsBright{"Bright", 2000, -1000, 1000, "", "brightness; 2000: the scanner's own"};
inline constexpr IntValue kQsContrast{"Contrast", 2000, -1000, 1000, "", "contrast; 2000: the scanner's own"};
inline constexpr StrValue kQsTwainSrc{"TwainSrc", "", "TWAIN source; empty: the product's own"};
inline constexpr StrValue kQsDir{"Dir", "", "output folder (file) or working folder (application)"};
inline constexpr StrValue kQsOutFile{"OutFile", "", "output file name"};
inline constexpr BoolValue kQsOverWrite{"OverWrite", false, "replace an existing output without asking"};
inline constexpr StrValue kQsTo{"To", "", "e-mail recipients"};
inline constexpr StrValue kQsSubject{"Subject", "", "e-mail subject"};
inline constexpr StrValue kQsNote{"Note", "", "e-mail body text"};
inline constexpr StrValue kQsAttachName{"AttachName", "", "base name of the e-mail attachments"};
inline constexpr StrValue kQsAppExe{"AppExe", "", "the application that receives the scan"};
inline constexpr IntValue kQsSleep{"Sleep", 1500, 0, kAnyMax, "milliseconds", "between application starts"};
inline constexpr StrValue kQsOcr{"Ocr", "", "OCR languages of searchable PDFs (\"deu+eng\"); empty: off"};
inline constexpr BoolValue kQsSkipBlank{"SkipBlank", false, "leave out blank pages of a batch"};
inline constexpr BoolValue kQsCropBorder{"CropBorder", false, "cut dark borders off each page"};
inline constexpr BoolValue kQsUpright{"Upright", false, "turn pages upright by their text"};
inline constexpr BoolValue kQsDeskew{"Deskew", false, "straighten skewed pages"};

// Product key values, read with GetProductPortStr and never written.
inline constexpr StrValue kPortConnectionType{"Connection Type", "", "\"Network\" or \"Direct\""};
inline constexpr StrValue kPortIpAddress{"IP Address", "", "the networked device's IP address"};
inline constexpr StrValue kPortHostname{"Hostname", "", "the networked device's host name"};
inline constexpr StrValue kPortPort{"Port", "", "the directly connected device's port"};
inline constexpr StrValue kPortTwain{"TWAIN", "", "the product's TWAIN source, without \" TWAIN\""};

// The OCR application's own key (HKEY_LOCAL_MACHINE), only read.
inline constexpr const char* kIrisKey = "SOFTWARE\\I.R.I.S.\\Readiris\\10.0";
inline constexpr StrValue kIrisCompleteInstall{"CompleteInstall", "", "\"1\": installed completely"};
inline constexpr StrValue kIrisPath{"Path", "", "the application's folder"};

}  // namespace settings
