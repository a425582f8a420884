#include "ui/DirTreeCtrl.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/files/Files.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

bool IsDots(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

bool DirTreeCtrl::Initialize(const std::string& rootPath, Content content) {
  ModifyStyle(M3_EDITLABELS, 0);
  DeleteAllItems();
  m_strRoot = rootPath;
  m_bFiles = content == Content::kFoldersAndFiles;
  int index = 0;
  if (!ShellSmallIcon("/", false, index)) {
    m_strError = "Cannot retrieve the Handle of SystemImageList!";
    return false;
  }
  // The list belongs to the system: detach whatever was attached before attaching it.
  SetImageList(nullptr, TVSIL_NORMAL);
  m_pImages = CImageList::System();
  SetImageList(m_pImages, TVSIL_NORMAL);
  if (m_strRoot.empty()) return DisplayDrives();
  if (m_strRoot.back() != '/') m_strRoot += '/';
  HTREEITEM root = AddItem(TVI_ROOT, m_strRoot);
  DisplayPath(root, m_strRoot);
  return true;
}

bool DirTreeCtrl::DisplayDrives() {
  // 128 characters hold a few drive letters; mount points need more, so the size asked for is used.
  std::vector<char> buffer(128, '\0');
  DWORD length = GetLogicalDriveStringsA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length > buffer.size()) {
    buffer.assign(length + 1, '\0');
    length = GetLogicalDriveStringsA(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (length == 0 || length >= buffer.size()) {
    m_strError = "Error Getting Logical DriveStrings!";
    return false;
  }
  SetRedraw(FALSE);
  for (const char* drive = buffer.data(); *drive != '\0'; drive += std::strlen(drive) + 1) {
    HTREEITEM item = AddItem(TVI_ROOT, drive);
    if (item != nullptr && FindSubDir(drive)) InsertItem("", 0, 0, item);
  }
  SetRedraw(TRUE);
  return true;
}

HTREEITEM DirTreeCtrl::AddItem(HTREEITEM parent, const std::string& path) {
  int image = 0, open = 0;
  if (!ShellSmallIcon(path, false, image) || !ShellSmallIcon(path, true, open)) {
    m_strError = "Error Gettting SystemFileInfo!";
    return nullptr;
  }
  std::string text;
  if (parent == TVI_ROOT) {
    // A drive's text is its root without the final "/"; the file system root keeps its "/".
    text = path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    image = open = CImageList::kDrive;
  } else {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    text = p.substr(p.find_last_of('/') + 1);
  }
  return InsertItem(text, image, open, parent);
}

bool DirTreeCtrl::FindSubDir(const std::string& path) const {
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(Join(path, "*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((folder && !IsDots(data.cFileName)) ||
        (!folder && m_bFiles && (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) == 0))
      found = true;
  } while (!found && FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

void DirTreeCtrl::DisplayPath(HTREEITEM parent, const std::string& path) {
  std::vector<std::string> folders, files;
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(Join(path, "*.*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (!IsDots(data.cFileName)) folders.emplace_back(data.cFileName);
      } else if (m_bFiles) {
        files.emplace_back(data.cFileName);
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  // Stable, so names equal but for case keep the order the folder gave them.
  std::stable_sort(folders.begin(), folders.end(), LessNoCase);
  std::stable_sort(files.begin(), files.end(), LessNoCase);
  SetRedraw(FALSE);
  BeginWaitCursor();
  for (const auto& name : folders) {
    const std::string full = Join(path, name);
    HTREEITEM item = AddItem(parent, full);
    if (item != nullptr && FindSubDir(full)) InsertItem("", 0, 0, item);
  }
  for (const auto& name : files) AddItem(parent, Join(path, name));
  SetRedraw(TRUE);
  EndWaitCursor();
}

BOOL DirTreeCtrl::OnItemExpanded(HTREEITEM item, UINT action) {
  if (!IsItem(item)) return TRUE;
  while (HTREEITEM child = GetChildItem(item)) DeleteItem(child);
  if (action == TVE_EXPAND)
    DisplayPath(item, GetFullPath(item));
  else
    InsertItem("", 0, 0, item);
  return TRUE;
}

std::string DirTreeCtrl::GetFullPath(HTREEITEM item) const {
  std::vector<std::string> parts;
  for (HTREEITEM p = item; IsItem(p); p = GetParentItem(p)) parts.push_back(GetItemText(p));
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) path = path.empty() ? *it : Join(path, *it);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

HTREEITEM DirTreeCtrl::SearchChild(HTREEITEM parent, const std::string& name) const {
  // The exact name first: on this system two folders may differ only in case.
  for (HTREEITEM c = GetChildItem(parent); c != nullptr; c = GetNextSiblingItem(c))
    if (GetItemText(c) == name) return c;
  for (HTREEITEM c = GetChildItem(parent); c != nullptr; c = GetNextSiblingItem(c))
    if (Upper(GetItemText(c)) == Upper(name)) return c;
  return nullptr;
}

bool DirTreeCtrl::SelectPath(const std::string& path) {
  std::string wanted = path;
  while (wanted.size() > 1 && wanted.back() == '/') wanted.pop_back();
  if (wanted.empty() || wanted[0] != '/') return false;
  // The top item the path starts with; the longest one, as mounted volumes sit inside "/".
  HTREEITEM top = nullptr;
  std::size_t topLength = 0;
  for (HTREEITEM t = GetRootItem(); t != nullptr; t = GetNextSiblingItem(t)) {
    std::string text = GetItemText(t);
    const bool isRoot = text == "/";
    if (!isRoot && text.size() > 1 && text.back() == '/') text.pop_back();
    const std::string upper = Upper(text);
    const bool starts = Upper(wanted).compare(0, upper.size(), upper) == 0 &&
                        (isRoot || wanted.size() == upper.size() || wanted[upper.size()] == '/');
    if (starts && (top == nullptr || upper.size() > topLength)) {
      top = t;
      topLength = upper.size();
    }
  }
  const DWORD attributes = GetFileAttributesA(wanted.c_str());
  if (top == nullptr || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return false;

  // Each item on the way is opened afresh: an item opened before is reset first, so that the expand
  // notifies and the folder is read again.
  auto open = [this](HTREEITEM item) {
    if ((GetItemState(item, TVIS_EXPANDEDONCE) & TVIS_EXPANDEDONCE) != 0) {
      Expand(item, TVE_COLLAPSE | TVE_COLLAPSERESET);
      InsertItem("", 0, 0, item);
    }
    Expand(item, TVE_EXPAND);
  };
  SetRedraw(FALSE);
  HTREEITEM item = top;
  open(item);
  bool ok = true;
  std::size_t pos = topLength;
  while (ok && pos < wanted.size()) {
    while (pos < wanted.size() && wanted[pos] == '/') ++pos;
    if (pos >= wanted.size()) break;
    const std::size_t end = wanted.find('/', pos);
    const std::string name = wanted.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? wanted.size() : end;
    HTREEITEM child = SearchChild(item, name);
    if (child == nullptr) {
      ok = false;
    } else {
      item = child;
      open(item);
    }
  }
  if (ok) SelectItem(item);
  SetRedraw(TRUE);
  return ok;
}
