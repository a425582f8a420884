#include "pxclass/PxTwainDialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/resource/Resource.h"
#include "platform/ui/ComboBox.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/ProgressCtrl.h"
#include "platform/ui/SliderCtrl.h"
#include "platform/ui/UiHost.h"
#include "pxclass/PxPageAlloc.h"

namespace {

constexpr double kTwipsPerMm = 1440.0 / 25.4;
constexpr int kWhiteLevel = 230;  // preview pixels at least this bright count as paper

enum : int {
  IDD_SOURCE = 160,
  IDC_MODE = 1601,
  IDC_RESOLUTION = 1602,
  IDC_SOURCE = 1603,
  IDC_LEFT = 1604,
  IDC_TOP = 1605,
  IDC_WIDTH = 1606,
  IDC_HEIGHT = 1607,
  IDC_BRIGHTNESS = 1608,
  IDC_CONTRAST = 1609,
  IDC_PREVIEW = 1610,
  IDC_PREVIEW_TEXT = 1611,
  IDD_CHOOSE = 161,
  IDC_SOURCES = 1612,
  IDD_PROGRESS = 162,
  IDC_PROGRESS_TEXT = 1621,
  IDC_PROGRESS_BAR = 1622,
  IDS_SCANNING_PAGE = 620,
  IDS_CANCELLING = 621,
  IDS_TEXT_PAGE = 622,
};

int ToMm(int twips) {
  return static_cast<int>(twips / kTwipsPerMm + 0.5);
}
int ToTwips(int mm) {
  return static_cast<int>(mm * kTwipsPerMm + 0.5);
}

class SourceDialog : public CDialog {
 public:
  SourceDialog(const std::string& name, const PxTwnDeviceOptions& options, PxTwainProps& props,
               const PxTwainUi::Preview& preview)
      : CDialog(IDD_SOURCE), m_options(options), m_props(props), m_preview(preview) {
    OnClicked(IDC_PREVIEW, [this] { OnPreview(); });
    if (!name.empty()) SetWindowText(name);
  }

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    static const char* const kModes[] = {"Black and white", "Grey", "Colour"};
    auto* mode = GetDlgItemAs<CComboBox>(IDC_MODE);
    for (int type = PX_TWN_PIXEL_BW; type <= PX_TWN_PIXEL_RGB; ++type) {
      if (!(m_options.pixelTypes & (1 << type))) continue;
      const int item = mode->AddString(kModes[type]);
      mode->SetItemData(item, static_cast<DWORD_PTR>(type));
      if (type == m_props.pixelType || mode->GetCurSel() < 0) mode->SetCurSel(item);
    }
    auto* resolution = GetDlgItemAs<CComboBox>(IDC_RESOLUTION);
    int best = -1;
    for (int i = 0; i < m_options.resolutionCount; ++i) {
      const int dpi = m_options.resolutions[i];
      const int item = resolution->AddString(std::to_string(dpi));
      resolution->SetItemData(item, static_cast<DWORD_PTR>(dpi));
      const int want = m_props.resolution > 0 ? m_props.resolution : 150;
      if (best < 0 || std::abs(dpi - want) < std::abs(m_options.resolutions[best] - want)) best = i;
    }
    if (best >= 0) resolution->SetCurSel(best);
    auto* source = GetDlgItemAs<CComboBox>(IDC_SOURCE);
    for (int i = 0; i < m_options.sourceCount; ++i) {
      const std::string name = m_options.sources[i];
      const bool feeder = name.find("eeder") != std::string::npos || name.find("ADF") != std::string::npos;
      const int item = source->AddString(name);
      source->SetItemData(item, feeder ? PX_TWN_SOURCE_FEEDER : PX_TWN_SOURCE_FLATBED);
      if (source->GetCurSel() < 0 || (m_props.feederSource == PX_TWN_SOURCE_FEEDER && feeder))
        source->SetCurSel(item);
    }
    source->EnableWindow(m_options.sourceCount > 1);
    const bool area = m_options.maxWidth > 0;
    SetArea(std::max(0, m_props.left), std::max(0, m_props.top),
            m_props.width > 0 ? m_props.width : m_options.maxWidth,
            m_props.height > 0 ? m_props.height : m_options.maxHeight);
    for (int id : {IDC_LEFT, IDC_TOP, IDC_WIDTH, IDC_HEIGHT}) GetDlgItem(id)->EnableWindow(area);
    SetLevel(IDC_BRIGHTNESS, m_options.hasBrightness, m_props.brightness);
    SetLevel(IDC_CONTRAST, m_options.hasContrast, m_props.contrast);
    // Any device can preview: a low-resolution scan of the whole area, with its preview mode when it has one.
    GetDlgItem(IDC_PREVIEW)->EnableWindow(m_preview != nullptr);
    return TRUE;
  }

