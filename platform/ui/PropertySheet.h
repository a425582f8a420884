// CPropertySheet: a property sheet in wizard mode. Pages are added in order and identified by their
// template numbers; Back, Next, Finish and Cancel run the page handlers and move between pages by their
// results. As in the common controls, Next and Finish call the page's OnKillActive (data exchange)
// before OnWizardNext / OnWizardFinish, so a refusal stops before the page's handler; Back calls
// OnWizardBack first and OnKillActive only when there is a page to go to. DoModal returns ID_WIZFINISH
// (12325) after Finish, IDCANCEL after Cancel, any value a page gives EndDialog (the system uses -10), or -1
// when no page can be shown. A page result that names a template the sheet does not hold keeps the current
// page, and nothing is logged: a wizard built without some optional pages simply stays where it is.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/DialogView.h"
#include "platform/ui/PropertyPage.h"

class CPropertySheet : public CWnd {
 public:
  explicit CPropertySheet(const std::string& caption = "", CWnd* parent = nullptr, UINT selectPage = 0);
  // Caption from the resource library's string table.
  explicit CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
  ~CPropertySheet() override;

  void AddPage(CPropertyPage* page);
  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  CPropertyPage* GetPage(int index) const;
  CPropertyPage* GetActivePage() const { return GetPage(m_nActive); }
  int GetActiveIndex() const { return m_nActive; }
  int GetPageIndex(CPropertyPage* page) const;
  // Index of the page built from this template, or -1.
  int IndexOfTemplate(LRESULT templateId) const;
  BOOL SetActivePage(int index);
  void SetWizardMode() { m_bWizard = true; }
  void SetWizardButtons(DWORD flags);
  DWORD GetWizardButtons() const { return m_nButtons; }
  void SetFinishText(const std::string& text);
  const std::string& GetFinishText() const { return m_strFinishText; }
  // The buttons as the user sees them (Finish replaces Next when the page offers it).
  bool CanBack() const { return (m_nButtons & PSWIZB_BACK) != 0; }
  bool CanNext() const;
  bool ShowsFinish() const;
  bool CanFinish() const;

  virtual INT_PTR DoModal();
  void EndDialog(int result);
  // Presses a wizard button (PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL). False when the button
  // is not available.
  BOOL PressButton(int button);

  bool IsEnded() const { return m_bEnded; }
  // Counts page activations, so a host sees a page shown again.
  int GetActivationCount() const { return m_nActivations; }
  INT_PTR GetResult() const { return m_nResult; }
  void SetView(DialogView* view) { m_pView = view; }
  DialogView* GetView() const { return m_pView; }
  void SetWindowText(const std::string& text) override;
  // Largest page in dialog units (the sheet's page area).
  void PageArea(int& cx, int& cy) const;

 private:
  bool Activate(int index, int direction);
  void Go(LRESULT result, int direction, bool leftAlready);
  void SheetChanged();

  std::vector<CPropertyPage*> m_pages;
  int m_nActive = -1;
  UINT m_nStartPage = 0;
  DWORD m_nButtons = PSWIZB_BACK | PSWIZB_NEXT;
  std::string m_strFinishText;
  bool m_bWizard = false;
  bool m_bEnded = false;
  INT_PTR m_nResult = 0;
  int m_nActivations = 0;
  DialogView* m_pView = nullptr;
};
