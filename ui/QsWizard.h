// CQsWizard: the Quick Set wizard. A property sheet in wizard mode that owns the in-memory copy of one
// Quick Set (QsWizardData), loads it from and saves it to the settings store, decides the page order
// and deletes Quick Sets. The main dialog and the device setup dialog run it modally and read back
// Mode, the Quick Set name, DevDest and AddToDevice. Results: ID_WIZFINISH (12325), IDCANCEL (2), and
// kResultDeviceDestinations (-10) when the user chose the device's destination list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/PropertySheet.h"
#include "pxclass/PxFileTypes.h"
#include "settings/ValueGetter.h"

class CListBox;
class DebugTrace;

class PPSetup;
class PPModify;
class PPDelete;
class PPDestination;
class PPSettings;
class PPEmail;
class PPFile;
class PPApp;
class PPFileAttrib;
class PPSave;
class PPFinish;

enum WizardMode : int32_t {
  ChooseTask = 0,
  OneTimeScan = 3,
  NewQs = 4,
  ModifyQs = 5,
  RemoveQs = 6,
  DeviceDestinations = 7,
  Review = 9,
};

// The Quick Set copy the pages edit; registry value names in the comments.
struct QsWizardData {
  bool m_bAddToDevice = false;         // "AddToDevice"
  bool m_bIsMetric = false;            // "IsMetric"
  bool DontPromptForFilename = false;  // "Hide" bit 0x1000 set
  bool ShowMailDialog = true;          // "Hide" bit 0x10000 clear
  bool UseScannerSettings = false;     // "Hide" bit 0x10 clear
  int32_t m_nDest = 0;                 // "Dest": 0 file, 1 e-mail, 2 application
  int32_t m_nPaperSize = 0;            // "PaperSize": 29 is the custom size
  int16_t m_nBitDepth = 24;            // "BitDepth"
  int16_t m_nType = PX_TYPE_JPEG;      // "Type"
  int32_t m_nQuality = -1;             // "Quality": -1 not yet chosen
  int16_t m_nRes = 150;                // "Res"
  std::string m_strAppExe;             // "AppExe"
  std::string m_strOcr;                // "Ocr": OCR languages of a searchable PDF, empty off
  std::string m_strAttachName;         // "AttachName", kept as stored
  std::string m_strDevDest;            // "DevDest"
  std::string m_strNote;               // "Note"
  std::string m_strDir;                // "Dir"
  std::string m_strOutFile;            // "OutFile"
  std::string m_strQsName;             // the Quick Set's section name
  std::string m_strSubject;            // "Subject"
  std::string m_strTo;                 // "To"
  int32_t m_nInX = 0;                  // "InX", twips
  int32_t m_nInY = 0;                  // "InY", twips
  bool m_bSkipBlank = false;           // "SkipBlank"
  bool m_bCropBorder = false;          // "CropBorder"
  bool m_bUpright = false;             // "Upright"
  bool m_bDeskew = false;              // "Deskew"
};

// Page codes the pages pass to GetNextPage / GetPreviousPage.
enum QsPageCode : int {
  kPageSetup = 0,
  kPageModify = 1,
  kPageDelete = 2,
  kPageDestination = 3,
  kPageSettings = 4,
  kPageEmail = 5,
  kPageFile = 6,
  kPageApp = 7,
  kPageFileAttrib = 8,
  kPageSave = 9,
  kPageFinish = 10,
};

// Dialog templates of the pages (the values GetNextPage and GetPreviousPage return).
enum QsPageTemplate : int {
  IDD_PP_SETUP = 145,
  IDD_PP_MODIFY = 141,
  IDD_PP_DELETE = 140,
  IDD_PP_DESTINATION = 130,
  IDD_PP_SETTINGS = 131,
  IDD_PP_EMAIL = 133,
  IDD_PP_FILE = 132,
  IDD_PP_APP = 134,
  IDD_PP_FILEATTRIB = 150,
  IDD_PP_SAVE = 137,
  IDD_PP_FINISH = 139,
};

inline constexpr int kResultDeviceDestinations = -10;

class CQsWizard : public CPropertySheet, public QsWizardData {
 public:
  CQsWizard(UINT captionId, WizardMode mode, const std::string& qsName, CWnd* parent = nullptr,
            UINT selectPage = 0);
  ~CQsWizard() override;

  void GetFinishBtnText(std::string& text);
  bool FindLocalInfo(int& paperCode, bool& metric);
  void LoadSettings();
  void SelectQs(const std::string& name);
  bool SaveSettings();
  LRESULT GetNextPage(int pageCode);
  LRESULT GetPreviousPage(int pageCode);
  bool DeleteQs(const std::string& name);
  // Template of the destination page for the current Dest.
  LRESULT DestinationPage() const;
  static bool HasAttributes(int type) {
    return type == PX_TYPE_JPEG || type == PX_TYPE_PNG || type == PX_TYPE_PDF;
  }

  std::vector<std::string> m_QsNames;
  WizardMode m_nMode;
  ValueGetter m_ValueGetter;

  // Seams for tests: the scan-to check and the locale's country code.
  static void SetScanToAvailableForTest(int available);  // -1: ask ValueGetter
  static void SetCountryCodeForTest(int code);           // 0: ask the locale
  bool ScanToAvailable();

 private:
  std::unique_ptr<PPSetup> m_pSetup;
  std::unique_ptr<PPModify> m_pModify;
  std::unique_ptr<PPDelete> m_pDelete;
  std::unique_ptr<PPDestination> m_pDestination;
  std::unique_ptr<PPSettings> m_pSettings;
  std::unique_ptr<PPEmail> m_pEmail;
  std::unique_ptr<PPFile> m_pFile;
  std::unique_ptr<PPApp> m_pApp;
  std::unique_ptr<PPFileAttrib> m_pFileAttrib;
  std::unique_ptr<PPSave> m_pSave;
  std::unique_ptr<PPFinish> m_pFinish;
};

// The wizard that owns a page (null outside a wizard).
CQsWizard* WizardOf(const CPropertyPage* page);

// The list of the modify and delete pages: every saved Quick Set (the scratch one left out), wide enough
// to scroll sideways for long names.
void FillSavedQuickSets(const CPropertyPage* page, CListBox& list, DebugTrace& trace);
