#include "platform/ui/PropertySheet.h"

#include <algorithm>

#include "platform/resource/Resource.h"
#include "platform/ui/UiHost.h"

CPropertySheet::CPropertySheet(const std::string& caption, CWnd* parent, UINT selectPage)
    : m_nStartPage(selectPage) {
  m_strText = caption;
}

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage) : m_nStartPage(selectPage) {
  platform::resource::LoadString(platform::ui::ResourceModule(), captionId, m_strText);
}

CPropertySheet::~CPropertySheet() = default;

void CPropertySheet::AddPage(CPropertyPage* page) {
  if (page == nullptr) return;
  page->SetSheet(this);
  m_pages.push_back(page);
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? m_pages[static_cast<std::size_t>(index)] : nullptr;
}

int CPropertySheet::GetPageIndex(CPropertyPage* page) const {
  auto it = std::find(m_pages.begin(), m_pages.end(), page);
  return it == m_pages.end() ? -1 : static_cast<int>(it - m_pages.begin());
}

int CPropertySheet::IndexOfTemplate(LRESULT templateId) const {
  for (int i = 0; i < GetPageCount(); ++i)
    if (static_cast<LRESULT>(m_pages[static_cast<std::size_t>(i)]->GetTemplateId()) == templateId) return i;
  return -1;
}

bool CPropertySheet::CanNext() const {
  return !ShowsFinish() && (m_nButtons & PSWIZB_NEXT) != 0;
}

bool CPropertySheet::ShowsFinish() const {
  return !m_strFinishText.empty() || (m_nButtons & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) != 0;
}

bool CPropertySheet::CanFinish() const {
  return !m_strFinishText.empty() || (m_nButtons & PSWIZB_FINISH) != 0;
}

void CPropertySheet::SetWizardButtons(DWORD flags) {
  m_nButtons = flags;
  SheetChanged();
}

void CPropertySheet::SetFinishText(const std::string& text) {
  m_strFinishText = text;
  SheetChanged();
}

void CPropertySheet::SetWindowText(const std::string& text) {
  m_strText = text;
  SheetChanged();
}

void CPropertySheet::SheetChanged() {
  if (m_pView != nullptr) m_pView->SheetChanged();
}

void CPropertySheet::PageArea(int& cx, int& cy) const {
  cx = cy = 0;
  for (CPropertyPage* p : m_pages) {
    const M3ResDialog* t = platform::resource::FindDialog(platform::ui::ResourceModule(), p->GetTemplateId());
    if (t == nullptr) continue;
    cx = std::max<int>(cx, t->cx);
    cy = std::max<int>(cy, t->cy);
  }
}

bool CPropertySheet::Activate(int index, int direction) {
  for (int i = index; i >= 0 && i < GetPageCount(); i += direction) {
    CPropertyPage* page = GetPage(i);
    if (!page->Open()) return false;
    // A Finish text belongs to the page that set it: the next page starts without it.
    const int previous = m_nActive;
    m_nActive = i;
    m_strFinishText.clear();
    if (page->OnSetActive()) {
      ++m_nActivations;
      SheetChanged();
      return true;
    }
    m_nActive = previous;
    if (m_bEnded) return true;
  }
  return false;
}

BOOL CPropertySheet::SetActivePage(int index) {
  if (GetPage(index) == nullptr) return FALSE;
  if (m_nActive == -1) {
    m_nStartPage = static_cast<UINT>(index);
    return TRUE;
  }
  return Activate(index, +1) ? TRUE : FALSE;
}

void CPropertySheet::Go(LRESULT result, int direction, bool leftAlready) {
  if (result == -1 || m_bEnded) return;
  const int target = result == 0 ? m_nActive + direction : IndexOfTemplate(result);
  if (GetPage(target) == nullptr) return;
  if (!leftAlready && !GetActivePage()->OnKillActive()) return;
  Activate(target, target >= m_nActive ? +1 : -1);
}

BOOL CPropertySheet::PressButton(int button) {
  if (m_bEnded || GetActivePage() == nullptr) return FALSE;
  switch (button) {
    case PSBTN_BACK:
      // Back asks the page first and lets it go (kill-active) only when there is a page to go to.
      if (!CanBack()) return FALSE;
      Go(GetActivePage()->OnWizardBack(), -1, false);
      return TRUE;
    case PSBTN_NEXT:
      // Next and Finish let the page go first: a refused exchange stops before the page's handler.
      if (!CanNext()) return FALSE;
      if (!GetActivePage()->OnKillActive()) return TRUE;
      Go(GetActivePage()->OnWizardNext(), +1, true);
      return TRUE;
    case PSBTN_FINISH:
      if (!CanFinish()) return FALSE;
      if (!GetActivePage()->OnKillActive()) return TRUE;
      if (GetActivePage()->OnWizardFinish() && !m_bEnded) EndDialog(ID_WIZFINISH);
      return TRUE;
    case PSBTN_CANCEL:
      if (GetActivePage()->OnQueryCancel() && !m_bEnded) EndDialog(IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

void CPropertySheet::EndDialog(int result) {
  m_bEnded = true;
  m_nResult = result;
  if (m_pView != nullptr) m_pView->Ended(result);
}

INT_PTR CPropertySheet::DoModal() {
  m_bEnded = false;
  m_nResult = 0;
  m_nActive = -1;
  m_nButtons = PSWIZB_BACK | PSWIZB_NEXT;
  m_strFinishText.clear();
  if (!Activate(static_cast<int>(m_nStartPage), +1)) return -1;
  if (m_bEnded) return m_nResult;
  return platform::ui::Host().RunSheet(*this);
}
