// marlin3-ocr [--languages LANGS] FILE: the OCR application of the OCR Quick Set. Reads the scanned
// file (any type the toolkit reads, every page), writes it as a searchable PDF under a new name in the
// user's documents folder and opens that with the desktop's viewer. Exit 0 done, 1 failed, 2 usage.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "log/DebugTrace.h"
#include "platform/files/Files.h"
#include "platform/folders/Folders.h"
#include "platform/framework/Afx.h"
#include "platform/module/Module.h"
#include "platform/notify/Notify.h"
#include "platform/process/Process.h"
#include "pxclass/PxFileTypes.h"
#include "scan/FileConvert.h"
#include "scan/OcrPages.h"
#include "tools/ocr/OcrApp.h"

namespace {

// The OCR Quick Set starts this program with nobody watching its terminal: a failure is also a
// desktop notice, in the user's language, as a failed scan's is.
int Fail(const std::string& text) {
  std::fprintf(stderr, "marlin3-ocr: %s\n", text.c_str());
  DebugTrace trace("marlin3-ocr", __FILE__);
  trace.Error(text);
  enum : UINT { kIdsOcrQs = 90, kIdsNotRecognised = 310, kIdsFailedSummary = 606 };
  if (AfxGetResourceHandle() == nullptr)
    if (HMODULE strings = LoadLibraryA("marlin3.dll")) AfxSetResourceHandle(strings);
  std::string qs;
  platform::notify::Notification notice;
  if (!AfxLoadString(kIdsOcrQs, qs) || !AfxFormatString1(notice.strSummary, kIdsFailedSummary, qs.c_str()) ||
      !AfxFormatString1(notice.strBody, kIdsNotRecognised, text.c_str()))
    return 1;  // no resource library: the terminal's line is all there is
  notice.strIcon = "dialog-error";
  trace.Write(std::string("Notification: ") +
              platform::notify::ShowResultText(platform::notify::Show(notice)));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The conversion's trace goes to the user's own temporary folder, never into the working folder;
  // without that folder nowhere (the log refuses a device).
  const std::string own = platform::folders::PrivateTempFolder();
  const std::string log = own.empty() ? std::string("/dev/null") : own + "marlin3-ocr.log";
  if (!own.empty()) DeleteFileA(log.c_str());  // each run starts a new log
  DebugTrace setup("marlin3-ocr", __FILE__, log.c_str());
  std::string languages;
  int at = 1;
  if (at + 1 < argc && std::strcmp(argv[at], "--languages") == 0) {
    languages = argv[at + 1];
    at += 2;
  }
  if (argc - at != 1 || argv[at][0] == '\0') {
    std::fprintf(stderr, "usage: marlin3-ocr [--languages LANGS] FILE\n");
    return 2;
  }
  const std::string input = argv[at];
  if (languages.empty())
    languages = ocrapp::DefaultLanguages(GetUserDefaultLangID(), OcrPages::InstalledLanguages());

  std::string checked;
  if (!OcrPages::ParseLanguages(languages, checked) || checked.empty())
    return Fail("\"" + languages + "\" is not a list of language names such as \"deu+eng\"");
  auto ocr = std::make_unique<OcrPages>(checked);
  std::string error;
  if (!ocr->Start(error)) return Fail(error);

  std::string documents;
  if (!GetSpecialFolder(SpecialFolder::Personal, documents, true)) return Fail("no documents folder");
  const std::string output = ocrapp::ReserveOutput(documents + "/", input);
  if (output.empty()) return Fail("no new file name in " + documents);

  // Written in the private temporary folder and moved into place whole: the documents folder never
  // holds half a file.
  const std::string temp = platform::folders::PrivateTempFolder();
  std::vector<std::string> outputs{
      temp.empty() ? std::string() : temp + "marlin3-ocr-" + std::to_string(GetCurrentProcessId()) + ".pdf"};
  std::vector<std::string> inputs{input};
  int result = 3;
  if (!temp.empty()) {
    ConvertRequest request(outputs, inputs);
    request.nType = PX_TYPE_PDF;
    request.pOcr = ocr.get();
    FileConvert converter;
    result = converter.Convert(request);
  }
  if (result != 0 || outputs.size() != 1 ||
      !MoveFileExA(outputs[0].c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    for (const std::string& name : outputs) DeleteFileA(name.c_str());
    DeleteFileA(output.c_str());
    return Fail("could not make " + output + " from " + input);
  }
  std::printf("%s\n", output.c_str());
  if (!ShellExecuteOpen(output.c_str())) return Fail("could not open " + output);
  return 0;
}
