// Child process of the scripted-host tests: runs one scenario on the host MARLIN3_UI chooses and
// prints what the program saw afterwards, one "name=value" line each.
#include <cstdio>
#include <cstring>
#include <string>

#include "TestDialogs.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"

int main(int argc, char** argv) {
  if (argc < 2 || !UseTestResources()) return 2;
  const std::string scenario = argv[1];
  if (scenario == "msgbox") {
    std::printf("first=%d\n", MessageBoxA(nullptr, "Replace \"a\\b\"?\nSure", "Question",
                                          MB_YESNOCANCEL | MB_ICONQUESTION));
    std::printf("second=%d\n", MessageBoxA(nullptr, "Done", nullptr, MB_OK));
  } else if (scenario == "dialog") {
    EveryControlDialog dialog;
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\nname=%s\ncheck=%d\nradio=%d\ndrop=%s\nslider=%d\nnumber=%d\nevents=%s\n",
                static_cast<long>(result), dialog.m_strName.c_str(), dialog.m_nCheck, dialog.m_nRadio,
                dialog.m_strDropList.c_str(), dialog.m_nSlider, dialog.m_nNumber, dialog.m_strEvents.c_str());
  } else if (scenario == "wizard") {
    TestWizard wizard;
    const INT_PTR result = wizard.DoModal();
    std::printf("result=%ld\nactivations=%d,%d,%d\n", static_cast<long>(result),
                wizard.m_page1.m_nActivations, wizard.m_page2.m_nActivations, wizard.m_page3.m_nActivations);
  } else if (scenario == "file") {
    CFileDialog dialog(FALSE, "tif", argc > 2 ? argv[2] : "scan.tif", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       "TIFF image (*.tif)|*.tif|JPEG image|*.jpg;*.jpeg|All files|*.*||");
    dialog.m_ofn.nFilterIndex = 1;
    const INT_PTR result = dialog.DoModal();
    std::printf("result=%ld\npath=%s\nfilter=%u\n", static_cast<long>(result), dialog.GetPathName().c_str(),
                dialog.m_ofn.nFilterIndex);
  } else {
    return 2;
  }
  return 0;
}
