// Base of the toolkit's classes and the loader of its run-time libraries: the kernel (PX_KRN,
// libpxkernel.so), the file library (PX_FIL, libpxfile.so) and the TWAIN library (PX_TWN,
// libpxtwain.so), loaded through the module layer as "pxkernel.dll", "pxfile.dll", "pxtwain.dll".
// Callers: TwainScan and FileConvert (through their toolkit classes), tools and tests.
// Guarantees: a missing or unloadable library is a failure result (its bit stays clear in the
// returned mask) with the reason in LastLoadError(), never a crash. One UI thread; no locks.
#pragma once

#include <string>

class PxBase {
 public:
  enum Library : int { PX_KRN = 1, PX_FIL = 4, PX_TWN = 0x80 };

  PxBase() = default;
  virtual ~PxBase() = default;

  // Loads each library of the mask that is not loaded yet (a library already loaded is kept).
  // Returns the mask of loaded libraries after the call; a bit of `mask` that is clear in the result
  // failed to load (see LastLoadError).
  static int LoadLibraries(int mask);
  // The mask of loaded libraries.
  static int GetLoadedLibraries();
  // Unloads the libraries of the mask; returns the mask of libraries still loaded.
  static int UnloadLibraries(int mask);
  // The module handle of a loaded library (one bit), or null.
  static void* LibraryHandle(int bit);
  // Why the last LoadLibraries call failed for some library ("" when everything loaded).
  static std::string LastLoadError();

  // Progress of a long operation (0..100); returning 0 asks to stop. The default goes on.
  virtual int StatusCallBack(int /*percent*/) { return 1; }

  // Callbacks (EnumSourcesCallBack, AcquireCallBack, ...) are called only when enabled (1).
  void EnableCallBack(int enable) { m_nCallBack = enable; }
  int IsCallBackEnabled() const { return m_nCallBack; }

 private:
  int m_nCallBack = 0;
};
