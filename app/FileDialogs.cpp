// ShowFileDialog of ValueGetter: the open and save dialogs whose filters come from the file type table.
// The filter the user leaves selected decides the file type, so a save dialog doubles as a type choice.
#include <vector>

#include "app/FileTypeTable.h"
#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/framework/Afx.h"
#include "platform/ui/FileDialog.h"
#include "settings/ValueGetter.h"

namespace {

// One filter of the dialog as it was offered: the description shown and the type it stands for.
struct OfferedFilter {
  std::string strDesc;
  int nType;
};

// The description of a table entry; a failed load is logged under the caller's text and gives "".
std::string LoadDescription(DebugTrace& trace, const FileTypeEntry& entry, const char* failure, int place) {
  std::string desc;
  if (!AfxLoadString(entry.nDescString, desc)) trace.Error(DebugTrace::Numbered(place, failure));
  return desc;
}

std::string LoadExtension(DebugTrace& trace, const FileTypeEntry& entry, int place) {
  std::string ext;
  if (!AfxLoadString(entry.nExtString, ext)) trace.Error(DebugTrace::Numbered(place, "LoadString failed"));
  return ext;
}

}  // namespace

bool ValueGetter::ShowFileDialog(FileDialogKind kind, std::string& fileName, int& type, std::string& folder,
                                 FileDialogFilter filterChoice) {
  DebugTrace trace("ShowFileDialog", __FILE__);

  // The framework's filter form: "description|pattern|...|" closed by one more bar.
  std::string filter;
  std::string defExt;
  DWORD filterIndex = 0;
  std::vector<OfferedFilter> offered;
  const bool allFiles = filterChoice == FileDialogFilter::kAllFiles;
  if (allFiles) {
    std::string all;
    if (!AfxLoadString(31, all)) trace.Error(TRACE_NUMBERED("LoadString failed"));
    filter = all + "|*.*||";
  } else if (filterChoice == FileDialogFilter::kOnlyThisType) {
    if (const FileTypeEntry* entry = FindFileType(type)) {
      std::string desc = LoadDescription(trace, *entry, "LoadString failed", __LINE__);
      defExt = LoadExtension(trace, *entry, __LINE__);
      filter = desc + "|*." + defExt + "|";
      offered.push_back({desc, entry->nType});
      filterIndex = 1;
    } else {
      filter = "|*.|";
      offered.push_back({std::string(), type});
    }
  } else {
    for (const FileTypeEntry& entry : kFileTypeTable) {
      if (entry.nType == PX_TYPE_PDF && filterChoice == FileDialogFilter::kEveryTypeButPdf) continue;
      std::string desc = LoadDescription(trace, entry, "LoadString failed", __LINE__);
      std::string ext = LoadExtension(trace, entry, __LINE__);
      filter += desc + "|*." + ext + "|";
      offered.push_back({desc, entry.nType});
      if (entry.nType == type) {
        defExt = ext;
        filterIndex = static_cast<DWORD>(offered.size());
      }
    }
    filter += "|";
  }

  CFileDialog dialog(kind == FileDialogKind::kOpen ? TRUE : FALSE, defExt.empty() ? nullptr : defExt.c_str(),
                     nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter.c_str());
  if (filterIndex != 0) dialog.m_ofn.nFilterIndex = filterIndex;
  dialog.m_ofn.lpstrInitialDir = folder;
  if (dialog.DoModal() != IDOK) {
    trace.Error("File dialog not successful");
    return false;
  }

  const std::string path = dialog.GetPathName();
  const size_t slash = path.find_last_of('/');
  fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

  if (!allFiles) {
    // The type is the first table entry with the chosen filter's description, as the user saw it.
    const DWORD chosen = dialog.m_ofn.nFilterIndex == 0 ? 1 : dialog.m_ofn.nFilterIndex;
    if (chosen <= offered.size() && !offered[chosen - 1].strDesc.empty()) {
      const std::string& chosenDesc = offered[chosen - 1].strDesc;
      for (const FileTypeEntry& entry : kFileTypeTable) {
        if (LoadDescription(trace, entry, "Trouble loading string", __LINE__) == chosenDesc) {
          type = entry.nType;
          break;
        }
      }
    }
  }

  // A confirmed overwrite deletes nothing here: whoever writes the file renames the finished new one over
  // it, so a scan or conversion that fails on the way leaves the user's file as it was.
  return true;
}
