// Independent readers for the scan tests' output files: ImageMagick's identify and convert, tiffinfo
// and pdfinfo, run as child processes (never through the toolkit under test).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string RunTool(const std::string& command) {
  std::string out;
  FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  ::pclose(p);
  return out;
}

inline std::string Quote(const std::string& path) {
  return "'" + path + "'";
}

// "WIDTHxHEIGHT" of every page, one line each, as identify reads them.
inline std::string Sizes(const std::string& path) {
  return RunTool("identify -format '%wx%h\\n' " + Quote(path));
}

// The page count pdfinfo reads, -1 when it cannot read the file.
inline int PdfPages(const std::string& path) {
  const std::string info = RunTool("pdfinfo " + Quote(path));
  const size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}
