// PxScanner: the toolkit's scanner object. It holds the window the source's dialogs belong to and the
// bitmap that receives each acquired page, and declares the operations every scanner class offers.
// PxTwain (TWAIN over SANE) implements them; an application derives from PxTwain and overrides
// EnumSourcesCallBack and AcquireCallBack, which are called only after EnableCallBack(1).
// Results: 1 (or more) success; negative on failure: -29 the user cancelled, PX_ERR_NO_LIBRARY (-1)
// without the TWAIN library, PX_TWN_E_* (pxtwain/PxTwainApi.h, -40 and below) from the library.
#pragma once

#include "platform/base/WinTypes.h"
#include "pxclass/PxBase.h"
#include "pxclass/PxTwainProps.h"

class PxBitmapBase;

class PxScanner : public PxBase {
 public:
  PxScanner() = default;
  PxScanner(const PxScanner&) = delete;
  PxScanner& operator=(const PxScanner&) = delete;

  // Virtual operations in the toolkit's slot order, after PxBase's destructor and StatusCallBack
  // (which Acquire calls with the percentage of the page read; returning 0 cancels the scan).
  ~PxScanner() override;
  virtual int SetWindow(HWND window);
  // The bitmap that receives each page (not owned; null detaches).
  virtual int SetBitmap(PxBitmapBase* bitmap);
  // Once per source by EnumSources; 1 goes on, 0 stops the enumeration.
  virtual int EnumSourcesCallBack(const char* name);
  // Once per page, the page attached to the bitmap; 1 goes on, 0 stops the acquisition.
  virtual int AcquireCallBack();
  virtual int Acquire(int flags);
  virtual int IsAvailable();
  virtual int EnumSources();
  // Lets the user choose the source (a list of EnumSources' names); 1 chosen, -29 cancelled.
  virtual int Select();
  virtual int SetProperties(PxTwainProps* props, int flags);
  virtual int GetProperties(PxTwainProps* props);
  virtual int CloseSession();

  HWND GetWindow() const { return m_hWindow; }
  PxBitmapBase* GetBitmap() const { return m_pBitmap; }

 protected:
  HWND m_hWindow = nullptr;
  PxBitmapBase* m_pBitmap = nullptr;
};
