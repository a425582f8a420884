// The folder services of ValueGetter: the program's temporary folder, the user's data folder for scans,
// and the check (and creation on request) of a folder a user or an option named.
// Paths use "/". A text starting with "/" is a local absolute path and is examined; the root "/" itself,
// relative texts and anything else are accepted as given, as drive roots and network paths always were.
#include "platform/folders/Folders.h"

#include <algorithm>
#include <vector>

#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/framework/Afx.h"
#include "platform/ui/MessageBox.h"
#include "settings/ValueGetter.h"

namespace {

constexpr UINT kIdsDataFolderName = 185;
constexpr UINT kIdsCreateFolderQuestion = 245;
constexpr long kTempFileKeepSeconds = 24L * 60 * 60;

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A local absolute path other than the root: the only texts that are looked at on the disk.
bool IsExamined(const std::string& folder) {
  return folder.size() > 1 && folder[0] == '/';
}

// The text up to and including the "/" before the last one; "" when there is none.
std::string ParentOf(const std::string& folder) {
  if (folder.size() < 2) return std::string();
  const size_t slash = folder.find_last_of('/', folder.size() - 2);
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

}  // namespace

void ValueGetter::GetTempDirectory(std::string& folder) {
  DebugTrace trace("GetTempDirectory", __FILE__);
  std::string windows;
  if (GetSpecialFolder(SpecialFolder::Windows, windows, false)) {
    windows += '/';
  } else {
    windows.clear();
    trace.Error("Failed to get user's sys directory");
  }

  char temp[MAX_PATH] = {};
  const DWORD length = GetTempPathA(MAX_PATH, temp);
  if (length >= 1 && length <= MAX_PATH - 1 && windows != temp) {
    // "NxScan" lives in the user's own folder below the temporary folder, so nobody else can read the
    // pages or put a name in their way.
    std::string refusal;
    const std::string own = platform::folders::PrivateTempFolder(&refusal);
    if (!refusal.empty()) trace.Error("Temporary folder refused: " + refusal);
    if (own.empty()) {
      trace.Error("No private temporary folder, using the data directory");
      if (!GetDataDirectory(folder)) folder.clear();
      return;
    }
    folder = own + "NxScan/";
    std::string why;
    if (!platform::folders::MakePrivateFolder(own + "NxScan", &why)) {
      static std::string replacement;  // one per process, not one per name asked for
      if (replacement.empty() ||
          !platform::folders::MakePrivateFolder(replacement.substr(0, replacement.size() - 1)))
        replacement = platform::folders::NewPrivateFolder(own + "NxScan-");
      trace.Error("Temporary folder refused: " + why + ", using '" + replacement + "' instead");
      folder = replacement;
    }
    static std::vector<std::string> swept;
    if (!folder.empty() && std::find(swept.begin(), swept.end(), folder) == swept.end()) {
      swept.push_back(folder);
      // Pages of a run that was killed or failed are kept for a day, then removed at the next start.
      const int removed = platform::folders::RemoveOldFiles(folder.substr(0, folder.size() - 1), "marlin",
                                                            kTempFileKeepSeconds);
      if (removed > 0) trace.WriteFormat("Removed %d temporary file(s) older than a day", removed);
    }
    return;
  } else {
    trace.Error("GetTempPath failed or is system directory");
    if (!GetDataDirectory(folder)) {
      trace.Error("Failed to get data directory or temp directory");
      folder = "/tmp/";
    }
  }
  CreateDirectoryA(folder.c_str(), nullptr);  // an existing folder is the usual case
}

bool ValueGetter::GetDataDirectory(std::string& folder) {
  DebugTrace trace("GetDataDirectory", __FILE__);
  std::string documents;
  if (!GetSpecialFolder(SpecialFolder::Personal, documents, true)) {
    folder.clear();
    trace.Error("Failed to get user's data directory");
    return false;
  }
  std::string name;
  if (!AfxLoadString(kIdsDataFolderName, name)) trace.Error(TRACE_NUMBERED("LoadString failed"));
  folder = documents + "/" + name + "/";

  const std::string withoutSlash = folder.substr(0, folder.size() - 1);
  if (!FolderExists(withoutSlash)) {
    trace.WriteFormat("Directory '%s' not present, creating it", withoutSlash);
    if (!CreateDirectoryA(withoutSlash.c_str(), nullptr)) {
      folder.clear();
      const DWORD error = platform::GetLastError();
      trace.Write(DebugTrace::FormatOne("Trouble creating directory '%s'", withoutSlash) + ": (" +
                  std::to_string(error) + ") " + DebugTrace::SystemText(error));
      return false;
    }
  }
  return true;
}

bool ValueGetter::ValidateDir(std::string& folder, MissingFolder absent, FinalSlash slash) {
  DebugTrace trace("ValidateDir", __FILE__);
  if (folder.empty()) {
    trace.Error("Input string is empty");
    return false;
  }
  if (folder.back() != '/') {
    if (slash == FinalSlash::kRequired) {
      trace.Error("last char isn't backslash so returning");
      return false;
    }
    folder += '/';
  }
  if (!IsExamined(folder)) return true;
  if (FolderExists(folder)) return true;

  if (absent == MissingFolder::kAskFirst) {
    std::string question;
    if (!AfxFormatString1(question, kIdsCreateFolderQuestion, folder.c_str()))
      trace.Error(TRACE_NUMBERED("LoadString failed"));
    if (AfxMessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
      trace.Write("User doesn't want to create dir, exiting");
      return false;
    }
  }

  // Missing parents are created first, outermost first; walking up instead of recursing keeps a
  // hostile path with thousands of levels from exhausting the stack.
  std::vector<std::string> missing;
  for (std::string parent = ParentOf(folder); IsExamined(parent) && !FolderExists(parent);
       parent = ParentOf(parent))
    missing.push_back(parent);
  // A path through ".." names a folder again that an earlier step made: existing afterwards is success.
  // The existence check sets an error of its own: the create's error is the one logged, once.
  auto create = [&trace](const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    const DWORD error = platform::GetLastError();
    if (FolderExists(path)) return true;
    platform::SetLastError(error);
    trace.SystemError("Creating directory failed");
    return false;
  };
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (!create(*it)) return false;
  return create(folder);
}
