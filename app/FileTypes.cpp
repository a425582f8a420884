// The file type table's services of ValueGetter: extension and type lookups, the type combo box, the
// quality ranges and which types hold several pages in one file (pxclass/PxFileTypes.h). The table
// itself is FileTypeTable.h.
#include "app/FileTypeTable.h"
#include "log/DebugTrace.h"
#include "platform/framework/Afx.h"
#include "platform/ui/ComboBox.h"
#include "settings/ValueGetter.h"

namespace {

// Quality ranges of the compressing types, with what replaces a value outside them.
struct QualityRange {
  int nType;
  int nMin;
  int nMax;
  int nReplacement;
};

constexpr QualityRange kQualityRanges[] = {
    {PX_TYPE_JPEG, 2, 255, 100},
    {PX_TYPE_PDF, 2, 255, 100},
    {PX_TYPE_PNG, 1, 9, 7},
};

}  // namespace

int ValueGetter::ConvertExtToType(const std::string& ext) {
  DebugTrace trace("ConvertExtToType", __FILE__);
  for (const FileTypeEntry& entry : kFileTypeTable) {
    std::string tableExt;
    if (!AfxLoadString(entry.nExtString, tableExt)) {
      trace.Error(TRACE_NUMBERED("LoadString failed"));
      continue;
    }
    if (tableExt == ext) return entry.nType;
  }
  return 0;
}

std::string ValueGetter::ConvertTypeToExt(int type) {
  DebugTrace trace("ConvertTypeToExt", __FILE__);
  const FileTypeEntry* entry = FindFileType(type);
  if (entry == nullptr) return std::string();
  std::string ext;
  if (!AfxLoadString(entry->nExtString, ext)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  return ext;
}

bool ValueGetter::LoadFileTypeControl(CComboBox* combo, int type) {
  DebugTrace trace("LoadFileTypeControl", __FILE__);
  if (combo == nullptr) {
    trace.Error(TRACE_NUMBERED("No combo box given"));
    return true;
  }
  std::string wanted;
  for (const FileTypeEntry& entry : kFileTypeTable) {
    std::string desc;
    if (!AfxLoadString(entry.nDescString, desc)) trace.Error(TRACE_NUMBERED("LoadString failed"));
    if (desc.empty()) continue;
    if (entry.nType == type) wanted = desc;
    int index = combo->AddString(desc);
    if (index < 0) {
      trace.Error(TRACE_NUMBERED("AddString failed"));
      continue;
    }
    if (combo->SetItemData(index, static_cast<DWORD_PTR>(entry.nType)) == CB_ERR)
      trace.Error(TRACE_NUMBERED("SetItemData Failed"));
  }
  // The whole description must match: selecting by prefix could pick another type whose description
  // merely starts with this one.
  int index = wanted.empty() ? CB_ERR : combo->FindStringExact(-1, wanted);
  if (index == CB_ERR || combo->SetCurSel(index) == CB_ERR) combo->SetCurSel(0);
  return true;
}

int ValueGetter::CheckQualityLevel(int quality, int type) {
  DebugTrace trace("CheckQualityLevel", __FILE__);
  for (const QualityRange& range : kQualityRanges) {
    if (range.nType != type) continue;
    return (quality < range.nMin || quality > range.nMax) ? range.nReplacement : quality;
  }
  return quality;
}

bool ValueGetter::IsMultiPageSupported(int type) {
  DebugTrace trace("IsMultiPageSupported", __FILE__);
  return PxIsMultiPageType(type);
}
