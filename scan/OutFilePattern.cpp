// Placeholders of "OutFile" (OutFilePattern.h).
#include "scan/OutFilePattern.h"

#include <cstdio>
#include <vector>

#include "log/DebugTrace.h"

namespace scanjob {

namespace {

// The counter gives up beyond this: a folder with that many names of one pattern is a mistake.
constexpr int kMaxCounter = 99999;

std::string Digits(int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

// One piece of the name: literal text, or the counter with its width.
struct Piece {
  std::string strText;
  int nCounterWidth = 0;  // 0: literal
};

std::vector<Piece> Parse(const std::string& name, const std::tm& now, DebugTrace& trace) {
  std::vector<Piece> pieces(1);
  for (size_t i = 0; i < name.size();) {
    const size_t close = name.compare(i, 2, "$(") == 0 ? name.find(')', i + 2) : std::string::npos;
    if (close == std::string::npos) {
      pieces.back().strText += name[i++];
      continue;
    }
    const std::string key = name.substr(i + 2, close - i - 2);
    std::string value;
    if (key == "YYYY")
      value = Digits(now.tm_year + 1900, 4);
    else if (key == "YY")
      value = Digits((now.tm_year + 1900) % 100, 2);
    else if (key == "MM")
      value = Digits(now.tm_mon + 1, 2);
    else if (key == "DD")
      value = Digits(now.tm_mday, 2);
    else if (key == "hh")
      value = Digits(now.tm_hour, 2);
    else if (key == "mm")
      value = Digits(now.tm_min, 2);
    else if (key == "ss")
      value = Digits(now.tm_sec, 2);
    if (!value.empty()) {
      pieces.back().strText += value;
    } else if (!key.empty() && key.size() <= 5 && key.find_first_not_of('n') == std::string::npos) {
      Piece counter;
      counter.nCounterWidth = static_cast<int>(key.size());
      pieces.push_back(counter);
      pieces.emplace_back();
    } else {
      trace.Write("Placeholder '$(" + key + ")' in OutFile is not known and stays as it is");
      pieces.back().strText += name.substr(i, close - i + 1);
    }
    i = close + 1;
  }
  return pieces;
}

std::string Join(const std::vector<Piece>& pieces, int counter) {
  std::string out;
  for (const Piece& piece : pieces)
    out += piece.nCounterWidth == 0 ? piece.strText : Digits(counter, piece.nCounterWidth);
  return out;
}

}  // namespace

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (const std::tm* converted = std::localtime(&now)) local = *converted;
  return local;
}

std::string ExpandOutFile(const std::string& outFile, const std::tm& now, size_t files,
                          const std::string& ext, const std::function<bool(const std::string&)>& exists,
                          DebugTrace& trace) {
  const size_t slash = outFile.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : outFile.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? outFile : outFile.substr(slash + 1);
  if (name.find("$(") == std::string::npos) return outFile;
  const std::vector<Piece> pieces = Parse(name, now, trace);
  std::string result;
  if (pieces.size() == 1) {
    result = folder + pieces.front().strText;
  } else {
    // Every name the job will write with counter n, numbered as MoveScanFiles numbers them.
    auto free = [&](int n) {
      std::string first = Join(pieces, n);
      if (first.find('.') == std::string::npos && !ext.empty()) first += "." + ext;
      const size_t dot = first.find_last_of('.');
      const std::string stem = dot == std::string::npos ? first : first.substr(0, dot);
      const std::string suffix = dot == std::string::npos ? std::string() : first.substr(dot);
      if (exists(folder + first)) return false;
      for (size_t i = 1; i < files; ++i)
        if (exists(folder + stem + std::to_string(i + 1) + suffix)) return false;
      return true;
    };
    int n = 1;
    while (n < kMaxCounter && !free(n)) ++n;
    result = folder + Join(pieces, n);
  }
  trace.WriteFormat("OutFile expanded to '%s'", result);
  return result;
}

}  // namespace scanjob
