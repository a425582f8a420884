// The run-time libraries: loading and unloading by mask, and a missing library (or one that does not
// load) giving a failure result instead of a crash, for the toolkit and for marlin3 itself.
#include <dlfcn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "ToolkitFixture.h"

namespace toolkit_test {
namespace {

class Libraries : public ToolkitTest {
 protected:
  // An empty file named like the library hides it from the module layer (see Module.h).
  std::string HideFolder() {
    const fs::path hide = m_dir / "hide";
    fs::create_directories(hide);
    for (const char* lib : {"libpxkernel.so", "libpxfile.so", "libpxtwain.so"}) std::ofstream(hide / lib);
    return hide.string();
  }
};

TEST_F(Libraries, LoadUnloadAndMissingLibraries) {
  EXPECT_EQ(PxBase::GetLoadedLibraries() & (PxBase::PX_KRN | PxBase::PX_FIL),
            PxBase::PX_KRN | PxBase::PX_FIL);
  EXPECT_NE(PxBase::LibraryHandle(PxBase::PX_FIL), nullptr);
  EXPECT_EQ(PxBase::UnloadLibraries(PxBase::PX_FIL) & PxBase::PX_FIL, 0);
  EXPECT_EQ(PxBase::LibraryHandle(PxBase::PX_FIL), nullptr);

  PxBitmapBase bitmap;
  MakePage(bitmap, 10, 10, 8);
  EXPECT_EQ(bitmap.Save(Path("x.png").c_str(), PX_TYPE_PNG, 0, 6, 1, nullptr), PX_ERR_NO_LIBRARY);
  EXPECT_EQ(bitmap.Resize(5, 5), PX_ERR_NO_LIBRARY);
  EXPECT_EQ(bitmap.Trim(0, 0, 5, 5), PX_OK) << "trim needs no library";

  setenv("MARLIN3_MODULE_DIR", HideFolder().c_str(), 1);
  const int mask = PxBase::LoadLibraries(PxBase::PX_FIL | PxBase::PX_TWN);
  unsetenv("MARLIN3_MODULE_DIR");
  EXPECT_EQ(mask & (PxBase::PX_FIL | PxBase::PX_TWN), 0);
  EXPECT_EQ(mask & PxBase::PX_KRN, PxBase::PX_KRN) << "a library already loaded stays";
  EXPECT_NE(PxBase::LastLoadError().find("pxfile.dll"), std::string::npos);
  PxFile file;
  PxFileInfo info{};
  file.SetFileName(Path("x.png").c_str());
  EXPECT_EQ(file.GetInfo(&info, 1), PX_ERR_NO_LIBRARY);

  EXPECT_EQ(PxBase::LoadLibraries(PxBase::PX_FIL) & PxBase::PX_FIL, PxBase::PX_FIL);
  EXPECT_EQ(PxBase::LastLoadError(), "");
  EXPECT_EQ(bitmap.Save(Path("x.png").c_str(), PX_TYPE_PNG, 0, 6, 1, nullptr), PX_OK);
}

// The PDF reader (poppler, qpdf) is its own module, loaded on the first PDF read: the file library does
// not link it, a missing reader fails PDF reading alone, and the reader loads once it is there.
TEST_F(Libraries, PdfReaderModuleLoadsOnFirstPdf) {
  const std::string needed = Shell("readelf -d '" MARLIN3_BIN_DIR "/libpxfile.so' | grep NEEDED");
  ASSERT_FALSE(needed.empty());
  // libtiff, libimagequant, libpng and giflib are loaded on their first use too (their dependencies
  // were most of the file library's load time).
  for (const char* lib : {"poppler", "qpdf", "pxpdfread", "libtiff", "imagequant", "libpng", "libgif"})
    EXPECT_EQ(needed.find(lib), std::string::npos) << lib << " in " << needed;
  // Once loaded the reader stays for the process, so the rest needs the fresh process ctest gives.
  if (dlopen("libpxpdfread.so", RTLD_NOW | RTLD_NOLOAD))
    GTEST_SKIP() << "the PDF reader was loaded by an earlier test in this process";

  PxBitmapBase page;
  MakePage(page, 40, 30, 24, 150, 150);
  ASSERT_EQ(page.Save(Path("p.pdf").c_str(), PX_TYPE_PDF, 0, 40, 1, nullptr), PX_OK)
      << "writing needs no reader";
  ASSERT_EQ(page.Save(Path("p.jpg").c_str(), PX_TYPE_JPEG, 0, 40, 1, nullptr), PX_OK);
  EXPECT_EQ(dlopen("libpxpdfread.so", RTLD_NOW | RTLD_NOLOAD), nullptr) << "loaded before any PDF read";

  const fs::path hide = m_dir / "hide";
  fs::create_directories(hide);
  std::ofstream(hide / "libpxpdfread.so");
  setenv("MARLIN3_MODULE_DIR", hide.string().c_str(), 1);
  PxFileInfo info{};
  PxFile pdf;
  pdf.SetFileName(Path("p.pdf").c_str());
  EXPECT_EQ(pdf.GetInfo(&info, 1), PX_ERR_NO_LIBRARY);
  PxBitmapBase loaded;
  EXPECT_EQ(loaded.Load(Path("p.pdf").c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_ERR_NO_LIBRARY);
  EXPECT_FALSE(loaded.IsAllocated());
  EXPECT_EQ(loaded.Load(Path("p.jpg").c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK) << "JPEG unaffected";
  EXPECT_EQ(loaded.GetWidth(), 40);
  unsetenv("MARLIN3_MODULE_DIR");

  // The failure is not remembered: with the reader back, the same file loads.
  ASSERT_EQ(pdf.GetInfo(&info, 1), PX_OK);
  EXPECT_EQ(info.nPages, 1);
  ASSERT_EQ(loaded.Load(Path("p.pdf").c_str(), 0, PX_COLOUR_ORDER_RGB, 1), PX_OK);
  EXPECT_EQ(loaded.GetWidth(), 40);
  EXPECT_EQ(loaded.GetHeight(), 30);
  EXPECT_NE(dlopen("libpxpdfread.so", RTLD_NOW | RTLD_NOLOAD), nullptr);
}

// marlin3 needs none of the imaging libraries to start: no load-time dependency on them, and a
// task that neither scans nor converts runs with the toolkit's libraries hidden.
TEST_F(Libraries, Marlin3StartsWithoutTheImagingLibraries) {
  const std::string exe = MARLIN3_BIN_DIR "/marlin3";
  if (!fs::exists(exe)) GTEST_SKIP() << "marlin3 not built";
  const std::string needed = Shell("readelf -d '" + exe + "' | grep NEEDED");
  ASSERT_FALSE(needed.empty());
  for (const char* lib :
       {"pxkernel", "pxfile", "pxtwain", "tiff", "jpeg", "png", "gif", "poppler", "qpdf", "sane"})
    EXPECT_EQ(needed.find(lib), std::string::npos) << lib << " in " << needed;

  const fs::path tmp = m_dir / "tmp";
  fs::create_directories(tmp);
  int status = -1;
  Shell("env MARLIN3_MODULE_DIR='" + HideFolder() + "' MARLIN3_REGISTRY_DIR='" + m_dir.string() +
            "' TMPDIR='" + tmp.string() + "/' MARLIN3_UI=scripted MARLIN3_UI_SCRIPT=/dev/null '" + exe +
            "' /Task 15",
        &status);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace toolkit_test