  void OnOK() override {
    auto* mode = GetDlgItemAs<CComboBox>(IDC_MODE);
    if (mode->GetCurSel() >= 0) {
      m_props.pixelType = static_cast<int32_t>(mode->GetItemData(mode->GetCurSel()));
      m_props.bitDepth = m_props.pixelType == PX_TWN_PIXEL_BW     ? 1
                         : m_props.pixelType == PX_TWN_PIXEL_GRAY ? 8
                                                                  : 24;
    }
    auto* resolution = GetDlgItemAs<CComboBox>(IDC_RESOLUTION);
    if (resolution->GetCurSel() >= 0)
      m_props.resolution = static_cast<int32_t>(resolution->GetItemData(resolution->GetCurSel()));
    auto* source = GetDlgItemAs<CComboBox>(IDC_SOURCE);
    if (source->GetCurSel() >= 0)
      m_props.feederSource = static_cast<int32_t>(source->GetItemData(source->GetCurSel()));
    if (m_options.maxWidth > 0) {
      const int maxMm = ToMm(std::max(m_options.maxWidth, m_options.maxHeight));
      auto number = [&](int id, int fallback) {
        const std::string text = GetDlgItemText(id);
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        return (text.empty() || *end != '\0' || value < 0 || value > maxMm) ? fallback
                                                                            : static_cast<int>(value);
      };
      m_props.left = ToTwips(number(IDC_LEFT, 0));
      m_props.top = ToTwips(number(IDC_TOP, 0));
      m_props.width = ToTwips(number(IDC_WIDTH, ToMm(m_options.maxWidth)));
      m_props.height = ToTwips(number(IDC_HEIGHT, ToMm(m_options.maxHeight)));
    }
    if (m_options.hasBrightness) m_props.brightness = GetDlgItemAs<CSliderCtrl>(IDC_BRIGHTNESS)->GetPos();
    if (m_options.hasContrast) m_props.contrast = GetDlgItemAs<CSliderCtrl>(IDC_CONTRAST)->GetPos();
    EndDialog(IDOK);
  }

 private:
  void SetArea(int left, int top, int width, int height) {
    SetDlgItemText(IDC_LEFT, std::to_string(ToMm(left)));
    SetDlgItemText(IDC_TOP, std::to_string(ToMm(top)));
    SetDlgItemText(IDC_WIDTH, std::to_string(ToMm(width)));
    SetDlgItemText(IDC_HEIGHT, std::to_string(ToMm(height)));
  }

  void SetLevel(int id, int offered, int value) {
    auto* slider = GetDlgItemAs<CSliderCtrl>(id);
    slider->SetRange(-1000, 1000);
    slider->SetTicFreq(250);
    slider->SetPos(value == PX_TWN_NOT_GIVEN ? 0 : value);
    slider->EnableWindow(offered != 0);
  }

  // Scans the whole area at low resolution and proposes the area that holds the page's content.
  void OnPreview() {
    PxPage* page = nullptr;
    if (m_preview(&page) != 1 || page == nullptr || page->xDpi <= 0 || page->yDpi <= 0) {
      PxPageFree(page);
      SetDlgItemText(IDC_PREVIEW_TEXT, "The preview scan failed.");
      return;
    }
    int left = 0, top = 0, right = 0, bottom = 0;
    if (PxTwainDialogs::ContentBox(*page, left, top, right, bottom)) {
      const auto twips = [](int pixels, int dpi) { return static_cast<int>(1440LL * pixels / dpi); };
      SetArea(twips(left, page->xDpi), twips(top, page->yDpi), twips(right - left + 1, page->xDpi),
              twips(bottom - top + 1, page->yDpi));
      SetDlgItemText(IDC_PREVIEW_TEXT, "The area now holds what the preview found.");
    } else {
      SetDlgItemText(IDC_PREVIEW_TEXT, "The preview found nothing on the glass.");
    }
    PxPageFree(page);
  }

  const PxTwnDeviceOptions& m_options;
  PxTwainProps& m_props;
  const PxTwainUi::Preview& m_preview;
};

class ChooseDialog : public CDialog {
 public:
  ChooseDialog(const std::vector<std::string>& names, std::string& chosen)
      : CDialog(IDD_CHOOSE), m_names(names), m_chosen(chosen) {
    OnCommandMap(IDC_SOURCES, LBN_DBLCLK, [this] { OnOK(); });
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* list = GetDlgItemAs<CListBox>(IDC_SOURCES);
    for (const std::string& name : m_names) list->AddString(name);
    if (!m_names.empty()) list->SetCurSel(0);
    return TRUE;
  }
  void OnOK() override {
    auto* list = GetDlgItemAs<CListBox>(IDC_SOURCES);
    if (list->GetCurSel() < 0) return;  // nothing chosen: the dialog stays
    list->GetText(list->GetCurSel(), m_chosen);
    EndDialog(IDOK);
  }

 private:
  const std::vector<std::string>& m_names;
  std::string& m_chosen;
};

}  // namespace

// Modeless: it lives from the first page to the end of the acquisition. Cancel (the button, Escape,
// closing the window) only marks the request; the scan loop asks at its next progress report.
class PxTwainProgressWindow : public CDialog {
 public:
  PxTwainProgressWindow() : CDialog(IDD_PROGRESS) {}

