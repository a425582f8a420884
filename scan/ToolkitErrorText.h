// The log's error format for toolkit failures, "%s, %d->%s (error %d)\n": the source file's name, the
// reporting line, the text and the toolkit's code. TwainScan and FileConvert log every failing
// toolkit call this way (with the code of a second call, as the log convention asks).
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

inline std::string ToolkitErrorText(const char* sourcePath, int line, const std::string& text, int code) {
  const char* slash = std::strrchr(sourcePath, '/');
  const char* file = slash != nullptr ? slash + 1 : sourcePath;
  const int n = std::snprintf(nullptr, 0, "%s, %d->%s (error %d)\n", file, line, text.c_str(), code);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  std::snprintf(out.data(), out.size() + 1, "%s, %d->%s (error %d)\n", file, line, text.c_str(), code);
  return out;
}

#define TOOLKIT_ERROR(text, code) ToolkitErrorText(__FILE__, __LINE__, (text), (code))
