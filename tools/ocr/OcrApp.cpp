#include "tools/ocr/OcrApp.h"

#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/files/Files.h"
#include "scan/OcrPages.h"

namespace ocrapp {

std::string TesseractName(unsigned langId) {
  struct Entry {
    unsigned id;
    const char* name;
  };
  static constexpr Entry kNames[] = {
      {1028, "chi_tra"}, {1029, "ces"}, {1030, "dan"}, {1031, "deu"},     {1033, "eng"},
      {1035, "fin"},     {1036, "fra"}, {1038, "hun"}, {1040, "ita"},     {1042, "kor"},
      {1043, "nld"},     {1044, "nor"}, {1045, "pol"}, {1046, "por"},     {1049, "rus"},
      {1053, "swe"},     {1054, "tha"}, {1055, "tur"}, {2052, "chi_sim"}, {3082, "spa"},
  };
  for (const Entry& entry : kNames)
    if (entry.id == langId) return entry.name;
  return std::string();
}

std::string DefaultLanguages(unsigned langId, const std::string& installed) {
  const std::vector<std::string> have = OcrPages::SplitLanguages(installed);
  auto installedName = [&](const std::string& name) {
    for (const std::string& h : have)
      if (h == name) return true;
    return false;
  };
  std::string languages;
  const std::string own = TesseractName(langId);
  if (!own.empty() && own != "eng" && installedName(own)) languages = own;
  if (installedName("eng")) languages += languages.empty() ? "eng" : "+eng";
  return languages.empty() ? "eng" : languages;
}

std::string ReserveOutput(const std::string& folder, const std::string& input) {
  const size_t slash = input.find_last_of('/');
  std::string stem = slash == std::string::npos ? input : input.substr(slash + 1);
  const size_t dot = stem.find_last_of('.');
  if (dot != std::string::npos && dot > 0) stem.resize(dot);
  if (stem.empty() || stem[0] == '.') stem = "scan" + stem;
  for (int n = 1; n <= 1000; ++n) {
    const std::string name = folder + stem + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".pdf";
    HANDLE file =
        CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return name;
    }
    if (platform::GetLastError() != ERROR_FILE_EXISTS && platform::GetLastError() != ERROR_ALREADY_EXISTS)
      return std::string();
  }
  return std::string();
}

}  // namespace ocrapp
