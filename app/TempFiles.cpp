// GetTempFilename of ValueGetter: unique "marlin<number>.<ext>" names for scanned pages and outputs.
// The number continues from main value "LastTmpNum". A name is reserved by creating the file with
// CREATE_NEW, which the file system grants to exactly one caller, so two processes asking at once (a
// scan started at the device while a person scans) never get the same name. The reservation is an
// empty file that the scan or the move into place overwrites.
#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "settings/SettingsSchema.h"
#include "settings/ValueGetter.h"

namespace {

// The next number after last: counting is in 32 bits, and -1 is skipped (after -2 comes 0).
DWORD NextNumber(DWORD last) {
  DWORD next = last + 1;
  return next == 0xFFFFFFFFu ? 0 : next;
}

std::string FormName(const std::string& folder, DWORD number, const std::string& ext) {
  // "%s%s%d.%s": folder, "marlin", the number as a signed decimal, extension.
  return folder + "marlin" + std::to_string(static_cast<int>(number)) + "." + ext;
}

}  // namespace

void ValueGetter::GetTempFilename(std::string& name, const std::string& ext, const std::string& folder) {
  DebugTrace trace("GetTempFilename", __FILE__);
  std::string dir = folder;
  if (dir.empty()) GetTempDirectory(dir);

  DWORD number =
      static_cast<DWORD>(GetMainInt(settings::kMainLastTmpNum.pszName, settings::kMainLastTmpNum.nDefault));
  // Every 32-bit number but -1 is tried at most once, so a full folder cannot hold the loop forever.
  for (DWORD tried = 0; tried < 0xFFFFFFFFu; ++tried) {
    number = NextNumber(number);
    name = FormName(dir, number, ext);
    HANDLE reserved =
        CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reserved != INVALID_HANDLE_VALUE) {
      CloseHandle(reserved);
      break;
    }
    const DWORD error = platform::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    // The name cannot be reserved here (missing or read-only folder, name too long): a name that does
    // not exist is still the answer, as callers create the folder or report the failed write later.
    if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
      platform::SetLastError(error);
      trace.SystemError("Could not reserve '" + name + "'");
      break;
    }
  }
  SetMainInt(settings::kMainLastTmpNum.pszName, static_cast<int>(number));
}

void ValueGetter::GetTempFilename(std::string& name, int type, const std::string& folder) {
  DebugTrace trace("GetTempFilename", __FILE__);
  GetTempFilename(name, ConvertTypeToExt(type), folder);
}
