// The scanner base: keeps the window and the bitmap; a scanner class without a device says so.
#include "pxclass/PxScanner.h"

#include "pxclass/PxError.h"

PxScanner::~PxScanner() = default;

int PxScanner::SetWindow(HWND window) {
  m_hWindow = window;
  return PX_OK;
}

int PxScanner::SetBitmap(PxBitmapBase* bitmap) {
  m_pBitmap = bitmap;
  return PX_OK;
}

int PxScanner::EnumSourcesCallBack(const char* /*name*/) {
  return 1;
}
int PxScanner::AcquireCallBack() {
  return 1;
}
int PxScanner::Acquire(int /*flags*/) {
  return PX_ERR_UNSUPPORTED;
}
int PxScanner::IsAvailable() {
  return 0;
}
int PxScanner::EnumSources() {
  return PX_ERR_UNSUPPORTED;
}
int PxScanner::Select() {
  return PX_ERR_UNSUPPORTED;
}
int PxScanner::SetProperties(PxTwainProps* /*props*/, int /*flags*/) {
  return PX_ERR_UNSUPPORTED;
}
int PxScanner::GetProperties(PxTwainProps* /*props*/) {
  return PX_ERR_UNSUPPORTED;
}
int PxScanner::CloseSession() {
  return PX_OK;
}
