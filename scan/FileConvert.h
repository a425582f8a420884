// FileConvert: turns a list of input image files into files of another type through the toolkit.
// Every page of every input becomes a page of the output (optionally resized), and optionally of a
// second output of its own type and sizes made from an unresized copy. Single-page types get one file
// per page: stem, stem2, stem3 ... (the number is the page's sequence number, which runs over all
// inputs). Wrapped fax inputs are unpacked by MapFile first and loaded as raw fax through
// LoadInfoCallBack; a fax of unequal resolutions is stretched to square pixels for types that need it.
// One object serves one Convert; results: 0 done, 1 libraries not loaded, 2 request invalid, 3 an
// input failed (files already written stay and are listed in the outputs).
#pragma once

#include <string>
#include <vector>

#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxFile.h"
#include "scan/ConvertRequest.h"

class FileConvert : public PxFile {
 public:
  FileConvert();
  ~FileConvert() override;

  int Convert(ConvertRequest& request);
  bool ConvertFile(const std::string& input);
  bool ConvertFaxFile(const std::string& input);
  int LoadInfoCallBack(PxLoadInfo* record) override;

  bool SavePage();
  bool ReSizeRes(PxBitmapBase& bitmap, int type);
  static bool ReSizePixels(PxBitmapBase& bitmap, int width, int height);

 private:
  bool SetupDlls();
  std::string PageName(const std::string& ext, int type) const;
  bool SaveTo(PxBitmapBase& bitmap, const std::string& name, int type, const char* failure);

  std::string m_strStem;
  std::string m_strExt;
  std::string m_strExt2;
  int m_nType2 = 0;
  std::vector<std::string>* m_pOutputs = nullptr;
  OcrPages* m_pOcr = nullptr;
  int m_nQuality = 0;
  int m_nType = 0;
  int m_nFaxXRes = 0;
  int m_nFaxYRes = 0;
  int m_nFaxWidth = 0;
  int m_nFaxHeight = 0;
  int m_nFaxOffset = 0;  // where the page being loaded starts in the intermediate file
  int m_nPagesSaved = 0;
  int m_nSequence = 0;
  int m_nOutX = -1;
  int m_nOutY = -1;
  int m_nOutX2 = -1;
  int m_nOutY2 = -1;
  PxBitmapBase m_Bitmap;
};
