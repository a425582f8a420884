#include "platform/framework/Afx.h"

#include "platform/framework/WinApp.h"
#include "platform/resource/Resource.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiHost.h"

namespace {

HMODULE g_hResource = nullptr;

}  // namespace

void AfxSetResourceHandle(HMODULE module) {
  g_hResource = module;
  // Dialogs take their templates from the same library as the strings, and never keep a freed one.
  platform::ui::SetResourceModule(module);
}

HMODULE AfxGetResourceHandle() {
  return g_hResource;
}

int AfxMessageBox(const char* text, UINT type) {
  return MessageBoxA(nullptr, text != nullptr ? text : "", AfxGetAppName(), type);
}

int AfxMessageBox(const std::string& text, UINT type) {
  return AfxMessageBox(text.c_str(), type);
}

bool AfxLoadString(UINT id, std::string& text) {
  text.clear();
  if (g_hResource == nullptr) return false;
  return platform::resource::LoadString(g_hResource, id, text);
}

std::string AfxFormatText1(const std::string& format, const char* arg) {
  std::string out;
  const std::string replacement = arg != nullptr ? arg : "";
  out.reserve(format.size() + replacement.size());
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '1') {
      out += replacement;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

bool AfxFormatString1(std::string& out, UINT id, const char* arg) {
  std::string format;
  if (!AfxLoadString(id, format)) {
    out.clear();
    return false;
  }
  out = AfxFormatText1(format, arg);
  return true;
}
