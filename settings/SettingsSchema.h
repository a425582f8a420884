// Every registry value of the program, declared once: name, type, default and accepted range.
// Callers: ValueGetter users (start-up, scan job, wizard, device code) read and write through these.
// Quick Set values are stored as text through the profile calls (ints as decimal, bools as "0"/"1");
// "Task" and the DWORD main values go through MyReg. Where readers differ in their default, each
// reader has its own declaration (for example "Type" at start-up and at scan time).
#pragma once

#include <climits>

namespace settings {

// The main key: HKEY_CURRENT_USER, kMainKeyBase + "\" + resource string 230.
inline constexpr const char* kMainKeyBase = "SOFTWARE\\Nexora";
inline constexpr const char* kRegistryKey = "Nexora";
// HKEY_LOCAL_MACHINE, written by the product's installer and only read here.
inline constexpr const char* kProductKey = "SOFTWARE\\Nexora\\NX_Pressline_M10_M12_M15_M30\\Port";
inline constexpr const char* kKnownProduct = "Kyte";

struct IntValue {
  const char* pszName;
  int nDefault;
  int nMin;
  int nMax;
};

struct StrValue {
  const char* pszName;
  const char* pszDefault;
};

struct BoolValue {
  const char* pszName;
  bool bDefault;
};

struct DwordValue {  // main-key DWORD
  const char* pszName;
  int nDefault;
};

inline constexpr int kAnyMin = INT_MIN;
inline constexpr int kAnyMax = INT_MAX;
inline constexpr int kHideAll = 0x11111111;  // 286331153

// Hide mask digits (one flag per hexadecimal digit).
inline constexpr int kHideMainDialog = 0x1;
inline constexpr int kHideScannerDialog = 0x10;
inline constexpr int kHideUiMode2 = 0x100;
inline constexpr int kHideFilePrompts = 0x1000;
inline constexpr int kHideMailWindow = 0x10000;
inline constexpr int kHideAnotherPage = 0x100000;

// Main values.
inline constexpr StrValue kMainQs{"Qs", ""};
inline constexpr StrValue kMainProductToUse{"ProductToUse", "Kyte"};
inline constexpr DwordValue kMainScanToOn{"ScanToOn", -1};
inline constexpr StrValue kMainToolboxId{"ToolboxId", ""};
inline constexpr StrValue kMainToolboxExe{"ToolboxExe", ""};
inline constexpr StrValue kMainDestPrefix{"DestPrefix", ""};
inline constexpr StrValue kMainUniquePcName{"UniquePcName", ""};
inline constexpr DwordValue kMainLastTmpNum{"LastTmpNum", 0};
inline constexpr DwordValue kMainDontShowMultiFileWarn{"DontShowMultiFileWarn", 0};
inline constexpr DwordValue kMainUsbWait{"UsbWait", 200};

// Options that are only ever given on the command line.
inline constexpr StrValue kOptDevAddr{"DevAddr", ""};
inline constexpr IntValue kOptTask{"Task", 3, kAnyMin, kAnyMax};
inline constexpr IntValue kOptPoll{"Poll", 0, kAnyMin, kAnyMax};
inline constexpr IntValue kOptLogDebug{"LogDebug", 1, kAnyMin, kAnyMax};
inline constexpr IntValue kOptShowDebug{"ShowDebug", 0, kAnyMin, kAnyMax};
inline constexpr StrValue kOptProductToUse{"ProductToUse", ""};

// Quick Set values.
inline constexpr const char* kQsTask = "Task";  // DWORD, 2 for every saved Quick Set
inline constexpr int kQsTaskSaved = 2;
inline constexpr IntValue kQsDest{"Dest", 0, kAnyMin, kAnyMax};
inline constexpr StrValue kQsDevDest{"DevDest", ""};
inline constexpr StrValue kQsDevDestOld{"DevDestOld", ""};
inline constexpr BoolValue kQsAddToDevice{"AddToDevice", false};
inline constexpr BoolValue kQsAddToDeviceOld{"AddToDeviceOld", false};
inline constexpr IntValue kQsHide{"Hide", 16, 0, kHideAll};
inline constexpr IntValue kQsHideWizard{"Hide", 16, kAnyMin, kAnyMax};
inline constexpr IntValue kQsType{"Type", 10, kAnyMin, kAnyMax};
inline constexpr IntValue kQsTypeAtStartup{"Type", 0, kAnyMin, kAnyMax};
inline constexpr IntValue kQsQuality{"Quality", -1, kAnyMin, kAnyMax};
inline constexpr IntValue kQsRes{"Res", 150, kAnyMin, kAnyMax};
inline constexpr IntValue kQsBitDepth{"BitDepth", 24, kAnyMin, kAnyMax};
inline constexpr IntValue kQsPaperSize{"PaperSize", 0, kAnyMin, kAnyMax};
inline constexpr IntValue kQsInX{"InX", -1, kAnyMin, kAnyMax};
inline constexpr IntValue kQsInY{"InY", -1, kAnyMin, kAnyMax};
inline constexpr IntValue kQsInXWizard{"InX", 0, kAnyMin, kAnyMax};
inline constexpr IntValue kQsInYWizard{"InY", 0, kAnyMin, kAnyMax};
inline constexpr const char* kQsIsMetric = "IsMetric";  // default: the wizard's locale choice
inline constexpr IntValue kQsBright{"Bright", 2000, kAnyMin, kAnyMax};
inline constexpr IntValue kQsContrast{"Contrast", 2000, kAnyMin, kAnyMax};
inline constexpr StrValue kQsTwainSrc{"TwainSrc", ""};
inline constexpr StrValue kQsDir{"Dir", ""};
inline constexpr StrValue kQsOutFile{"OutFile", ""};
inline constexpr BoolValue kQsOverWrite{"OverWrite", false};
inline constexpr StrValue kQsTo{"To", ""};
inline constexpr StrValue kQsSubject{"Subject", ""};
inline constexpr StrValue kQsNote{"Note", ""};
inline constexpr StrValue kQsAttachName{"AttachName", ""};
inline constexpr StrValue kQsAppExe{"AppExe", ""};
inline constexpr IntValue kQsSleep{"Sleep", 1500, kAnyMin, kAnyMax};
inline constexpr BoolValue kQsSkipBlank{"SkipBlank", false};
inline constexpr BoolValue kQsCropBorder{"CropBorder", false};
inline constexpr BoolValue kQsUpright{"Upright", false};
inline constexpr BoolValue kQsDeskew{"Deskew", false};

// Product key values.
inline constexpr const char* kPortConnectionType = "Connection Type";
inline constexpr const char* kPortIpAddress = "IP Address";
inline constexpr const char* kPortHostname = "Hostname";
inline constexpr const char* kPortPort = "Port";
inline constexpr const char* kPortTwain = "TWAIN";

}  // namespace settings
