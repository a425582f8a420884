#include "platform/ui/FileDialog.h"

#include <sys/stat.h>

#include "platform/ui/UiHost.h"

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent)
    : m_bOpen(openFileDialog != FALSE),
      m_strDefExt(defExt != nullptr ? defExt : ""),
      m_strInitialName(fileName != nullptr ? fileName : "") {
  m_ofn.Flags = flags;
  m_ofn.nFilterIndex = 1;
  // "desc|pattern|desc|pattern||": pairs until an empty description.
  std::string f = filter != nullptr ? filter : "";
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos < f.size()) {
    const std::size_t bar = f.find('|', pos);
    parts.push_back(f.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
    if (bar == std::string::npos) break;
    pos = bar + 1;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty()) break;
    std::vector<std::string> patterns;
    std::size_t p = 0;
    const std::string& list = parts[i + 1];
    while (p <= list.size()) {
      const std::size_t semi = list.find(';', p);
      std::string one = list.substr(p, semi == std::string::npos ? std::string::npos : semi - p);
      if (!one.empty()) patterns.push_back(one);
      if (semi == std::string::npos) break;
      p = semi + 1;
    }
    m_filters.emplace_back(parts[i], patterns);
  }
}

static std::size_t LastSlash(const std::string& path) {
  return path.find_last_of('/');
}

std::string CFileDialog::GetFileName() const {
  const auto s = LastSlash(m_strPath);
  return s == std::string::npos ? m_strPath : m_strPath.substr(s + 1);
}

std::string CFileDialog::GetFileExt() const {
  const std::string name = GetFileName();
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string CFileDialog::GetFileTitle() const {
  const std::string name = GetFileName();
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string CFileDialog::GetFolderPath() const {
  const auto s = LastSlash(m_strPath);
  if (s == std::string::npos) return {};
  return s == 0 ? std::string("/") : m_strPath.substr(0, s);
}

std::string CFileDialog::InitialFolder() const {
  if (!m_ofn.lpstrInitialDir.empty()) return m_ofn.lpstrInitialDir;
  const auto s = LastSlash(m_strInitialName);
  if (s == std::string::npos) return {};
  return m_strInitialName.substr(0, s + 1);
}

void CFileDialog::Accept(const std::string& path, int filterIndex) {
  m_strPath = path;
  const std::string name = GetFileName();
  if (!m_strDefExt.empty() && !name.empty() && name.find('.') == std::string::npos)
    m_strPath += "." + m_strDefExt;
  if (filterIndex >= 1 && filterIndex <= static_cast<int>(m_filters.size()))
    m_ofn.nFilterIndex = static_cast<DWORD>(filterIndex);
}

std::string CFileDialog::ResolveChoice(const std::string& typed) const {
  std::string path = typed;
  if (path.empty()) return path;
  if (path[0] != '/') {
    std::string folder = InitialFolder();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    path = folder + path;
  }
  const std::string name = path.substr(path.find_last_of('/') + 1);
  if (!m_strDefExt.empty() && !name.empty() && name.find('.') == std::string::npos) path += "." + m_strDefExt;
  return path;
}

bool CFileDialog::ConfirmChoice(const std::string& path) const {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  const std::string title = !m_ofn.lpstrTitle.empty() ? m_ofn.lpstrTitle : m_bOpen ? "Open" : "Save As";
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  struct stat fst {};
  if ((m_ofn.Flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST)) != 0 &&
      (::stat(folder.c_str(), &fst) != 0 || !S_ISDIR(fst.st_mode))) {
    MessageBoxA(nullptr, (path + "\nPath does not exist.\nCheck the path and try again.").c_str(),
                title.c_str(), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  if (m_bOpen && (m_ofn.Flags & OFN_FILEMUSTEXIST) != 0 && !exists) {
    MessageBoxA(nullptr, (path + "\nFile not found.\nCheck the file name and try again.").c_str(),
                title.c_str(), MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  if (!m_bOpen && (m_ofn.Flags & OFN_OVERWRITEPROMPT) != 0 && exists)
    return MessageBoxA(nullptr, (path + " already exists.\nDo you want to replace it?").c_str(),
                       "Confirm Save As", MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
  return true;
}

INT_PTR CFileDialog::DoModal() {
  if (m_ofn.nFilterIndex == 0) m_ofn.nFilterIndex = 1;
  return platform::ui::Host().RunFileDialog(*this);
}