  void Show(int page, int percent) {
    if (page != m_nPage && !m_bCancelled) {
      m_nPage = page;
      SetDlgItemText(IDC_PROGRESS_TEXT, Text(IDS_SCANNING_PAGE, "Scanning page %1...", page));
    }
    Bar(percent);
  }
  void ShowText(int page, int pages) {
    if ((page != m_nPage || pages != m_nPages || !m_bText) && !m_bCancelled) {
      m_nPage = page;
      m_nPages = pages;
      m_bText = true;
      SetDlgItemText(IDC_PROGRESS_TEXT,
                     Text(IDS_TEXT_PAGE, "Making the text searchable: page %1 of %2...", page, pages));
    }
    Bar(PxTwainUi::TextPercent(page, pages));
  }
  void Bar(int percent) {
    if (auto* bar = GetDlgItemAs<CProgressCtrl>(IDC_PROGRESS_BAR)) {
      bar->SetMarquee(percent < 0);
      if (percent >= 0) bar->SetPos(percent);
    }
  }
  bool Cancelled() const { return m_bCancelled; }

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (auto* bar = GetDlgItemAs<CProgressCtrl>(IDC_PROGRESS_BAR)) bar->SetRange32(0, 100);
    return TRUE;
  }
  void OnOK() override {}  // Enter does not end a scan
  void OnCancel() override {
    if (m_bCancelled) return;
    m_bCancelled = true;
    GetDlgItem(IDCANCEL)->EnableWindow(FALSE);
    SetDlgItemText(IDC_PROGRESS_TEXT, Text(IDS_CANCELLING, "Cancelling the scan..."));
  }

 private:
  // The window's texts in the user's language (the resource library), English without it.
  static std::string Text(UINT id, const char* english, int first = 0, int second = 0) {
    std::string text;
    HMODULE strings = platform::ui::ResourceModule();
    if (strings == nullptr || !platform::resource::LoadString(strings, id, text)) text = english;
    for (const auto& [mark, value] : {std::pair{"%1", first}, std::pair{"%2", second}})
      if (const size_t at = text.find(mark); at != std::string::npos)
        text.replace(at, 2, std::to_string(value));
    return text;
  }

  int m_nPage = 0;
  int m_nPages = 0;
  bool m_bText = false;
  bool m_bCancelled = false;
};

PxTwainDialogs::PxTwainDialogs(HWND owner) : m_hOwner(owner) {}

PxTwainDialogs::~PxTwainDialogs() {
  ProgressClose();
}

bool PxTwainDialogs::ContentBox(const PxPage& page, int& left, int& top, int& right, int& bottom) {
  left = page.width;
  top = page.height;
  right = -1;
  bottom = -1;
  for (int y = 0; y < page.height; ++y) {
    const uint8_t* row = page.pixels + static_cast<size_t>(y) * page.stride;
    for (int x = 0; x < page.width; ++x) {
      int level = 255;
      if (page.bitsPerPixel == 1)
        level = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
      else if (page.bitsPerPixel == 8)
        level = row[x];
      else
        level = std::min({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
      if (level >= kWhiteLevel) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  return right >= 0;
}

int PxTwainDialogs::SourceDialog(const std::string& sourceName, const PxTwnDeviceOptions& options,
                                 PxTwainProps& props, const Preview& preview) {
  PxTwainProps edited = props;
  ::SourceDialog dialog(sourceName, options, edited, preview);
  const INT_PTR result = dialog.DoModal();
  if (result == IDOK) {
    props = edited;
    return 1;
  }
  return result == IDCANCEL ? 0 : -1;
}

int PxTwainDialogs::ChooseSource(const std::vector<std::string>& names, std::string& chosen) {
  ChooseDialog dialog(names, chosen);
  const INT_PTR result = dialog.DoModal();
  return result == IDOK ? 1 : result == IDCANCEL ? 0 : -1;
}

void PxTwainDialogs::ProgressOpen() {
  ProgressClose();
  auto window = std::make_unique<PxTwainProgressWindow>();
  if (window->Create(IDD_PROGRESS) == FALSE) {
    // No template: the wait cursor tells the user something happens (cancel through StatusCallBack).
    platform::ui::Host().SetWaitCursor(true);
    m_bWaitCursor = true;
    return;
  }
  window->Show(1, 0);
  window->ShowWindow(SW_SHOW);
  m_pProgress = std::move(window);
  platform::ui::Host().PumpEvents();
}

bool PxTwainDialogs::Progress(int page, int percent) {
  if (m_pProgress == nullptr) return true;
  m_pProgress->Show(page, percent);
  platform::ui::Host().PumpEvents();
  return !m_pProgress->Cancelled();
}

bool PxTwainDialogs::TextProgress(int page, int pages) {
  if (m_pProgress == nullptr) return true;
  m_pProgress->ShowText(page, pages);
  platform::ui::Host().PumpEvents();
  return !m_pProgress->Cancelled();
}

void PxTwainDialogs::ProgressClose() {
  if (m_pProgress != nullptr) {
    m_pProgress->DestroyWindow();
    m_pProgress.reset();
  }
  if (m_bWaitCursor) platform::ui::Host().SetWaitCursor(false);
  m_bWaitCursor = false;
}
