// What the toolkit tests share: a scratch folder, the file library loaded through PxBase, synthetic
// pages of each depth, and the independent readers (ImageMagick, libtiff's and poppler's tools,
// qpdf) run as black-box oracles.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pxclass/PxBitmapBase.h"
#include "pxclass/PxFile.h"
#include "pxclass/PxFileTypes.h"

namespace toolkit_test {

namespace fs = std::filesystem;

class ToolkitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return (m_dir / name).string(); }

  fs::path m_dir;
};

// A page with a pattern that shows loss and misplacement: gradients, a frame and a diagonal.
void MakePage(PxBitmapBase& bitmap, int width, int height, int bpp, int xDpi = 200, int yDpi = 200);
// Runs a command line through the shell; its standard output, and the exit status through `status`.
std::string Shell(const std::string& command, int* status = nullptr);
// Largest per-channel difference between two pages of equal size and depth (-1 when they differ).
int MaxDifference(const PxBitmapBase& a, const PxBitmapBase& b);
// Mean per-channel difference (-1 when the pages differ in size or depth).
double MeanDifference(const PxBitmapBase& a, const PxBitmapBase& b);
// The page as RGB bytes, top row first (grey and bilevel pages spread over three channels).
std::vector<uint8_t> PageRgb(const PxPage* page);
// ImageMagick's decoding of a file's first image as RGB bytes, top row first.
std::vector<uint8_t> MagickRgb(const std::string& file);
// Writes bytes to a file.
void WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace toolkit_test
